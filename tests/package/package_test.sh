#!/usr/bin/env bash
# Makes the .deb with CPack into a folder of its own, lists it, unpacks it
# into a throwaway root and checks the programs, the desktop entry, the
# icons and the man pages there.
# Usage: package_test.sh CPACK CPACK_CONFIG VERSION
set -euo pipefail
cpack=$1 config=$2 version=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrotick-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$config" -B "$work/out" > "$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/out/ferrotick_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $(basename "$deb") in: $(ls "$work/out")"

dpkg-deb -c "$deb" | awk '{print $NF}' > "$work/contents"
icons=./usr/share/icons/hicolor
expected=(./usr/bin/ferrotick ./usr/bin/ferrotick-cli
          ./usr/share/applications/ferrotick.desktop
          ./usr/share/man/man1/ferrotick.1.gz
          ./usr/share/man/man1/ferrotick-cli.1.gz
          $icons/scalable/apps/ferrotick.svg)
for size in 16 32 48 64 128 256; do
  expected+=("$icons/${size}x${size}/apps/ferrotick.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done

# Found by dpkg-shlibdeps from the programs themselves.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
out=$("$root/usr/bin/ferrotick-cli" --version)
[[ $out == "ferrotick-cli $version" ]] || fail "--version said: $out"
"$root/usr/bin/ferrotick-cli" create "$work/t.tmp" --size 1 > "$work/run.log" \
  || fail "the installed ferrotick-cli could not make a 1 MB file"

# No errors and no hints either.
hints=$(desktop-file-validate "$root/usr/share/applications/ferrotick.desktop" 2>&1) \
  || fail "desktop-file-validate: $hints"
[[ -z $hints ]] || fail "desktop-file-validate: $hints"

for size in 16 32 48 64 128 256; do
  info=$(file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/ferrotick.png")
  [[ $info == "PNG image data, $size x $size,"* ]] \
    || fail "the ${size} px icon is: $info"
done
for page in ferrotick ferrotick-cli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.SH NAME" \
    || fail "$page.1.gz is no man page"
done
echo "package ok: $(basename "$deb")"
