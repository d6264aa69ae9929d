#!/usr/bin/env bash
# Sets up a new Debian 12 machine with a display, builds Ferrotick and
# starts it. Usage: ./run.sh
set -euo pipefail
cd "$(dirname "$0")"

# GoogleTest only because configuring the tree also configures its tests.
packages=(qt6-base-dev cmake ninja-build g++ libgl-dev fontconfig
          fonts-dejavu-core libgtest-dev libgmock-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || {
      echo "run.sh: need root or sudo to install ${missing[*]}" >&2
      exit 1
    }
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

# The dialog's tests are built by ./test.sh; here only the program.
cmake -S . -B build -G Ninja -DFERROTICK_BUILD_UI=ON
cmake --build build --target ferrotick
exec build/ferrotick
