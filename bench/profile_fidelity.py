#!/usr/bin/env python3
"""Fidelity of `ferrotick-cli profile` against fio, cell by cell.

Each round runs both programs, one after the other, the order turning
round by round (A B, B A, A B, ...):

  A  ferrotick-cli profile FOLDER --size MB --seconds S --runs 1 --json:
     the eight cells, each after its untimed warm-up (the smaller of 0.5 s
     and a quarter of S), on a test file it writes with random data first
  B  fio with the matching job for each cell, as eight jobs one after the
     other (--stonewall) in the same order, on a new file of the same size
     in the same folder that a first job writes whole and syncs (1 MiB,
     depth 8, as our fill), so that both read a file just written:
       --ioengine=io_uring --direct=1 --iodepth=N --bs=1M|4k
       --rw=read|write|randread|randwrite --time_based --runtime=S
       --ramp_time=(the same warm-up) --size=MB --filename=FILE
     with its buffers in huge pages (--iomem=shmhuge), as ours are: in
     small pages a 1 MiB transfer can take more segments than the disk
     accepts in one request, and the kernel then splits it in two. Without
     huge pages to reserve (not root) fio keeps malloc, and the table says so.

The first round is a warm-up and is dropped. For every other round and
every cell, the ratio of our MB/s to fio's (its bw_bytes) is a pair; the
median, minimum and maximum of the pairs are what we quote, since absolute
rates on a shared virtual machine swing from one minute to the next. The
1-minute load average is recorded before and after each round.

Writes one JSON object per cell to --out, and with --markdown replaces (or
adds, before "## How to run") the section on the profile in that file, with
the hand-written notes of --notes (bench/profile_notes.md) under its table:
a new run keeps the notes but not their numbers, so check them.
"""

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys
import time

# Our cells, in the order both programs run them: (name, fio rw, bs, depth).
CELLS = [
    ("SEQ 1MiB Q8 read", "read", "1M", 8),
    ("SEQ 1MiB Q8 write", "write", "1M", 8),
    ("SEQ 1MiB Q1 read", "read", "1M", 1),
    ("SEQ 1MiB Q1 write", "write", "1M", 1),
    ("RND 4KiB Q32 read", "randread", "4k", 32),
    ("RND 4KiB Q32 write", "randwrite", "4k", 32),
    ("RND 4KiB Q1 read", "randread", "4k", 1),
    ("RND 4KiB Q1 write", "randwrite", "4k", 1),
]
SECTION = "## 4. The disk profile against fio"
GOAL = 0.97


def warmup(seconds):
    return min(0.5, seconds / 4)


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def ours(args):
    cmd = [args.cli, "profile", args.dir, "--size", str(args.size),
           "--seconds", str(args.seconds), "--runs", "1", "--json",
           "--no-progress"]
    report = json.loads(
        subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)
    rates, engines = {}, {}
    for cell in report["cells"]:
        assert len(cell["runs"]) == 1, cell
        rates[cell["cell"]] = cell["runs"][0]["mb_per_s"]
        engines[cell["cell"]] = cell["engine"]
    return rates, engines


def reserve_huge_pages(pages):
    """Makes sure `pages` hugetlb pages are free for fio's buffers; returns
    the count to restore afterwards, or None when they cannot be had."""
    def meminfo(key):
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return 0
    total = meminfo("HugePages_Total")
    free = meminfo("HugePages_Free")
    if free >= pages:
        return total
    try:
        with open("/proc/sys/vm/nr_hugepages", "w") as f:
            f.write(str(total + pages - free))
    except OSError:
        return None
    return total if meminfo("HugePages_Free") >= pages else None


def restore_huge_pages(total):
    try:
        with open("/proc/sys/vm/nr_hugepages", "w") as f:
            f.write(str(total))
    except OSError:
        pass


