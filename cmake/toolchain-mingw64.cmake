# Cross-compiling for Windows x86-64 with Debian's MinGW-w64 (the posix
# thread model, which std::thread and std::mutex need), running what the
# build makes under Wine:
#   cmake -S . -B build-windows --toolchain cmake/toolchain-mingw64.cmake
# or the `windows` preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_morv_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_morv_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_morv_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_morv_mingw}-windres)
set(CMAKE_AR ${_morv_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_morv_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

# Headers and libraries come from the MinGW-w64 tree only; programs (the
# build's own tools) from the host; CMake packages from there or from the
# prefixes given (CMAKE_PREFIX_PATH), such as an unpacked morv_conv package.
set(CMAKE_FIND_ROOT_PATH /usr/${_morv_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs the build runs (tests, try_run, conversions at build time) run
# under Wine through scripts/wine-run.sh, headless, in a Wine prefix of the
# build tree's own.
get_filename_component(_morv_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_morv_source_dir}/scripts/wine-run.sh"
                                  "${CMAKE_BINARY_DIR}/wine-prefix")
