#!/usr/bin/env bash
# Starts the real program in a private X server, checks that its window
# appears with its caption and its template's proportions, saves a
# screenshot, checks the group boxes in it, and closes it with Escape.
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

# Group boxes as a classic dialog draws them: the frame's top line runs
# through the middle of the title (drawn from the box's top), the title is
# inset from the left and the line is broken behind it. Positions are in
# dialog units: 329 x 193 across the window; a title is 8 units high.
read -r shot_w shot_h < <(identify -format "%w %h" "$shot")
convert "$shot" -colorspace gray -depth 8 txt:- | awk -v W="$shot_w" -v H="$shot_h" '
  function X(du) { return int(du * W / 329 + 0.5) }
  function Y(du) { return int(du * H / 193 + 0.5) }
  function fault(text) { print "FAIL: group box " text; bad = 1 }
  # A box at gx, gy, gw wide, whose first control inside starts at y = first.
  function check(name, gx, gy, gw, first,    x0, x1, x, y, n, dark, line,
                 above, under, left, gap) {
    # The top line, right of any title and left of the log list.
    x0 = X(gx + 33); x1 = X(gx + gw - 3 < 75 ? gx + gw - 3 : 75)
    line = -1
    for (y = Y(gy) - 1; y < Y(first) && line < 0; y++) {
      dark = n = 0
      for (x = x0; x <= x1; x++) { n++; dark += g[x, y] < 215 }
      if (dark >= 0.9 * n) line = y
    }
    if (line < 0) { fault(name ": no top line above the controls in it"); return }
    if (line < Y(gy + 2) || line > Y(gy + 6))
      fault(name ": its top line (y " line ") does not run through the title")
    above = under = 0; left = 1e9
    for (y = Y(gy); y <= 2 * line - Y(gy); y++)
      for (x = X(gx); x < x0; x++)
        if (g[x, y] < 120) {
          above += y < line; under += y > line; if (x < left) left = x
        }
    if (!above || !under) fault(name ": no title across its top line")
    if (left <= X(gx) + 2) fault(name ": the title is not inset")
    gap = 0
    for (x = X(gx) + 2; x < left; x++) gap += g[x, line] >= 215
    if (!gap) fault(name ": the top line runs on behind the title")
  }
  NR > 1 {
    split($1, at, /[,:]/); v = $2; gsub(/[^0-9,]/, "", v); split(v, c, ",")
    g[at[1], at[2]] = c[1]
  }
  END {
    check("Setup", 7, 3, 68, 13)
    check("Tests", 7, 105, 68, 116)
    check("Misc", 7, 156, 315, 166)
    exit bad
  }' || fail "group boxes are not drawn as a classic dialog draws them"
echo "group boxes: titles on their frames"

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
