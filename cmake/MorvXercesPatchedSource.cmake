# Script mode: makes the source tree the lean Xerces-C is built from.
#
#   cmake -DSOURCE=<unpacked package> -DTARGET=<dir> -DPATCH=<patch program>
#         -DPATCHES=<patch;...> -P MorvXercesPatchedSource.cmake
#
# A fresh copy of the unpacked source package, with the project's own
# patches (cmake/xerces-patches/) applied in order. The package itself is
# shared by every build tree and stays as it is; every run starts again
# from it, so that a changed patch never meets a tree another one has
# already patched.

foreach(_variable SOURCE TARGET PATCH)
  if(NOT ${_variable})
    message(FATAL_ERROR "MorvXercesPatchedSource.cmake: ${_variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${TARGET}")
file(COPY "${SOURCE}/" DESTINATION "${TARGET}")

foreach(_patch IN LISTS PATCHES)
  execute_process(COMMAND "${PATCH}" -p1 --batch --forward --silent -i "${_patch}"
                  WORKING_DIRECTORY "${TARGET}"
                  RESULT_VARIABLE _status
                  OUTPUT_VARIABLE _output
                  ERROR_VARIABLE _output)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "${_patch} does not apply to ${SOURCE}:\n${_output}")
  endif()
  message(STATUS "applied ${_patch}")
endforeach()
