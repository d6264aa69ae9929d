#!/usr/bin/env python3
"""measure on a file system that compresses everything it stores.

A btrfs image mounted with compress-force=zstd on a loop device stores a
compressible write in a fraction of its size, and a benchmark that writes
such data reports a rate the disk never gave. In rounds whose order rotates,
this runs

  A   ferrotick-cli measure --json           (its write passes' median)
  B   fio: the same sequential write of 1 MiB blocks, fdatasync at the end
  A0  with --baseline-cli, an earlier ferrotick-cli, for before and after

in a fresh folder of the mount, and counts from the loop device's own
statistics how many bytes reached the device for each: with data that
neither compresses nor repeats, nearly all of them. The first round is a
warm-up. Writes one JSON object with the paired ratios (median, min, max)
to --out, and a line for people to standard error. Needs root, losetup,
mkfs.btrfs and fio.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1048576


def sh(*cmd, **kwargs):
    return subprocess.run(cmd, check=True, capture_output=True, text=True,
                          **kwargs).stdout.strip()


def written_bytes(loop):
    """Bytes the loop device has written, from its stat file (sectors)."""
    with open("/sys/block/%s/stat" % os.path.basename(loop)) as f:
        return int(f.read().split()[6]) * 512


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def settle(mount):
    os.sync()
    sh("sync", "-f", mount)


def ours(cli, mount, size_mb, passes):
    out = sh(cli, "measure", mount, "--size", str(size_mb), "--passes",
             str(passes), "--json", "--no-progress")
    summary = json.loads(out.splitlines()[-1])
    runs = {run["run"]: run for run in summary["runs"]}
    # The earlier program's rates were MiB/s by the same name, or "MB/s"
    # of 1,048,576 bytes: either way bytes over seconds.
    write = runs["write"]
    rate = write.get("median_mib_per_s", write.get("median_mb_per_s"))
    return rate * MIB, size_mb * MIB * (1 + passes)


def fio(mount, loop, size_mb):
    path = os.path.join(mount, "fio.tmp")
    # fio lays the file out first; the timed job rewrites it, as a write
    # pass of measure rewrites its file.
    common = ["fio", "--name=w", "--filename=" + path, "--ioengine=psync",
              "--bs=1m", "--size=%d" % (size_mb * MIB), "--rw=write",
              "--output-format=json"]
    sh(*common, "--end_fsync=1")
    settle(mount)
    before = written_bytes(loop)
    report = json.loads(sh(*common, "--overwrite=1", "--end_fsync=1"))
    settle(mount)
    device = written_bytes(loop) - before
    os.unlink(path)
    job = report["jobs"][0]["write"]
    return float(job["bw_bytes"]), job["io_bytes"], device


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--baseline-cli")
    parser.add_argument("--size", type=int, default=512, help="MB")
    parser.add_argument("--passes", type=int, default=3)
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="ferrotick-btrfs-", dir=args.dir)
    image = os.path.join(work, "btrfs.img")
    mount = os.path.join(work, "mnt")
    os.mkdir(mount)
    with open(image, "wb") as f:
        f.truncate((4 * args.size + 1024) * MIB)
    loop = sh("losetup", "-f", "--show", image)
    try:
        sh("mkfs.btrfs", "-q", "-f", loop)
        sh("mount", "-o", "compress-force=zstd", loop, mount)
        programs = {"A": args.cli}
        if args.baseline_cli:
            programs["A0"] = args.baseline_cli
        names = list(programs) + ["B"]
        rates = {name: [] for name in names}
        device_share = {name: [] for name in names}
        load_before = load_average()
        for round_index in range(args.pairs + 1):
            k = round_index % len(names)
            got = {}
            for name in names[k:] + names[:k]:
                settle(mount)
                if name == "B":
                    rate, moved, device = fio(mount, loop, args.size)
                else:
                    before = written_bytes(loop)
                    rate, moved = ours(programs[name], mount, args.size,
                                       args.passes)
                    settle(mount)
                    device = written_bytes(loop) - before
                got[name] = rate
                if round_index > 0:
                    rates[name].append(rate)
                    device_share[name].append(device / moved)
            if round_index > 0:
                for name in programs:
                    rates.setdefault(name + "/B", []).append(got[name] /
                                                             got["B"])
        result = {
            "size_mb": args.size,
            "passes": args.passes,
            "pairs": args.pairs,
            "load_before": load_before,
            "load_after": load_average(),
        }
        for name in names:
            result[name] = {
                "median_mib_per_s": round(statistics.median(rates[name]) / MIB,
                                          1),
                "device_share": round(statistics.median(device_share[name]),
                                      3),
            }
        for name in programs:
            ratios = rates[name + "/B"]
            result[name + "_vs_fio"] = {
                "median": round(statistics.median(ratios), 3),
                "min": round(min(ratios), 3),
                "max": round(max(ratios), 3),
            }
        with open(args.out, "w") as out:
            print(json.dumps(result), file=out)
        print(json.dumps(result, indent=1), file=sys.stderr)
    finally:
        subprocess.run(["umount", mount], check=False)
        subprocess.run(["losetup", "-d", loop], check=False)
        for name in (image,):
            try:
                os.unlink(name)
            except OSError:
                pass
        os.rmdir(mount)
        os.rmdir(work)


if __name__ == "__main__":
    main()
