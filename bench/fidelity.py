#!/usr/bin/env python3
"""Fidelity of Ferrotick's rates against the limit and against fio.

For each run (create, rewrite, read), file size and buffer size, the
programs take turns in rounds whose order rotates (A B1 B2, B1 B2 A, ...):

  A   ferrotick-cli --json               (our bytes per second)
  B1  plain_loop: the same transfers in one thread and nothing else, with
      its buffer at the page offset where it ran fastest (the limit)
  B2  fio with options that mirror our semantics (its bw_bytes)
  A0  with --baseline-cli, an earlier ferrotick-cli, for before and after

Where the buffer sits in its page changes how fast the kernel copies to
and from it, by up to 10% at some sizes and not the same way on every
processor. So before the rounds of a buffered configuration the plain loop
runs at each of --offsets in a few rotating rounds, and the offset with the
best median rate is its placement for the rounds that follow.

The file is deleted right before every create run, and the machine's dirty
data is written out and its page cache dropped (where we may), so that each
create starts from the same state instead of behind the writeback of the
program before it. The first round is a
warm-up and is dropped; the median, minimum and maximum of the paired
ratios A/B1, A/B2 (and A0/B1) of the other rounds are what we quote, since
absolute rates on a shared virtual machine swing by several times from one
minute to the next. The 1-minute load average before and after each
configuration is recorded, to show how quiet the machine was, and so are
the same ratios by CPU time (bytes over the program's user and system
seconds), which a busy machine disturbs less than wall time.

With --honest the same comparison runs with our options for honest
numbers: create and rewrite with --sync (fio: --end_fsync=1, plain loop:
fdatasync before its clock stops), read with --drop-cache (fio:
--invalidate=1, plain loop: the same fdatasync and POSIX_FADV_DONTNEED).

Writes one JSON object per configuration to --out (one per line).
"""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time

MIB = 1048576


# CPU seconds (user and system) of the last program run_json ran: a rate by
# CPU time is disturbed less by other programs on a busy machine than one by
# wall time, though it is not what any of the programs reports.
last_cpu_seconds = None


def run_json(cmd):
    global last_cpu_seconds
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    last_cpu_seconds = (after.ru_utime - before.ru_utime +
                        after.ru_stime - before.ru_stime)
    return out


def honest_option(run):
    return "--drop-cache" if run == "read" else "--sync"


def ours(cli, run, path, size_mb, buffer_kb, honest):
    cmd = {
        "create": [cli, "create", path, "--size", str(size_mb)],
        "rewrite": [cli, "write", path, "--size", str(size_mb)],
        "read": [cli, "read", path],
    }[run] + ["--buffer", str(buffer_kb), "--json", "--no-progress"]
    if honest:
        cmd.append(honest_option(run))
    passes = [json.loads(line) for line in run_json(cmd).splitlines()]
    assert len(passes) == 1, passes
    assert passes[0]["bytes"] == size_mb * MIB, passes[0]
    return passes[0]["bytes_per_s"]


def plain(plain_loop, run, path, size_mb, buffer_kb, honest=False, offset=0):
    cmd = [plain_loop, run, path, str(size_mb), str(buffer_kb)]
    if honest:
        cmd.append(honest_option(run))
    if offset:
        cmd += ["--offset", str(offset)]
    result = json.loads(run_json(cmd))
    assert result["bytes"] == size_mb * MIB, result
    return result["bytes_per_s"]


def fio_command(run, path, size_mb, buffer_kb, honest=False):
    common = [
        "fio", "--name=ferrotick", "--filename=" + path, "--ioengine=sync",
        "--bs=%dk" % buffer_kb, "--size=%d" % (size_mb * MIB),
        "--output-format=json"
    ]
    if run == "read":
        return common + [
            "--rw=read", "--invalidate=%d" % honest, "--fadvise_hint=0"
        ]
    return common + [
        "--rw=write", "--create_on_open=1", "--fallocate=none",
        "--fadvise_hint=0", "--invalidate=0", "--end_fsync=%d" % honest
    ]


def fio(run, path, size_mb, buffer_kb, honest):
    report = json.loads(
        run_json(fio_command(run, path, size_mb, buffer_kb, honest)))
    job = report["jobs"][0]["read" if run == "read" else "write"]
    assert job["io_bytes"] == size_mb * MIB, job["io_bytes"]
    return float(job["bw_bytes"])


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def settle(path):
    """Deletes the file and lets the writeback of earlier runs finish."""
    remove(path)
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("1\n")
    except OSError:
        pass  # not root: the sync alone


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return float(f.read().split()[0])
    except OSError:
        return None


def spread(values):
    return {
        "median": round(statistics.median(values), 3),
        "min": round(min(values), 3),
        "max": round(max(values), 3),
    }


def rotations(names, rounds):
    for round_index in range(rounds):
        k = round_index % len(names)
        yield round_index, names[k:] + names[:k]


def calibrate(args, run, path, size_mb, buffer_kb):
    """The plain loop's fastest page offset, and each offset's median MiB/s."""
    offsets = [int(o) for o in args.offsets.split(",")]
    if len(offsets) == 1:
        return offsets[0], {}
    rates = {offset: [] for offset in offsets}
    for _, turn in rotations(offsets, args.calibrate_rounds):
        for offset in turn:
            if run == "create":
                settle(path)
            rates[offset].append(
                plain(args.plain, run, path, size_mb, buffer_kb, args.honest,
                      offset))
    medians = {o: statistics.median(v) for o, v in rates.items()}
    best = max(medians, key=medians.get)
    return best, {str(o): round(m / MIB, 1) for o, m in medians.items()}


