# Cross-compiles for 64-bit ARM Linux with Debian's aarch64 toolchain; the arm64 packages of the
# dependencies come from Debian's multiarch (dpkg --add-architecture arm64). Programs built with
# it run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Only the arm64 pkg-config files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
# Lets CMake (test discovery, ctest) run the binaries it builds.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
