#!/usr/bin/env bash
# Soak: the writer and the reader on one file at the same time for a bounded
# time. First the core alone, recording the log's memory and how quickly the
# window thread gets to the lines the workers hand it; then the real dialog
# (offscreen), pressing its own buttons, on a 1 MB file and on a 32 MB file,
# recording resident memory and the longest event-loop stall. Not part of
# CI.
#
# Usage: bench/soak.sh [--seconds N] [--file-mb M] [--buffer-kb B]
#                      [--dir D] [--flood N] [--dialog-seconds N] [--out FILE]
#   --seconds N   length of the core soak on a real file (default 120;
#                 0 skips it)
#   --file-mb M   File Size of that file (default 32)
#   --buffer-kb B Buffer Size (default 128)
#   --dir D       where the files go (default $TMPDIR or /tmp)
#   --flood N     then N seconds of the core on an empty file, File Size 0
#                 (default 0: skipped), where passes move nothing
#   --dialog-seconds N
#                 length of each dialog soak (default 600; 0 skips them)
#   --out FILE    also write the Markdown report to FILE
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=120 file_mb=32 buffer_kb=128 dir=${TMPDIR:-/tmp} flood=0
dialog_seconds=600 out=
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --file-mb) file_mb=$2; shift 2 ;;
    --buffer-kb) buffer_kb=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --flood) flood=$2; shift 2 ;;
    --dialog-seconds) dialog_seconds=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) sed -n '2,21p' "$0" >&2; exit 2 ;;
  esac
done

# The benchmark project builds the product as a subdirectory, so one build
# holds both the core's driver and the dialog's.
build=${BUILD_DIR:-build-soak}
ui=OFF
if ((dialog_seconds > 0)); then ui=ON; fi
cmake -S bench -B "$build" -G Ninja -DFERROTICK_BUILD_UI=$ui \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(ferrotick-soak)
if [[ $ui == ON ]]; then targets+=(dialog_bench); fi
if ! built=$(ninja -C "$build" "${targets[@]}" 2>&1); then
  echo "$built" >&2
  exit 1
fi
driver=$build/ferrotick/tests/stress/ferrotick-soak
dialog=$build/dialog_bench
sample=$((seconds >= 60 ? 10 : 2))

report() {
  echo "Soak of $(git rev-parse --short HEAD 2>/dev/null || echo '?') on" \
    "$(nproc) CPUs, file system of $dir: $(df -T "$dir" | awk 'NR==2 {print $2}')," \
    "$(date -u +%Y-%m-%d); load average at the start:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)."
  echo
  local status=0
  if ((seconds > 0)); then
    "$driver" --seconds "$seconds" --file-mb "$file_mb" \
      --buffer-kb "$buffer_kb" --dir "$dir" --sample-seconds "$sample" ||
      status=1
  fi
  if ((flood > 0)); then
    "$driver" --seconds "$flood" --buffer-kb "$buffer_kb" --dir "$dir" \
      --sample-seconds $((flood >= 60 ? 10 : 2)) --empty || status=1
  fi
  if ((dialog_seconds > 0)); then
    local runtime
    runtime=$(mktemp -d)
    for mb in 1 32; do
      QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$runtime "$dialog" soak \
        --seconds "$dialog_seconds" --file-mb "$mb" --buffer-kb "$buffer_kb" \
        --dir "$dir" --sample-seconds $((dialog_seconds >= 60 ? 10 : 2)) ||
        status=1
      echo "Load average after it: $(cut -d' ' -f1-3 /proc/loadavg)."
      echo
    done
    rm -rf "$runtime"
  fi
  return $status
}

if [[ -n $out ]]; then
  report | tee "$out"
else
  report
fi
