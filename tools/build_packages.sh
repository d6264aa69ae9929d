#!/usr/bin/env bash
# Builds the Debian packages as a distribution builds them: with
# dpkg-buildflags' hardening (all of it) at -O2, CMAKE_BUILD_TYPE=None so
# that CMake adds no flags of its own, without the tests, with the debug
# symbols in -dbgsym packages, and with every timestamp taken from the last
# commit, so that two builds of one commit give the same bytes.
# Usage: tools/build_packages.sh [BUILD_DIR [OUT_DIR]]
#   BUILD_DIR defaults to build-package, OUT_DIR to BUILD_DIR/packages.
#   FERROTICK_PACKAGE_MAINTAINER="Name <address>" names the maintainer.
#   Further CMake options can be given in CMAKE_ARGS.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-package}")
out=$(realpath -m "${2:-$build/packages}")
umask 022
export LC_ALL=C.UTF-8 TZ=UTC

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  if git -C "$src" rev-parse --verify -q HEAD >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
  else
    # A tree without its history: the date of the newest changelog entry.
    SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p;T;q' \
      "$src/packaging/changelog.in")" +%s)
  fi
fi
export SOURCE_DATE_EPOCH

# dpkg-buildflags maps the source folder (the folder it runs in) out of the
# objects; the build folder is mapped too, so it may be anywhere. CMake
# reads no CPPFLAGS, so they go with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(cd "$src" && dpkg-buildflags --export=sh)"
# dpkg before 1.22 (Debian 12) lacks the stackclash feature of
# hardening=+all; add the flag it adds for it where it has not. (Its branch
# feature, -fcf-protection, is left out: Debian 12's C start files are not
# built for it, so the linker would drop the marking all the same.)
features=$(dpkg-buildflags --query-features hardening)
if ! grep -qx 'Feature: stackclash' <<<"$features"; then
  case $(dpkg-architecture -qDEB_HOST_ARCH) in
    amd64 | arm64 | armel | armhf | i386 | ppc64el | riscv64 | s390x)
      CPPFLAGS+=" -fstack-clash-protection" ;;
  esac
fi
export CXXFLAGS="$CXXFLAGS $CPPFLAGS -ffile-prefix-map=$build=."
export CFLAGS="$CFLAGS $CPPFLAGS -ffile-prefix-map=$build=."

maintainer=()
if [[ -n ${FERROTICK_PACKAGE_MAINTAINER:-} ]]; then
  maintainer=("-DFERROTICK_PACKAGE_MAINTAINER=$FERROTICK_PACKAGE_MAINTAINER")
fi
# shellcheck disable=SC2086  # CMAKE_ARGS is a list of words
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF "${maintainer[@]}" \
  ${CMAKE_ARGS:-}
cmake --build "$build" --parallel "${JOBS:-$(nproc)}"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out")
rm -rf "$out/_CPack_Packages"
ls "$out"
