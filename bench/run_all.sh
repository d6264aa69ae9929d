#!/usr/bin/env bash
# Runs every benchmark and writes bench/RESULTS.md. Not run by CI.
#
# Usage: bench/run_all.sh [--quick] [FOLDER]
#   FOLDER  a folder on the disk to measure (default: a new one under
#           $TMPDIR or /tmp); needs about 1.1 GB free
#   --quick 256 MB files only, 3 pairs: a few minutes instead of ~1 hour
# FERROTICK_BENCH_BASELINE_CLI=PATH measures an earlier ferrotick-cli in the
# same rounds, for before and after; FERROTICK_BENCH_BASELINE_BUILD=DIR, an
# earlier build of this folder, its flood and dialog benchmarks.
# FERROTICK_BENCH_SIZES=256 leaves out the 1 GB files (default 256,1024);
# FERROTICK_BENCH_PROFILE=0 leaves out the disk profile (and its section).
set -euo pipefail

quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FERROTICK_BENCH_BUILD:-$root/build-bench}
if [ -n "${1:-}" ]; then
  mkdir -p "$1"
  disk=$(cd "$1" && pwd)/ferrotick-bench.$$
  mkdir "$disk"
else
  disk=$(mktemp -d "${TMPDIR:-/tmp}/ferrotick-bench.XXXXXX")
fi
trap 'rm -rf "$disk"' EXIT

ui=OFF
if pkg-config --exists Qt6Widgets 2>/dev/null || [ -d /usr/lib/x86_64-linux-gnu/cmake/Qt6Widgets ]; then
  ui=ON
fi
cmake -S "$here" -B "$build" -G Ninja -DFERROTICK_BUILD_UI=$ui >/dev/null
ninja -C "$build"

results=$build/results
mkdir -p "$results"
rm -f "$results"/*.jsonl
git -C "$root" rev-parse --short HEAD >"$results/commit" 2>/dev/null || true
cli=$build/ferrotick/ferrotick-cli

baseline=()
if [ -n "${FERROTICK_BENCH_BASELINE_CLI:-}" ]; then
  baseline=(--baseline-cli "$FERROTICK_BENCH_BASELINE_CLI")
fi
fidelity() {
  python3 "$here/fidelity.py" --cli "$cli" --plain "$build/plain_loop" \
    --dir "$disk" "${baseline[@]}" "$@"
}

if [ $quick = 1 ]; then
  fidelity --out "$results/fidelity.jsonl" --sizes 256 --pairs 3
  fidelity --out "$results/honest.jsonl" --honest --sizes 256 \
    --buffers 128 --pairs 3
else
  sizes=${FERROTICK_BENCH_SIZES:-256,1024}
  fidelity --out "$results/fidelity.jsonl" --sizes "$sizes" --pairs 9
  fidelity --out "$results/honest.jsonl" --honest --sizes 256 \
    --buffers 128 --pairs 9
fi

"$build/flood_bench" --lines 2000000 --repeats 5 | tee "$results/flood.jsonl"
# Before and after a change: FERROTICK_BENCH_BASELINE_BUILD is an earlier
# build of this benchmark project.
if [ -n "${FERROTICK_BENCH_BASELINE_BUILD:-}" ]; then
  python3 "$here/before_after.py" --before "$FERROTICK_BENCH_BASELINE_BUILD" \
    --after "$build" --pairs 9 | tee "$results/before_after.jsonl"
fi
# Data that neither compresses nor repeats reaches the device whole: needs
# root, a loop device, mkfs.btrfs and fio.
if [ "$(id -u)" = 0 ] && command -v mkfs.btrfs >/dev/null && command -v fio >/dev/null; then
  python3 "$here/compressing_btrfs.py" --cli "$cli" --dir "$disk" \
    --pairs 7 "${baseline[@]}" --out "$results/compress.jsonl" || true
fi

if [ -x "$build/dialog_bench" ]; then
  python3 "$here/dialog.py" --bench "$build/dialog_bench" \
    --program "$build/ferrotick/ferrotick" --out "$results/dialog.jsonl" \
    --lines 1000000 --repeats 5
fi

command="bench/run_all.sh"
[ $quick = 1 ] && command="$command --quick"
[ -n "${1:-}" ] && command="$command $1"
python3 "$here/report.py" --results "$results" --disk-dir "$disk" \
  --command "$command" --notes "$here/notes.md" --out "$here/RESULTS.md"
# The disk profile against fio: its own section, added to what report.py
# wrote (bench/profile_fidelity.py).
if [ $quick = 1 ]; then
  profile_args=(--size 256 --seconds 1 --pairs 3)
else
  profile_args=(--size 1024 --seconds 5 --pairs 7)
fi
[ "${FERROTICK_BENCH_PROFILE:-1}" = 0 ] && exit 0
python3 "$here/profile_fidelity.py" --cli "$cli" --dir "$disk" \
  --out "$results/profile.jsonl" --markdown "$here/RESULTS.md" \
  "${profile_args[@]}" >/dev/null
echo "Wrote $here/RESULTS.md"
