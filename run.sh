#!/usr/bin/env bash
# Sets up a new Debian 12 machine with a display, builds Ferrotick and
# starts it. Usage: ./run.sh
set -euo pipefail
cd "$(dirname "$0")"

packages=(qt6-base-dev cmake ninja-build g++ libgl-dev fontconfig
          fonts-dejavu-core libcli11-dev nlohmann-json3-dev librsvg2-bin
          liburing-dev libaio-dev)
tools/install_packages.sh "${packages[@]}"

# The tests are built by ./test.sh; here only the program.
cmake -S . -B build -G Ninja -DFERROTICK_BUILD_UI=ON -DBUILD_TESTING=OFF
cmake --build build --target ferrotick
exec build/ferrotick
