#!/usr/bin/env bash
# Starts the real program in a private X server, checks that its window
# appears with its caption and its template's proportions, saves a
# screenshot, and closes it with Escape.
#
# Usage: smoke.sh PROGRAM OUTPUT_DIR
# Exits 77 (a skip for CTest) when the X tools are missing.
set -u

program=$1
outdir=$2
skip=77

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit "$skip"
  fi
done
if command -v import >/dev/null 2>&1; then
  shooter=import
elif command -v xwd >/dev/null 2>&1 && command -v convert >/dev/null 2>&1; then
  shooter=xwd
else
  echo "SKIP: neither ImageMagick's import nor xwd is installed"
  exit "$skip"
fi

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# Xvfb picks a free display itself and reports it: no race with others.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# The program writes nothing unless asked, but start it in a scratch folder.
(cd "$work" && exec "$program") >"$work/app.log" 2>&1 &
app_pid=$!

title="Vexa - Ferrotick"
window=
for _ in $(seq 150); do
  window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "program ended early: $(cat "$work/app.log")"
  sleep 0.1
done
[ -n "$window" ] || fail "no window named '$title' appeared"
echo "window $window"

# Let it map and paint before measuring and shooting.
for _ in $(seq 50); do
  xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$window")"
echo "geometry ${WIDTH}x${HEIGHT}"
[ "${WIDTH:-0}" -ge 300 ] && [ "${HEIGHT:-0}" -ge 150 ] ||
  fail "window too small for readable text: ${WIDTH}x${HEIGHT}"
# 329 x 193 dialog units; a unit's width over its height is half the base
# width over a quarter of the base height, which for any common sans font
# puts the ratio between about 1.4 and 2.0 (1.70 when base height = 2 x base
# width).
ratio_ok=$(awk -v w="$WIDTH" -v h="$HEIGHT" \
  'BEGIN { r = w / h; print (r >= 1.4 && r <= 2.0) ? 1 : 0 }')
[ "$ratio_ok" = 1 ] || fail "proportions ${WIDTH}x${HEIGHT} are not the template's"

shot="$outdir/ferrotick-screenshot.png"
rm -f "$shot"
if [ "$shooter" = import ]; then
  import -window "$window" "$shot" || fail "import failed"
else
  xwd -silent -id "$window" | convert xwd:- "$shot" || fail "xwd failed"
fi
[ -s "$shot" ] || fail "no screenshot"
echo "screenshot $shot"

xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --clearmodifiers Escape
for _ in $(seq 50); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  fail "Escape did not end the program"
fi
wait "$app_pid"
status=$?
app_pid=
[ "$status" = 0 ] || fail "program ended with status $status: $(cat "$work/app.log")"
echo "PASS"
