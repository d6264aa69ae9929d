#!/usr/bin/env python3
"""Writes bench/RESULTS.md from the JSON lines the benchmarks left in a
results folder: fidelity.jsonl, honest.jsonl, compress.jsonl, flood.jsonl,
before_after.jsonl,
dialog.jsonl."""

import argparse
import datetime
import json
import os
import platform
import subprocess


def load(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def shell(cmd):
    try:
        return subprocess.run(cmd, shell=True, capture_output=True, text=True,
                              check=True).stdout.strip()
    except subprocess.CalledProcessError:
        return "?"


def mark(ok):
    return "yes" if ok else "**no**"


def machine(disk_dir):
    cpus = os.cpu_count()
    memory = shell("free -g | awk '/Mem:/ {print $2}'")
    fs = shell("findmnt -no FSTYPE,SOURCE -T '%s' | tr -s ' '" % disk_dir)
    return ("Linux %s, %s vCPUs, %s GB RAM, %s; fio %s" %
            (platform.release(), cpus, memory, fs, shell("fio --version")))


def ratio_cell(spread):
    return "%.3f [%.3f, %.3f]" % (spread["median"], spread["min"],
                                  spread["max"])


def fidelity_table(rows, lines):
    baseline = any("baseline_vs_plain" in r for r in rows)
    extra = ("before / plain loop | ours / before | " if baseline else "")
    lines.append("| run | file | buffer | pairs | ours / plain loop "
                 "(median [min, max]) | >= 0.97 | ours / fio (median "
                 "[min, max]) | >= 1.00 | %sours / plain loop by CPU time | "
                 "plain loop's offset | median MiB/s ours, plain, fio | "
                 "load |" % extra)
    lines.append("|---|---|---|---|---|---|---|---|%s---|---|---|---|" %
                 ("---|---|" if baseline else ""))
    for r in rows:
        run = r["run"] + (" " + r["options"] if r.get("options") else "")
        rates = r["median_mib_per_s"]
        before = ""
        if baseline:
            before = "".join(
                (ratio_cell(r[key]) if key in r else "-") + " | "
                for key in ("baseline_vs_plain", "vs_baseline"))
        loads = [x for x in (r.get("load_before"), r.get("load_after"))
                 if x is not None]
        lines.append(
            "| %s | %d MB | %d KB | %d | %s | %s | %s | %s | %s%s | +%d | "
            "%.0f, %.0f, %.0f | %s |" %
            (run, r["size_mb"], r["buffer_kb"], r["pairs"],
             ratio_cell(r["vs_plain"]), mark(r["vs_plain"]["median"] >= 0.97),
             ratio_cell(r["vs_fio"]), mark(r["vs_fio"]["median"] >= 1.0),
             before, ratio_cell(r["cpu_vs_plain"]), r["plain_offset"],
             rates["A"], rates["B1"], rates["B2"],
             "-".join("%.1f" % x for x in loads) or "?"))


def max_load(*tables):
    loads = [x for rows in tables for r in rows
             for x in (r.get("load_before"), r.get("load_after"))
             if x is not None]
    return max(loads) if loads else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--results", required=True)
    parser.add_argument("--disk-dir", required=True)
    parser.add_argument("--command", required=True,
                        help="the command line that made the results")
    parser.add_argument("--out", required=True)
    parser.add_argument("--notes", help="hand-written notes to append")
    args = parser.parse_args()

    fidelity = load(args.results, "fidelity.jsonl")
    honest = load(args.results, "honest.jsonl")
    flood = load(args.results, "flood.jsonl")
    dialog = load(args.results, "dialog.jsonl")
    commit_file = os.path.join(args.results, "commit")
    if os.path.exists(commit_file):
        with open(commit_file) as f:
            commit = f.read().strip()
    else:
        commit = shell("git -C '%s' rev-parse --short HEAD" %
                       os.path.dirname(os.path.abspath(__file__)))

    lines = [
        "# Benchmark results",
        "",
        "Made by `%s` on %s, commit %s." %
        (args.command, datetime.date.today().isoformat(), commit),
        "",
        "Machine: %s. The folder measured: `%s`." %
        (machine(args.disk_dir), args.disk_dir),
        "",
        "Every figure is a median over repeated runs; the fidelity figures "
        "are medians of *paired ratios* (ours divided by the other program "
        "in the same round), because absolute rates on a shared virtual "
        "machine swing by several times from one minute to the next. The "
        "absolute medians are context only. A ratio above 1 means we were "
        "faster.",
        "",
        "## 1. Fidelity against the limit and against fio",
        "",
        "Rounds interleave the programs, rotating their order (A B1 B2, "
        "B1 B2 A, B2 A B1, ...); the first round is a warm-up and is dropped; "
        "the file is deleted right before every create run, after which "
        "the machine's dirty data is written out (`sync`) and its page "
        "cache dropped, so that each create starts from the same state. "
        "Rewrite and read "
        "work on a file made once before their rounds, so reads come from "
        "the page cache, as they do in the dialog with default options. "
        "Each cell is the median of the paired ratios with their minimum and "
        "maximum; \"load\" is the 1-minute load average before and after "
        "the cell's rounds (2 vCPUs: above 2 the machine was busy). \"By "
        "CPU time\" divides the bytes by each program's user and system "
        "seconds instead of its own clock: not what any program reports, "
        "and it counts each program's start-up, which weighs on a pass of a "
        "few tens of milliseconds, but it is disturbed less by other "
        "programs on a busy machine.",
        "",
        "- A, ours: `ferrotick-cli create|write|read PATH --size MB --buffer "
        "KB --json` (write: one pass; read: one pass), its `bytes_per_s`.",
        "- B1, the limit: `bench/plain_loop create|rewrite|read PATH MB KB "
        "--offset N`, the same transfers (open, fstat, fcntl, flock, "
        "ftruncate of a file that is not empty or lseek, the timed writes or "
        "reads with `write`/`read`, close) in a single-threaded process and "
        "nothing else, timed over the same span. Its buffer sits N bytes "
        "past a page boundary, N being the fastest of `--offsets` in three "
        "rotating calibration rounds before the cell (\"plain loop's "
        "offset\").",
        "- B2, fio: `fio --name=ferrotick --filename=PATH --ioengine=sync "
        "--bs=KBk --size=BYTES --rw=write --create_on_open=1 "
        "--fallocate=none --fadvise_hint=0 --invalidate=0 --end_fsync=0` "
        "(reads: `--rw=read --invalidate=0 --fadvise_hint=0`), its "
        "`bw_bytes`.",
        "",
    ]
    if any("baseline_vs_plain" in r for r in fidelity + honest):
        lines += [
            "- before: the same rounds also ran an earlier `ferrotick-cli` "
            "(`--baseline-cli`); its ratio to the same plain loop, and ours "
            "to it.",
            "",
        ]
    busiest = max_load(fidelity, honest)
    if busiest is not None and busiest > 2:
        lines += [
            "The machine was busy while these rounds ran (load average up to "
            "%.1f on 2 vCPUs): the ratios are noisier than on a quiet "
            "machine." % busiest,
            "",
        ]
    if fidelity:
        fidelity_table(fidelity, lines)
        sizes = sorted({(r["size_mb"], r["pairs"]) for r in fidelity})
        lines.append("")
        lines.append("Pairs per file size: " + ", ".join(
            "%d MB: %d" % size for size in sizes) + ".")
    else:
        lines.append("Not run.")
    lines += [
        "",
        "### With the options for honest numbers",
        "",
        "Create and rewrite with `--sync` against fio's `--end_fsync=1` and "
        "the plain loop's `fdatasync` before its clock stops; read with "
        "`--drop-cache` against fio's `--invalidate=1` and the plain loop's "
        "`fdatasync` plus `POSIX_FADV_DONTNEED`.",
        "",
    ]
    if honest:
        fidelity_table(honest, lines)
    else:
        lines.append("Not run.")

    compress = load(args.results, "compress.jsonl")
    lines += ["", "### On a file system that compresses", ""]
    if compress:
        lines += [
            "`bench/compressing_btrfs.py`: `measure --json` against fio's "
            "sequential write of 1 MiB blocks with `fdatasync` at the end, "
            "on btrfs mounted with `compress-force=zstd` on a loop device, "
            "in rotating rounds (the first dropped); the bytes that reached "
            "the device come from the loop device's own statistics.",
            "",
            "| program | pairs | write rate / fio's (median [min, max]) | "
            "median write MiB/s | bytes at the device / bytes written "
            "(median) |",
            "|---|---|---|---|---|",
        ]
        for r in compress:
            for name, key in (("ours", "A"), ("before", "A0"), ("fio", "B")):
                if key not in r:
                    continue
                v = r.get(key + "_vs_fio")
                lines.append("| %s | %d | %s | %.1f | %.3f |" % (
                    name, r["pairs"],
                    "%.3f [%.3f, %.3f]" % (v["median"], v["min"], v["max"])
                    if v else "1", r[key]["median_mib_per_s"],
                    r[key]["device_share"]))
    else:
        lines.append("Not run (needs root, losetup, mkfs.btrfs and fio).")

    lines += ["", "## 2. The hand-over under a flood", ""]
    lines.append("| measure | result | target | met |")
    lines.append("|---|---|---|---|")
    by_workers = {r["workers"]: r for r in flood}
    if 1 in by_workers:
        r = by_workers[1]
        lines.append(
            "| lines/s, one run's thread handing over pass events, the "
            "presenting thread making and storing their lines (median of %d; "
            "range) | %s (%s to %s) | >= 2,000,000 | %s |" %
            (r["repeats"], format(r["median_lines_per_s"], ","),
             format(r["min_lines_per_s"], ","),
             format(r["max_lines_per_s"], ","),
             mark(r["median_lines_per_s"] >= 2e6)))
    if 3 in by_workers:
        r = by_workers[3]
        lines.append(
            "| lines/s, three runs' threads (median of %d; range) | %s (%s to %s) "
            "| - | - |" %
            (r["repeats"], format(r["median_lines_per_s"], ","),
             format(r["min_lines_per_s"], ","),
             format(r["max_lines_per_s"], ",")))
    for workers in (1, 3):
        if workers in by_workers:
            r = by_workers[workers]
            stored = r["lines_per_worker"] * workers
            lines.append(
                "| bytes per stored line beyond its text (`MemoryBytes()`, "
                "%s lines) | %.1f | <= 48 | %s |" %
                (format(stored, ","), r["bytes_per_line_beyond_text"],
                 mark(r["bytes_per_line_beyond_text"] <= 48)))
    for r in dialog:
        if r["what"] == "stall":
            lines.append(
                "| dialog (%s): longest event-loop stall while three runs "
                "flood %s pass events (median of %d; worst) | %.1f ms (%.1f ms) | "
                "< 50 ms | %s |" %
                (r["platform"], format(r["lines"], ","), r["repeats"],
                 r["median_longest_stall_ms"], r["worst_longest_stall_ms"],
                 mark(r["median_longest_stall_ms"] < 50)))
    if not any(r["what"] == "stall" for r in dialog):
        lines.append("| dialog: longest event-loop stall under a flood | "
                     "TODO: not measured (the dialog was not built) | "
                     "< 50 ms | - |")

    before_after = load(args.results, "before_after.jsonl")
    if before_after:
        lines += [
            "",
            "Before and after, `bench/before_after.py`: the same measures "
            "from two builds in interleaved pairs (the first dropped); "
            "after / before per pair (stall: below 1 is shorter).",
            "",
            "| measure | pairs | after / before (median [min, max]) | "
            "median before | median after |",
            "|---|---|---|---|---|",
        ]
        for r in before_after:
            v = r["after_over_before"]
            lines.append("| %s | %d | %.3f [%.3f, %.3f] | %s | %s |" % (
                r["measure"], r["pairs"], v["median"], v["min"], v["max"],
                format(r["median_before"], ","),
                format(r["median_after"], ",")))

    lines += ["", "## 3. Start-up", ""]
    lines.append("| measure | result | target | met |")
    lines.append("|---|---|---|---|")
    for r in dialog:
        if r["what"] == "startup":
            lines.append(
                "| launch to dialog shown (%s; median of %d; worst) | "
                "%.1f ms (%.1f ms) | < 300 ms | %s |" %
                (r["platform"], r["repeats"], r["median_launch_to_shown_ms"],
                 r["worst_launch_to_shown_ms"],
                 mark(r["median_launch_to_shown_ms"] < 300)))
            lines.append(
                "| resident memory 1 s after shown (%s, dialog_bench) | "
                "%.1f MB | < 60 MB | %s |" %
                (r["platform"], r["median_idle_rss_mb"],
                 mark(r["median_idle_rss_mb"] < 60)))
        if r["what"] == "program_rss":
            lines.append(
                "| resident memory of `ferrotick` idle for 1.5 s (%s; median "
                "of %d) | %.1f MB | < 60 MB | %s |" %
                (r["platform"], r["repeats"], r["median_idle_rss_mb"],
                 mark(r["median_idle_rss_mb"] < 60)))
    if not any(r["what"] == "startup" for r in dialog):
        lines.append("| launch to dialog shown | TODO: not measured (the "
                     "dialog was not built) | < 300 ms | - |")
    lines += [
        "",
        "The dialog figures come from `bench/dialog_bench`, which links the "
        "dialog's own library: `stall` shows the dialog, starts three "
        "threads that hand pass events to it as fast as they can, far faster "
        "than its paced runs ever do, and records the "
        "longest gap between ticks of a 1 ms timer on the window thread; "
        "`startup` runs the application exactly as `main()` does, with an "
        "event filter that notes the dialog window's first expose; the "
        "launcher's clock reading just before it starts the process is the "
        "zero. `xcb` rows run on a private Xvfb server.",
        "",
        "## How to run",
        "",
        "    bench/run_all.sh [--quick] [FOLDER]",
        "",
        "FOLDER is a folder on the disk to measure (default: a new folder "
        "under `$TMPDIR` or `/tmp`; it needs about 1.1 GB free, and the "
        "script deletes what it wrote). `--quick` measures 256 MB files with "
        "3 pairs. Needs cmake, ninja, fio and python3; the dialog rows need "
        "Qt 6 and, for the `xcb` rows, Xvfb. CI does not run any of this.",
        "",
    ]
    if args.notes and os.path.exists(args.notes):
        with open(args.notes) as notes:
            lines += ["## Notes", "", notes.read().rstrip(), ""]
    with open(args.out, "w") as out:
        out.write("\n".join(lines))


if __name__ == "__main__":
    main()
