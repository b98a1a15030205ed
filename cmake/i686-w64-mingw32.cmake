# Cross build for 32-bit Windows (10 and later, and 64-bit Windows through its 32-bit layer) with
# Debian's mingw-w64 (g++-mingw-w64-i686):
#
#   cmake -S . -B build-windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
#
# The programs run under the 32-bit wine (wine32). The carry-less checksum engines are x86-64 code
# and are not built here: their stand-ins leave the table engine to serve. What it shares with the
# 64-bit build is in mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QM_TARGET_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
