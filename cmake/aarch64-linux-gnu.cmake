# Cross build for the device (64-bit Arm, glibc) from a Debian machine with the arm64
# architecture added: scripts/cross-arm64 installs the toolchain and the arm64 libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Debian's multiarch layout: arm64 libraries, pkg-config files and CMake packages live
# under /usr/lib/aarch64-linux-gnu, next to the build machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
# Tests and helper programs run under user-mode emulation; ctest wraps them itself.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
