#!/usr/bin/env python3
"""The dialog's event-loop stall under a flood, its start-up time and its
resident memory at idle.

Runs dialog_bench (which links the dialog's own library) on Qt's offscreen
platform, and, when Xvfb is installed, on a private X server as well. The
real program's resident memory is read from /proc while it sits idle.
Writes one JSON object per line to --out.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def start_xvfb(work):
    """A private X server; returns (process, display) or (None, None)."""
    if not shutil.which("Xvfb"):
        return None, None
    display_file = os.path.join(work, "display")
    open(display_file, "w").close()
    # Xvfb picks a free display itself and writes its number to fd 3.
    server = subprocess.Popen(
        ["sh", "-c",
         'exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$0"',
         display_file],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        with open(display_file) as f:
            text = f.read().strip()
        if text:
            return server, ":" + text.splitlines()[0]
        time.sleep(0.1)
    server.kill()
    return None, None


def environment(platform, display, work):
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = platform
    env["XDG_RUNTIME_DIR"] = os.path.join(work, "runtime")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    if display:
        env["DISPLAY"] = display
    return env


def stall(bench, env, lines, repeats):
    results = []
    for _ in range(repeats):
        out = subprocess.run([bench, "stall", "--lines", str(lines)], env=env,
                             check=True, capture_output=True, text=True).stdout
        results.append(json.loads(out.strip().splitlines()[-1]))
    stalls = [r["longest_stall_ms"] for r in results]
    rates = [r["lines_per_s"] for r in results]
    return {
        "what": "stall",
        "platform": results[0]["platform"],
        "repeats": repeats,
        "lines": results[0]["lines"],
        "median_longest_stall_ms": round(statistics.median(stalls), 1),
        "worst_longest_stall_ms": round(max(stalls), 1),
        "median_lines_per_s": round(statistics.median(rates)),
    }


def startup(bench, env, repeats):
    times = []
    rss = []
    platform = None
    for _ in range(repeats):
        launch = time.monotonic_ns()
        out = subprocess.run([bench, "startup", str(launch)], env=env,
                             check=True, capture_output=True, text=True).stdout
        lines = out.strip().splitlines()
        rss.append(int(lines[0].split(":")[-1]))
        result = json.loads(lines[-1])
        platform = result["platform"]
        times.append(result["launch_to_shown_ms"])
    return {
        "what": "startup",
        "platform": platform,
        "repeats": repeats,
        "median_launch_to_shown_ms": round(statistics.median(times), 1),
        "worst_launch_to_shown_ms": round(max(times), 1),
        "median_idle_rss_mb": round(statistics.median(rss) / 1024, 1),
    }


def program_rss(program, env, repeats):
    """VmRSS of the real program after it has sat idle for 1.5 s."""
    values = []
    for _ in range(repeats):
        child = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        time.sleep(1.5)
        with open("/proc/%d/status" % child.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    values.append(int(line.split()[1]))
        child.terminate()
        child.wait()
    return {
        "what": "program_rss",
        "platform": env["QT_QPA_PLATFORM"],
        "repeats": repeats,
        "median_idle_rss_mb": round(statistics.median(values) / 1024, 1),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bench", required=True, help="dialog_bench")
    parser.add_argument("--program", required=True, help="the ferrotick dialog")
    parser.add_argument("--out", required=True)
    parser.add_argument("--lines", type=int, default=1000000,
                        help="lines per worker in the flood")
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as work, open(args.out, "w") as out:
        def emit(result):
            print(json.dumps(result), file=out, flush=True)
            print(json.dumps(result), flush=True)

        offscreen = environment("offscreen", None, work)
        emit(stall(args.bench, offscreen, args.lines, args.repeats))
        emit(startup(args.bench, offscreen, args.repeats))
        emit(program_rss(args.program, offscreen, 3))
        server, display = start_xvfb(work)
        if server:
            try:
                xcb = environment("xcb", display, work)
                emit(stall(args.bench, xcb, args.lines, args.repeats))
                emit(startup(args.bench, xcb, args.repeats))
                emit(program_rss(args.program, xcb, 3))
            finally:
                server.kill()
                server.wait()


if __name__ == "__main__":
    main()
