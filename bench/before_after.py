#!/usr/bin/env python3
"""The hand-over before and after a change: two builds of the benchmark
project, run in interleaved pairs (A B, B A, ...), the first pair dropped
as a warm-up.

  flood: flood_bench --lines N --repeats 1, lines/s for one worker and for
         three (each build floods its own log or event hand-over)
  stall: dialog_bench stall --lines N on the offscreen platform, the
         longest gap between ticks of the window thread's 1 ms timer

Prints one JSON object per measure: the median of the per-pair ratios
after/before with their minimum and maximum, and each side's median.
"""

import argparse
import json
import os
import statistics
import subprocess


def flood(build, lines):
    out = subprocess.run([os.path.join(build, "flood_bench"), "--lines",
                          str(lines), "--repeats", "1"], check=True,
                         capture_output=True, text=True).stdout
    rates = {}
    for line in out.splitlines():
        row = json.loads(line)
        rates["flood_%d_workers_lines_per_s" % row["workers"]] = \
            row["median_lines_per_s"]
    return rates


def stall(build, lines):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([os.path.join(build, "dialog_bench"), "stall",
                          "--lines", str(lines)], check=True, env=env,
                         capture_output=True, text=True).stdout
    return {"stall_ms": json.loads(out.strip().splitlines()[-1])
            ["longest_stall_ms"]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", required=True, help="a build folder")
    parser.add_argument("--after", required=True, help="a build folder")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--flood-lines", type=int, default=2000000)
    parser.add_argument("--stall-lines", type=int, default=1000000)
    args = parser.parse_args()

    samples = {}
    for round_ in range(args.pairs + 1):
        sides = [("before", args.before), ("after", args.after)]
        if round_ % 2:
            sides.reverse()
        got = {}
        for name, build in sides:
            got[name] = flood(build, args.flood_lines)
            got[name].update(stall(build, args.stall_lines))
        if round_ == 0:
            continue
        for measure in got["after"]:
            samples.setdefault(measure, []).append(
                (got["before"][measure], got["after"][measure]))
    with open("/proc/loadavg") as f:
        load = float(f.read().split()[0])
    for measure, pairs in samples.items():
        ratios = [after / before for before, after in pairs]
        print(json.dumps({
            "measure": measure, "pairs": len(pairs),
            "after_over_before": {
                "median": round(statistics.median(ratios), 3),
                "min": round(min(ratios), 3), "max": round(max(ratios), 3)},
            "median_before": round(statistics.median(p[0] for p in pairs), 1),
            "median_after": round(statistics.median(p[1] for p in pairs), 1),
            "load_at_end": load}))


if __name__ == "__main__":
    main()