def fio_command(args, path):
    cmd = ["fio", "--output-format=json", "--filename=" + path,
           "--iomem=" + args.fio_iomem,
           "--size=%dM" % args.size, "--direct=1", "--ioengine=io_uring",
           "--time_based", "--runtime=%gs" % args.seconds,
           "--ramp_time=%dms" % round(warmup(args.seconds) * 1000)]
    # As ours does: a new file, made sparse and written whole first, so that
    # neither program reads a file the other wrote more recently into a
    # cache beneath the file system.
    # Synced at its end as ours is: without it the reads that follow find
    # the fill still in the virtual disk's write cache on the host, and fio
    # read 1 MiB blocks up to half again as fast as after a sync.
    cmd += ["--name=fill", "--rw=write", "--bs=1M", "--iodepth=8",
            "--time_based=0", "--runtime=0", "--ramp_time=0",
            "--fallocate=none", "--end_fsync=1"]
    for name, rw, bs, depth in CELLS:
        cmd += ["--name=" + name.replace(" ", "-"), "--rw=" + rw,
                "--bs=" + bs, "--iodepth=%d" % depth, "--stonewall"]
        if depth == 1 and args.fio_depth1_engine != "io_uring":
            cmd += ["--ioengine=" + args.fio_depth1_engine]
    return cmd


def fio(args, path):
    if os.path.exists(path):
        os.unlink(path)
    out = subprocess.run(fio_command(args, path), check=True,
                         capture_output=True, text=True).stdout
    report = json.loads(out[out.index("{"):])
    rates = {}
    jobs = report["jobs"][1:]  # past the fill
    assert len(jobs) == len(CELLS), report["jobs"]
    for (name, rw, _, _), job in zip(CELLS, jobs):
        side = job["read" if rw.endswith("read") else "write"]
        rates[name] = side["bw_bytes"] / 1e6
    return rates


def spread(values):
    return {"median": round(statistics.median(values), 3),
            "min": round(min(values), 3), "max": round(max(values), 3)}


def markdown(results, args, started, loads, commit):
    lines = [
        SECTION, "",
        "Made by `bench/profile_fidelity.py --size %d --seconds %g --pairs %d` "
        "on %s, commit %s; Linux %s, %d vCPUs; %s. The folder measured: `%s`."
        % (args.size, args.seconds, args.pairs, started, commit,
           platform.release(), os.cpu_count(), fio_version(), args.dir), "",
        "Each round runs `ferrotick-cli profile FOLDER --size %d --seconds %g "
        "--runs 1 --json` (A) and fio (B) one after the other, the order "
        "turning each round (A B, B A, ...); the first round is a warm-up and "
        "is dropped. fio runs the matching job for each cell, as eight jobs in "
        "our order (`--stonewall`), on a new file of the same size in the same "
        "folder that a first job writes whole as our fill does (`--rw=write "
        "--bs=1M --iodepth=8 --end_fsync=1`, sparse before): `--ioengine=io_uring --direct=1 --iodepth=N --bs=1M|4k "
        "--rw=read|write|randread|randwrite --time_based --runtime=%gs "
        "--ramp_time=%dms`, our warm-up%s; ours runs its depth-1 cells with "
        "pread/pwrite. Each cell is the median of the paired ratios ours / fio "
        "(MB/s over bw_bytes) with their minimum and maximum; fio's buffers: "
        "`--iomem=%s`%s; \"load\" is the "
        "1-minute load average over the rounds (2 vCPUs, shared with other "
        "work: above 2 the machine was busy)."
        % (args.size, args.seconds, args.seconds,
           round(warmup(args.seconds) * 1000),
           "" if args.fio_depth1_engine == "io_uring" else
           ", with `--ioengine=%s` for the depth-1 cells"
           % args.fio_depth1_engine, args.fio_iomem,
           " (huge pages, as ours)" if args.fio_iomem == "shmhuge" else
           " (small pages, unlike ours: no huge pages could be reserved)"),
        "",
        "| cell | pairs | ours / fio (median [min, max]) | >= %.2f | "
        "median MB/s ours, fio | our engine |" % GOAL,
        "|---|---|---|---|---|---|",
    ]
    for r in results:
        ratio = r["vs_fio"]
        lines.append(
            "| %s | %d | %.3f [%.3f, %.3f] | %s | %.1f, %.1f | %s |" %
            (r["cell"], r["pairs"], ratio["median"], ratio["min"],
             ratio["max"], "yes" if ratio["median"] >= GOAL else "**no**",
             r["median_mb_per_s"]["ours"], r["median_mb_per_s"]["fio"],
             r["engine"]))
    lines += ["", "Load average over the rounds: %.2f to %.2f." %
              (min(loads), max(loads)), ""]
    return "\n".join(lines)


