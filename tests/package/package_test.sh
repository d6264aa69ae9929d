#!/usr/bin/env bash
# Builds the Debian packages twice as tools/build_packages.sh makes them and
# checks them as a distribution would: the two builds give the same bytes,
# lintian finds nothing, both programs are hardened and stripped with their
# symbols in the -dbgsym packages, ferrotick-cli needs no Qt or X library,
# and the metadata, man pages and completion installed are valid and work.
# Usage: package_test.sh SOURCE_DIR VERSION
set -euo pipefail
src=$1 version=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrotick-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Two builds of the same tree in different folders.
for build in a b; do
  JOBS=2 "$src/tools/build_packages.sh" "$work/$build" > "$work/$build.log" 2>&1 \
    || { tail -n 40 "$work/$build.log"; fail "the package build in $build"; }
done
arch=$(dpkg --print-architecture)
packages=(ferrotick-cli ferrotick ferrotick-cli-dbgsym ferrotick-dbgsym)
debs=()
for package in "${packages[@]}"; do
  debs+=("$work/a/packages/${package}_${version}_$arch.deb")
done
for deb in "${debs[@]}"; do
  [[ -f $deb ]] || fail "no $(basename "$deb") in: $(ls "$work/a/packages")"
  cmp -s "$deb" "$work/b/packages/$(basename "$deb")" \
    || fail "two builds gave different $(basename "$deb")"
done
[[ $(ls "$work/a/packages") == $(ls "$work/b/packages") ]] \
  || fail "the builds made different packages"
cli_deb=${debs[0]} window_deb=${debs[1]}

lintian --fail-on error,warning "${debs[@]}" > "$work/lintian" 2>&1 \
  || { cat "$work/lintian"; fail "lintian"; }

contents() { dpkg-deb -c "$1" | awk '{print $NF}'; }
doc=./usr/share/doc
expect() {
  local deb=$1 path
  shift
  for path in "$@"; do
    contents "$deb" | grep -qxF "$path" \
      || fail "$(basename "$deb") lacks $path"
  done
}
expect "$cli_deb" ./usr/bin/ferrotick-cli \
  ./usr/share/man/man1/ferrotick-cli.1.gz \
  ./usr/share/bash-completion/completions/ferrotick-cli \
  "$doc/ferrotick-cli/copyright" "$doc/ferrotick-cli/changelog.gz"
icons=./usr/share/icons/hicolor
window_files=(./usr/bin/ferrotick ./usr/share/man/man1/ferrotick.1.gz
  ./usr/share/applications/ferrotick.desktop
  ./usr/share/metainfo/invalid.ferrotick.ferrotick.metainfo.xml
  "$icons/scalable/apps/ferrotick.svg"
  "$doc/ferrotick/copyright" "$doc/ferrotick/changelog.gz")
for size in 16 32 48 64 128 256; do
  window_files+=("$icons/${size}x${size}/apps/ferrotick.png")
done
expect "$window_deb" "${window_files[@]}"
if contents "$cli_deb" | grep -E 'ferrotick\.desktop|icons|/usr/bin/ferrotick$'; then
  fail "ferrotick-cli holds files of the window"
fi

# Found by dpkg-shlibdeps from the programs: the command line needs only
# the C and C++ runtime and, for the profile's queued transfers, liburing
# and libaio; the window Qt, and neither of those two.
cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
read -ra names <<<"$(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$cli_depends")"
for name in "${names[@]}"; do
  case $name in
    libc6 | libgcc-s1 | libstdc++6 | liburing2 | libaio1 | libaio1t64) ;;
    *) fail "ferrotick-cli depends on $name: $cli_depends" ;;
  esac
done
for name in liburing2 libaio1; do
  [[ $cli_depends == *$name* ]] || fail "ferrotick-cli lacks $name: $cli_depends"
  [[ $(dpkg-deb -f "$window_deb" Depends) != *$name* ]] \
    || fail "ferrotick depends on $name"
