# Fails when PROGRAM needs a network library among its shared libraries
# (libcurl or anything libcurl pulls in: TLS, crypto, Kerberos, LDAP, SSH,
# RTMP, HTTP/2, IDN, PSL, and the compression and support libraries behind
# them), or, linked statically, carries one of Xerces-C's network accessors.
# The reader refuses network addresses itself; building without a network
# accessor keeps the code for it out of the process altogether.
#   cmake -DPROGRAM=<executable> -P no_network_libraries.cmake
set(network_libraries
  curl nghttp2 nghttp3 ngtcp2 rtmp ssh ssh2 psl idn2 idn
  gnutls nettle hogweed gmp tasn1 p11-kit unistring ssl crypto
  gssapi_krb5 krb5 krb5support k5crypto com_err keyutils
  ldap lber sasl2 resolv brotlidec brotlicommon zstd z ffi)

# Every shared library the program needs, directly or through another one,
# as the dynamic loader would find it.
file(GET_RUNTIME_DEPENDENCIES EXECUTABLES "${PROGRAM}"
     RESOLVED_DEPENDENCIES_VAR paths UNRESOLVED_DEPENDENCIES_VAR unresolved)
if(unresolved)
  message(FATAL_ERROR "${PROGRAM} needs libraries that cannot be found: ${unresolved}")
endif()
# A static program needs none: the network code would be inside it, brought
# by Xerces-C's network accessors (libcurl's or its own sockets).
if(NOT paths)
  file(STRINGS "${PROGRAM}" accessors REGEX "(Curl|Socket)NetAccessor|curl_easy_init"
       LIMIT_COUNT 1)
  if(accessors)
    message(FATAL_ERROR "${PROGRAM} carries network code: ${accessors}")
  endif()
  message(STATUS "${PROGRAM} is static and carries no network accessor")
  return()
endif()
set(names)
foreach(path IN LISTS paths)
  get_filename_component(name "${path}" NAME)
  list(APPEND names "${name}")
endforeach()
# A list without the C library is not a list of shared libraries.
if(NOT names MATCHES "(^|;)libc\\.so")
  message(FATAL_ERROR "no C library among the libraries of ${PROGRAM}: ${names}")
endif()

set(found)
foreach(name IN LISTS names)
  foreach(library IN LISTS network_libraries)
    if(name MATCHES "^lib${library}[-.]")
      list(APPEND found "${name}")
      break()
    endif()
  endforeach()
endforeach()
if(found)
  list(JOIN found " " found)
  message(FATAL_ERROR "${PROGRAM} needs network libraries: ${found}")
endif()
list(JOIN names " " names)
message(STATUS "${PROGRAM} needs only: ${names}")
