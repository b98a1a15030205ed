# Cross build for 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu):
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#       -DBUILD_TESTING=OFF
#
# Libraries and packages are looked for only in the target's trees, so the build machine's Qt,
# GoogleTest and Google Benchmark are never picked up: the program is built without its window.
# OpenSSL comes from Debian's arm64 package (scripts/setup --cross aarch64 installs it). Programs built here run on the build machine under qemu-aarch64
# (Debian: qemu-user), which CMake and CTest use to run test programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(QM_TARGET_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${QM_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QM_TARGET_TRIPLET}-g++)

# The cross toolchain's own tree, and the system's for Debian's multiarch packages of the target
# (libssl-dev:arm64: /usr/include/aarch64-linux-gnu, /usr/lib/aarch64-linux-gnu); in the latter
# only the target's architecture directories hold libraries and package files for it.
set(CMAKE_FIND_ROOT_PATH /usr/${QM_TARGET_TRIPLET} /)
set(CMAKE_LIBRARY_ARCHITECTURE ${QM_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The emulated programs take the C library from the cross toolchain's tree, beside its loader: the
# multiarch libc6:arm64 that libssl-dev:arm64 brings may be of another version.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${QM_TARGET_TRIPLET}
    -E LD_LIBRARY_PATH=/usr/${QM_TARGET_TRIPLET}/lib)

# pkg-config (which FindOpenSSL asks first) reads the target's package files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QM_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