done
[[ $(dpkg-deb -f "$window_deb" Depends) == *libqt6widgets6* ]] \
  || fail "ferrotick does not depend on Qt Widgets"
[[ $(dpkg-deb -f "$window_deb" Recommends) == ferrotick-cli ]] \
  || fail "ferrotick does not recommend ferrotick-cli"

root=$work/root
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done

# Hardened, stripped, and the symbols where gdb finds them by build ID.
# Control-flow protection is not asked for: Debian 12's C start files are
# not built for it, so no program linked there carries it.
for program in ferrotick ferrotick-cli; do
  binary=$root/usr/bin/$program
  report=$(hardening-check --nocfprotection "$binary") \
    || fail "hardening-check: $report"
  id=$(readelf -n "$binary" | sed -n 's/.*Build ID: //p')
  [[ -n $id ]] || fail "$program has no build ID"
  readelf -S "$binary" | grep -q '\.debug_info' && fail "$program is not stripped"
  debug=$root/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  readelf -S "$debug" 2>/dev/null | grep -q '\.debug_info' \
    || fail "no debug symbols for $program at $debug"
done

out=$("$root/usr/bin/ferrotick-cli" --version)
[[ $out == "ferrotick-cli $version" ]] || fail "--version said: $out"
"$root/usr/bin/ferrotick-cli" create "$work/t.tmp" --size 1 > "$work/run.log" \
  || fail "the installed ferrotick-cli could not make a 1 MB file"

for package in ferrotick ferrotick-cli; do
  copyright=$root/usr/share/doc/$package/copyright
  for notice in "2026 Vexa" "University of Cincinnati" "Niels Lohmann"; do
    grep -qF "$notice" "$copyright" || fail "$copyright lacks $notice"
  done
done

# No errors and no hints either.
hints=$(desktop-file-validate "$root/usr/share/applications/ferrotick.desktop" 2>&1) \
  || fail "desktop-file-validate: $hints"
[[ -z $hints ]] || fail "desktop-file-validate: $hints"
appstreamcli validate --no-net \
  "$root/usr/share/metainfo/invalid.ferrotick.ferrotick.metainfo.xml" \
  > "$work/appstream" 2>&1 || { cat "$work/appstream"; fail "appstreamcli"; }

for size in 16 32 48 64 128 256; do
  info=$(file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/ferrotick.png")
  [[ $info == "PNG image data, $size x $size,"* ]] \
    || fail "the ${size} px icon is: $info"
done
zcat "$root/usr/share/man/man1/ferrotick.1.gz" | grep -q '^\.SH NAME' \
  || fail "ferrotick.1.gz is no man page"
page=$(zcat "$root/usr/share/man/man1/ferrotick-cli.1.gz")
for section in NAME '"EXIT STATUS"' '"JSON OUTPUT"' EXAMPLES '"SEE ALSO"'; do
  grep -qx "\.SH $section" <<<"$page" || fail "ferrotick-cli.1 lacks $section"
done
for see in ferrotick fio dd; do
  grep -q "^\.BR $see (1)" <<<"$page" || fail "ferrotick-cli.1 does not name $see(1)"
done

# bash-completion finds the completion where the package puts it, and it
# completes the commands and the values of --pattern.
completions=$(XDG_DATA_DIRS=$root/usr/share bash -c '
  source /usr/share/bash-completion/bash_completion
  __load_completion ferrotick-cli || exit 1
  complete_line() {
    COMP_LINE=$1 COMP_POINT=${#1} COMPREPLY=()
    read -ra COMP_WORDS <<<"$1"
    COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$(complete -p ferrotick-cli | sed "s/.*-F \([^ ]*\) .*/\1/")" \
      ferrotick-cli "" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "${COMPREPLY[*]}"
  }
  complete_line "ferrotick-cli"
  complete_line "ferrotick-cli write --pattern"')
[[ $completions == "measure create write read profile
letters random" ]] || fail "the completion gave: $completions"

echo "package ok: $(cd "$work/a/packages" && echo *)"
