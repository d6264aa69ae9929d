#!/usr/bin/env bash
# Sets up a new Debian 12 machine with a display, builds Ferrotick and
# starts it. Usage: ./run.sh
set -euo pipefail
cd "$(dirname "$0")"

# GoogleTest only because configuring the tree also configures its tests.
packages=(qt6-base-dev cmake ninja-build g++ libgl-dev fontconfig
          fonts-dejavu-core libgtest-dev libgmock-dev
          libcli11-dev nlohmann-json3-dev librsvg2-bin)
tools/install_packages.sh "${packages[@]}"

# The dialog's tests are built by ./test.sh; here only the program.
cmake -S . -B build -G Ninja -DFERROTICK_BUILD_UI=ON
cmake --build build --target ferrotick
exec build/ferrotick
