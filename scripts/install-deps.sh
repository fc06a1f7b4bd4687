#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with, when any is
# missing. Runs apt-get as root (directly, or through sudo when available).
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config
  python3 python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed
  # Python vision modules: the people detector example and the tests use OpenCV's Python
  # binding; the example's clip is made from a walking-people video in OpenCV's examples.
  python3-opencv opencv-doc
  libboost-dev libboost-thread-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libhwy-dev libyuv-dev libopencv-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  clang libclang-rt-14-dev
  ccache doxygen
  # The tool's command line.
  libcli11-dev
  # Remote cameras: ZeroMQ with its C++ header, MessagePack, zstd and TurboJPEG.
  libzmq3-dev cppzmq-dev libmsgpack-cxx-dev libzstd-dev libturbojpeg0-dev
  # The capture source runs GStreamer pipelines itself; the live-camera tests use
  # videotestsrc pipelines (clips are made with ffmpeg, above).
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-tools
  # The web viewer (cpp-httplib) and its tests in a real browser: headless Chromium driven by
  # Selenium (python3-opencv, above, reads the screenshots).
  libcpp-httplib-dev chromium chromium-driver python3-selenium
  # The ARM lane (scripts/arm-lane.sh): cross toolchain, emulator, arm64 libraries (multiarch).
  g++-aarch64-linux-gnu qemu-user libhwy-dev:arm64 libgtest-dev:arm64
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "error: packages missing (${missing[*]}) and not running as root" >&2
    exit 1
  fi
fi
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${as_root[@]}" dpkg --add-architecture arm64
fi
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
