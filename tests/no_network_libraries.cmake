# Fails when PROGRAM needs a network library among its shared libraries:
# libcurl or anything libcurl pulls in (TLS, crypto, Kerberos, LDAP, SSH,
# RTMP, HTTP/2, IDN, PSL, and the compression and support libraries behind
# them). The reader refuses network addresses itself; building without a
# network accessor keeps the code for it out of the process altogether.
#   cmake -DPROGRAM=<executable> -P no_network_libraries.cmake
set(network_libraries
  curl nghttp2 nghttp3 ngtcp2 rtmp ssh ssh2 psl idn2 idn
  gnutls nettle hogweed gmp tasn1 p11-kit unistring ssl crypto
  gssapi_krb5 krb5 krb5support k5crypto com_err keyutils
  ldap lber sasl2 resolv brotlidec brotlicommon zstd z ffi)

execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed (${status})")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*([^ \t]+)")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
# A listing without the C library is not a listing of shared libraries.
if(NOT names MATCHES "(^|;)libc\\.so")
  message(FATAL_ERROR "ldd ${PROGRAM} listed no C library:\n${listing}")
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
