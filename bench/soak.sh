#!/usr/bin/env bash
# Soak: the writer and the reader on one file at the same time for a bounded
# time, recording the log's memory and how quickly the window thread gets to
# the lines the workers hand it. Not part of CI.
#
# Usage: bench/soak.sh [--seconds N] [--file-mb M] [--buffer-kb B]
#                      [--dir D] [--flood N] [--out FILE]
#   --seconds N   length of the soak on a real file (default 120)
#   --file-mb M   File Size of that file (default 32)
#   --buffer-kb B Buffer Size (default 128)
#   --dir D       where the file goes (default $TMPDIR or /tmp)
#   --flood N     then N seconds on an empty file, File Size 0 (default 0:
#                 skipped), the case where passes move nothing
#   --out FILE    also write the Markdown report to FILE
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=120 file_mb=32 buffer_kb=128 dir=${TMPDIR:-/tmp} flood=0 out=
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --file-mb) file_mb=$2; shift 2 ;;
    --buffer-kb) buffer_kb=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --flood) flood=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) sed -n '2,15p' "$0" >&2; exit 2 ;;
  esac
done

build=${BUILD_DIR:-build-soak}
cmake -S . -B "$build" -G Ninja -DFERROTICK_BUILD_UI=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" ferrotick-soak >/dev/null
driver=$build/tests/stress/ferrotick-soak
sample=$((seconds >= 60 ? 10 : 2))

report() {
  echo "Soak of $(git rev-parse --short HEAD 2>/dev/null || echo '?') on" \
    "$(nproc) CPUs, file system of $dir: $(df -T "$dir" | awk 'NR==2 {print $2}')," \
    "$(date -u +%Y-%m-%d)."
  echo
  "$driver" --seconds "$seconds" --file-mb "$file_mb" --buffer-kb "$buffer_kb" \
    --dir "$dir" --sample-seconds "$sample"
  if ((flood > 0)); then
    "$driver" --seconds "$flood" --buffer-kb "$buffer_kb" --dir "$dir" \
      --sample-seconds $((flood >= 60 ? 10 : 2)) --empty
  fi
}

if [[ -n $out ]]; then
  report | tee "$out"
else
  report
fi