def measure(args, run, size_mb, buffer_kb, pairs):
    path = os.path.join(args.dir, "fidelity.tmp")
    honest = args.honest
    load_before = load_average()
    started = time.monotonic()
    if run != "create":
        remove(path)
        plain(args.plain, "create", path, size_mb, 1024)
    offset, calibration = calibrate(args, run, path, size_mb, buffer_kb)
    programs = {
        "A": lambda: ours(args.cli, run, path, size_mb, buffer_kb, honest),
        "B1": lambda: plain(args.plain, run, path, size_mb, buffer_kb, honest,
                            offset),
        "B2": lambda: fio(run, path, size_mb, buffer_kb, honest),
    }
    if args.baseline_cli:
        programs["A0"] = lambda: ours(args.baseline_cli, run, path, size_mb,
                                      buffer_kb, honest)
    rates = {name: [] for name in programs}
    ratios = {name: [] for name in ("vs_plain", "vs_fio", "baseline_vs_plain",
                                    "vs_baseline", "cpu_vs_plain",
                                    "cpu_vs_baseline")}
    bytes_moved = size_mb * MIB
    for round_index, turn in rotations(list(programs), pairs + 1):
        got, cpu = {}, {}
        for name in turn:
            if run == "create":
                settle(path)
            got[name] = programs[name]()
            cpu[name] = bytes_moved / max(last_cpu_seconds, 1e-6)
        if round_index == 0:
            continue  # warm-up
        for name in got:
            rates[name].append(got[name])
        ratios["vs_plain"].append(got["A"] / got["B1"])
        ratios["vs_fio"].append(got["A"] / got["B2"])
        ratios["cpu_vs_plain"].append(cpu["A"] / cpu["B1"])
        if "A0" in got:
            ratios["baseline_vs_plain"].append(got["A0"] / got["B1"])
            ratios["vs_baseline"].append(got["A"] / got["A0"])
            ratios["cpu_vs_baseline"].append(cpu["A"] / cpu["A0"])
    remove(path)

    result = {
        "run": run,
        "options": honest_option(run) if honest else "",
        "size_mb": size_mb,
        "buffer_kb": buffer_kb,
        "pairs": pairs,
        "plain_offset": offset,
        "plain_offsets_mib_per_s": calibration,
        "vs_plain": spread(ratios["vs_plain"]),
        "vs_fio": spread(ratios["vs_fio"]),
        "median_mib_per_s": {
            name: round(statistics.median(values) / MIB, 1)
            for name, values in rates.items()
        },
        "load_before": load_before,
        "load_after": load_average(),
        "seconds": round(time.monotonic() - started, 1),
    }
    result["cpu_vs_plain"] = spread(ratios["cpu_vs_plain"])
    for name in ("baseline_vs_plain", "vs_baseline", "cpu_vs_baseline"):
        if ratios[name]:
            result[name] = spread(ratios[name])
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--plain", required=True)
    parser.add_argument("--dir", required=True, help="folder on the disk")
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", default="create,rewrite,read")
    parser.add_argument("--sizes", default="256,1024")
    parser.add_argument("--buffers", default="1,128,1024")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--honest", action="store_true",
                        help="--sync for writes, --drop-cache for reads")
    parser.add_argument("--pairs-1g", type=int, default=None,
                        help="pairs for files of 1024 MB or more")
    parser.add_argument("--offsets", default="0,16,64,128",
                        help="page offsets the plain loop's buffer tries")
    parser.add_argument("--calibrate-rounds", type=int, default=3)
    parser.add_argument("--baseline-cli",
                        help="an earlier ferrotick-cli to measure as well")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    with open(args.out, "w") as out:
        for size_mb in [int(s) for s in args.sizes.split(",")]:
            pairs = args.pairs
            if size_mb >= 1024 and args.pairs_1g is not None:
                pairs = args.pairs_1g
            for run in args.runs.split(","):
                for buffer_kb in [int(b) for b in args.buffers.split(",")]:
                    result = measure(args, run, size_mb, buffer_kb, pairs)
                    print(json.dumps(result), file=out, flush=True)
                    baseline = result.get("baseline_vs_plain")
                    print("%-7s %5d MB %4d KB: vs plain %.3f [%.3f, %.3f] "
                          "(CPU %.3f), vs fio %.3f%s (plain at +%d; %.0f s, "
                          "load %s)" %
                          (run, size_mb, buffer_kb,
                           result["vs_plain"]["median"],
                           result["vs_plain"]["min"],
                           result["vs_plain"]["max"],
                           result["cpu_vs_plain"]["median"],
                           result["vs_fio"]["median"],
                           ", baseline vs plain %.3f, ours vs baseline %.3f "
                           "(CPU %.3f)" %
                           (baseline["median"],
                            result["vs_baseline"]["median"],
                            result["cpu_vs_baseline"]["median"])
                           if baseline else "", result["plain_offset"],
                           result["seconds"], result["load_after"]),
                          file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
