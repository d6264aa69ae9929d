#!/usr/bin/env python3
"""Fidelity of Ferrotick's rates against the limit and against fio.

For each run (create, rewrite, read), file size and buffer size, the three
programs take turns, A B1 B2, then B1 B2 A, then B2 A B1, and so on:

  A   ferrotick-cli --json               (our bytes per second)
  B1  plain_loop: the same system calls and nothing else (the limit)
  B2  fio with options that mirror our semantics (its bw_bytes)

The file is deleted right before every create run. The first round is a
warm-up and is dropped; the medians of the paired ratios A/B1 and A/B2 of
the other rounds are what we quote, since absolute rates on a shared
virtual machine swing by several times from one minute to the next.

With --honest the same comparison runs with our options for honest
numbers: create and rewrite with --sync (fio: --end_fsync=1, plain loop:
fdatasync before its clock stops), read with --drop-cache (fio:
--invalidate=1, plain loop: the same fdatasync and POSIX_FADV_DONTNEED).

Writes one JSON object per configuration to --out (one per line).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

MIB = 1048576


def run_json(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
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


def plain(plain_loop, run, path, size_mb, buffer_kb, honest=False):
    cmd = [plain_loop, run, path, str(size_mb), str(buffer_kb)]
    if honest:
        cmd.append(honest_option(run))
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


def measure(args, run, size_mb, buffer_kb, pairs):
    path = os.path.join(args.dir, "fidelity.tmp")
    honest = args.honest
    programs = {
        "A": lambda: ours(args.cli, run, path, size_mb, buffer_kb, honest),
        "B1": lambda: plain(args.plain, run, path, size_mb, buffer_kb, honest),
        "B2": lambda: fio(run, path, size_mb, buffer_kb, honest),
    }
    if run != "create":
        remove(path)
        plain(args.plain, "create", path, size_mb, 1024)
    order = ["A", "B1", "B2"]
    ratios = {"B1": [], "B2": []}
    rates = {"A": [], "B1": [], "B2": []}
    started = time.monotonic()
    for round_index in range(pairs + 1):
        turn = order[round_index % 3:] + order[:round_index % 3]
        got = {}
        for name in turn:
            if run == "create":
                remove(path)
            got[name] = programs[name]()
        if round_index == 0:
            continue  # warm-up
        for name in got:
            rates[name].append(got[name])
        ratios["B1"].append(got["A"] / got["B1"])
        ratios["B2"].append(got["A"] / got["B2"])
    remove(path)

    def quartiles(values):
        q = statistics.quantiles(values, n=4) if len(values) > 1 else values * 3
        return [round(q[0], 3), round(q[2], 3)]

    return {
        "run": run,
        "options": honest_option(run) if honest else "",
        "size_mb": size_mb,
        "buffer_kb": buffer_kb,
        "pairs": pairs,
        "vs_plain": round(statistics.median(ratios["B1"]), 3),
        "vs_plain_iqr": quartiles(ratios["B1"]),
        "vs_fio": round(statistics.median(ratios["B2"]), 3),
        "vs_fio_iqr": quartiles(ratios["B2"]),
        "median_mib_per_s": {
            name: round(statistics.median(values) / MIB, 1)
            for name, values in rates.items()
        },
        "seconds": round(time.monotonic() - started, 1),
    }


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
                    print("%-7s %5d MB %4d KB: vs plain %.3f, vs fio %.3f "
                          "(%.0f s)" % (run, size_mb, buffer_kb,
                                        result["vs_plain"], result["vs_fio"],
                                        result["seconds"]),
                          file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
