# Whether programs are linked with their run-time libraries inside, and
# morv_static_program(<target>).
#
# MORV_STATIC_RUNTIME is true where a static, position-independent program
# built with the flags in effect links and runs. It is false with the flags
# of AddressSanitizer, ThreadSanitizer or libFuzzer, whether they come from
# CMAKE_CXX_FLAGS and CMAKE_EXE_LINKER_FLAGS (as CI systems, fuzzing services
# and distributions pass theirs) or from MORV_BUILD_FUZZ: their run-time
# libraries need the dynamic loader and the shared C++ run-time beside them,
# to see every allocation. It is false when cross-compiling too (the Windows
# build links statically its own way).
include(CheckCXXSourceRuns)

set(MORV_STATIC_RUNTIME OFF)
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT MORV_BUILD_FUZZ)
  # One answer for each set of flags, so that a build tree configured anew
  # with other flags asks again.
  string(MD5 _morv_flags "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}")
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_runs("int main() { return 0; }" MORV_STATIC_PIE_RUNS_${_morv_flags})
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  unset(CMAKE_REQUIRED_QUIET)
  set(MORV_STATIC_RUNTIME ${MORV_STATIC_PIE_RUNS_${_morv_flags}})
endif()

# Links a program built on the lean static Xerces-C as one static,
# position-independent executable, where MORV_STATIC_RUNTIME allows. Such a
# program starts without the dynamic loader: no shared C library to find,
# map and relocate, no mappings made and changed at start-up, and the
# address space is still laid out at random.
function(morv_static_program target)
  if(NOT TARGET morv_xerces_lean OR NOT MORV_STATIC_RUNTIME)
    return()
  endif()
  set_property(TARGET ${target} PROPERTY MORV_STATIC_PROGRAM ON)
  target_link_libraries(${target} PRIVATE morv_no_dynamic_loading)
  target_link_options(${target} PRIVATE -static-pie "LINKER:--wrap=dlopen")
endfunction()
