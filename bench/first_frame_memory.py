#!/usr/bin/env python3
"""Launch to first frame of orvane-view, with the memory it holds by then, for two builds
side by side. Not part of the test suite.

For each surface, each run and each build in turn (interleaved, so that a busy machine
slows both alike) it starts `orvane-view --benchmark-first-frame FILE`, takes the time just
before the start and the peak resident memory (VmHWM) at the moment the program prints
"first frame at <epoch seconds>", and the peak of the whole run (ru_maxrss) when it exits.
Prints one markdown table of medians. Run it under an X display (xvfb-run).

  bench/first_frame_memory.py --before OLD/app/orvane-view --after NEW/app/orvane-view \\
      [--runs 3] FILE.osf...
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def status_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def one_run(viewer, path, config):
    env = dict(os.environ, XDG_CONFIG_HOME=config)
    launched = time.time()
    process = subprocess.Popen([viewer, "--benchmark-first-frame", path], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    shown, held = None, 0
    for line in process.stdout:
        match = re.match(r"first frame at ([0-9.]+)", line)
        if match and shown is None:
            held = status_kib(process.pid, "VmHWM")
            shown = float(match.group(1)) - launched
    _, _, usage = os.wait4(process.pid, 0)
    ended = time.time() - launched
    return shown, held / 1024.0, usage.ru_maxrss / 1024.0, ended


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    builds = [("before", options.before), ("after", options.after)]
    results = {}
    with tempfile.TemporaryDirectory() as config:
        for path in options.files:
            for run in range(options.runs):
                for name, viewer in builds:
                    figures = one_run(viewer, path, config)
                    results.setdefault((path, name), []).append(figures)
                    print(f"{os.path.basename(path)} {name} run {run + 1}: first frame "
                          f"{figures[0]:.2f} s, peak by then {figures[1]:.0f} MiB, "
                          f"whole run {figures[2]:.0f} MiB in {figures[3]:.2f} s",
                          file=sys.stderr, flush=True)
    print("| surface | build | launch to first frame | peak RSS at first frame | "
          "peak RSS of the run | run ends |")
    print("|---|---|---|---|---|---|")
    for path in options.files:
        for name, _ in builds:
            rows = results[(path, name)]
            median = [statistics.median(r[k] for r in rows) for k in range(4)]
            print(f"| {os.path.basename(path)} | {name} | {median[0]:.2f} s | "
                  f"{median[1]:.0f} MiB | {median[2]:.0f} MiB | {median[3]:.2f} s |")


if __name__ == "__main__":
    main()
