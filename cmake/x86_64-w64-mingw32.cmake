# Cross build for 64-bit Windows (10 and later) with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
#
# What it shares with the 32-bit build is in mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_TARGET_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
