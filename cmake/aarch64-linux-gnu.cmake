# Cross build for the device (64-bit Arm, glibc) from a Debian machine with Debian's cross
# compiler (g++-aarch64-linux-gnu). The arm64 libraries and headers come from one of:
#   - a sysroot, such as a device SDK's or the one tests/packaging/make-arm64-sysroot makes:
#     -DBLE_ARM64_SYSROOT=DIR;
#   - this machine, with the arm64 architecture added to dpkg (scripts/cross-arm64 does that).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Debian's multiarch layout: arm64 libraries, pkg-config files and CMake packages live
# under lib/aarch64-linux-gnu, next to the build machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(BLE_ARM64_SYSROOT "" CACHE PATH "Root of the arm64 libraries and headers; empty: this machine's multiarch ones")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BLE_ARM64_SYSROOT)
# Programs such as pkg-config run on this machine; libraries and headers are looked for in the
# sysroot first, then where CMAKE_PREFIX_PATH and the defaults say (the platform's directory).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
if(BLE_ARM64_SYSROOT)
  set(CMAKE_SYSROOT ${BLE_ARM64_SYSROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${BLE_ARM64_SYSROOT})
endif()
set(ENV{PKG_CONFIG_LIBDIR}
  "${BLE_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${BLE_ARM64_SYSROOT}/usr/share/pkgconfig")
# Tests run under user-mode emulation, which loads their libraries from the sysroot; ctest wraps
# them itself. The build runs nothing it builds, so a toolchain file without an emulator (as
# Yocto's and Buildroot's are) builds the same.
if(BLE_ARM64_SYSROOT)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${BLE_ARM64_SYSROOT})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
endif()