def fio_version():
    return subprocess.run(["fio", "--version"], capture_output=True,
                          text=True).stdout.strip()


def write_section(path, section):
    """Replaces the section in `path`, or adds it before "## How to run"."""
    with open(path) as f:
        text = f.read()
    if SECTION in text:
        start = text.index(SECTION)
        end = text.find("\n## ", start + len(SECTION))
        text = text[:start] + ("" if end < 0 else text[end + 1:])
    at = text.find("## How to run")
    at = len(text) if at < 0 else at
    text = text[:at] + section + "\n" + text[at:]
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--dir", required=True, help="folder on the disk")
    parser.add_argument("--size", type=int, default=1024, help="MiB")
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--out", help="one JSON object per cell")
    parser.add_argument("--markdown", help="RESULTS.md to update")
    parser.add_argument("--fio-iomem", default="shmhuge",
                        help="fio's buffer memory (default shmhuge; malloc "
                        "when no huge pages can be reserved)")
    parser.add_argument("--fio-depth1-engine", default="io_uring",
                        help="fio's engine for the depth-1 cells (default "
                        "io_uring, the issue's job; psync makes the same "
                        "pread/pwrite calls as ours)")
    parser.add_argument("--notes", help="hand-written notes to put under "
                        "the table (default: profile_notes.md beside this)")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    path = os.path.join(args.dir, "fio-profile.tmp")
    started = datetime.date.today().isoformat()
    commit = subprocess.run(
        ["git", "-C", os.path.dirname(os.path.abspath(__file__)), "rev-parse",
         "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    rates = {name: {"ours": [], "fio": []} for name, *_ in CELLS}
    ratios = {name: [] for name, *_ in CELLS}
    engines = {}
    loads = []
    restore = None
    if args.fio_iomem == "shmhuge":
        # 1 MiB at depth 8 and fio's alignment, in 2 MiB pages, with room.
        restore = reserve_huge_pages(16)
        if restore is None:
            print("no huge pages for fio: it keeps malloc", file=sys.stderr)
            args.fio_iomem = "malloc"
    try:
        for round_index in range(args.pairs + 1):
            loads.append(load_average())
            order = ["ours", "fio"] if round_index % 2 == 0 else ["fio", "ours"]
            got = {}
            for program in order:
                if program == "ours":
                    got["ours"], engines = ours(args)
                else:
                    got["fio"] = fio(args, path)
            loads.append(load_average())
            print("round %d%s: %s" % (
                round_index, " (warm-up)" if round_index == 0 else "",
                ", ".join("%s %.3f" % (name, got["ours"][name] /
                                       got["fio"][name])
                          for name, *_ in CELLS)),
                  file=sys.stderr, flush=True)
            if round_index == 0:
                continue
            for name, *_ in CELLS:
                for program in ("ours", "fio"):
                    rates[name][program].append(got[program][name])
                ratios[name].append(got["ours"][name] / got["fio"][name])
    finally:
        if os.path.exists(path):
            os.unlink(path)
        if restore is not None:
            restore_huge_pages(restore)

    results = []
    for name, *_ in CELLS:
        results.append({
            "cell": name,
            "pairs": len(ratios[name]),
            "vs_fio": spread(ratios[name]),
            "median_mb_per_s": {p: round(statistics.median(v), 1)
                                for p, v in rates[name].items()},
            "engine": engines.get(name, ""),
            "seconds": args.seconds,
            "size_mb": args.size,
            "load": [min(loads), max(loads)],
        })
    if args.out:
        with open(args.out, "w") as out:
            for result in results:
                print(json.dumps(result), file=out)
    section = markdown(results, args, started, loads, commit)
    notes = args.notes or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "profile_notes.md")
    if os.path.exists(notes):
        with open(notes) as f:
            section += "\n" + f.read().rstrip() + "\n"
    print(section)
    if args.markdown:
        write_section(args.markdown, section)


if __name__ == "__main__":
    main()
