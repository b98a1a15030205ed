# What both Windows toolchain files (x86_64-w64-mingw32.cmake, i686-w64-mingw32.cmake) share; each
# sets CMAKE_SYSTEM_PROCESSOR and QM_TARGET_TRIPLET first.
#
# The compiler of the posix thread model: the default one (win32) has no std::thread. The programs
# are linked statically with the C++ runtime and winpthread, so that they run alone and import
# only system DLLs. Libraries and packages are looked for only in the target's tree, so the build
# machine's Qt, OpenSSL, GoogleTest and Google Benchmark are never picked up. Programs built here
# run on the build machine under wine, which CMake and CTest use to run test programs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QM_TARGET_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_TARGET_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_TARGET_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10 and later; wide-character system calls (UNICODE) at the edge.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE WIN32_LEAN_AND_MEAN
    NOMINMAX)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
