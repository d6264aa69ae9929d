#!/usr/bin/env bash
# Sets up a new Debian 12 machine, builds Ferrotick from scratch and runs
# every test. Usage: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev locales
          libcli11-dev nlohmann-json3-dev librsvg2-bin help2man
          qt6-base-dev libgl-dev fontconfig fonts-dejavu-core
          xvfb xauth xdotool imagemagick x11-utils
          dpkg-dev file desktop-file-utils)
# The package test checks the packages as a distribution would; devscripts
# has hardening-check.
packages+=(lintian devscripts appstream bash-completion)
# The loop-device tests make ext4 and btrfs images and attach them; the
# data tests compress what the runs write.
packages+=(e2fsprogs btrfs-progs mount zlib1g-dev)
# The disk profile queues its transfers through io_uring, or libaio.
packages+=(liburing-dev libaio-dev)
tools/install_packages.sh "${packages[@]}"

build=${BUILD_DIR:-build}
# Testing on even where ./run.sh configured this folder without it.
cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=ON ${CMAKE_ARGS:-}
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 ${CTEST_ARGS:-}
