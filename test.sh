#!/usr/bin/env bash
# Sets up a new Debian 12 machine, builds Ferrotick from scratch and runs
# every test. Usage: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev locales
          qt6-base-dev libgl-dev fontconfig fonts-dejavu-core
          xvfb xauth xdotool imagemagick x11-utils)
tools/install_packages.sh "${packages[@]}"

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 ${CTEST_ARGS:-}
