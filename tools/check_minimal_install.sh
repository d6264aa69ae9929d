#!/usr/bin/env bash
# Installs the ferrotick-cli package into a fresh minimal Debian 12 system
# (debootstrap --variant=minbase, in a throwaway folder) and checks that it
# brings in nothing but liburing2 and libaio1, no Qt or X package above all,
# and that a
# measurement runs there. Needs root and a Debian mirror, so CI does not run
# it. Usage: tools/check_minimal_install.sh PACKAGE.deb [MIRROR]
set -euo pipefail
deb=$(realpath "$1")
mirror=${2:-http://deb.debian.org/debian}

root=$(mktemp -d "${TMPDIR:-/tmp}/ferrotick-minbase-XXXXXX")
cleanup() {
  mountpoint -q "$root/proc" && umount "$root/proc"
  rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.log" 2>&1 \
  || { tail -n 20 "$root.log"; rm -f "$root.log"; fail "debootstrap"; }
rm -f "$root.log"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
mount -t proc proc "$root/proc"

# shellcheck disable=SC2016  # a dpkg-query format, not a shell expansion
installed() { chroot "$root" dpkg-query -W -f='${Package}\n' | sort; }
installed > "$root/tmp/before"
chroot "$root" apt-get update -qq
chroot "$root" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq "/tmp/$(basename "$deb")" > /dev/null
installed > "$root/tmp/after"
added=$(comm -13 "$root/tmp/before" "$root/tmp/after")
echo "packages added: $added"
# Besides itself only the libraries of the profile's queued transfers.
for name in $added; do
  case $name in
    ferrotick-cli | liburing2 | libaio1) ;;
    *) fail "installing it added: $added" ;;
  esac
done

mkdir -p "$root/tmp/measure"
chroot "$root" ferrotick-cli measure /tmp/measure --size 8 \
  || fail "ferrotick-cli measure did not run"
echo "minimal install ok"
