#!/usr/bin/env python3
"""Launch to first frame, launch to exit and peak memory of orvane-view on one big surface,
and its memory over time when left open (while the coarse copy for motion is made), for a
build folder and (optionally) a build folder of another commit, measured interleaved in one
run under its own Xvfb. Not part of the test suite. (bench/first_frame_memory.py looks at
the memory held at the first frame itself.)

Two ways of running the viewer:
  first frame  `orvane-view --benchmark-first-frame FILE`: the window closes at its first
               frame; the time of that frame, of the process's end, and its peak RSS.
  left open    `orvane-view FILE` left alone for --open-seconds, then ended: the resident
               memory sampled every 50 ms; its peak and when it came, and where it ends
               (the surface with its coarse copy, once that has arrived).

  bench/open-close-memory.py [--build DIR] [--before DIR] [--file FILE] [--runs N]
                             [--open-seconds S] [--timeline]
"""
import argparse
import os
import random
import re
import signal
import statistics
import subprocess
import sys
import threading
import time


def viewer_in(folder):
    path = os.path.join(folder, "app", "orvane-view")
    if not os.access(path, os.X_OK):
        sys.exit(f"open-close-memory: no {path}")
    return path


def rss_mb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return None


class Sampler(threading.Thread):
    """Resident memory of a process every 50 ms, as (seconds since start, MB)."""

    def __init__(self, pid, start):
        super().__init__(daemon=True)
        self.pid, self.start_time, self.samples, self.done = pid, start, [], False

    def run(self):
        while not self.done:
            value = rss_mb(self.pid)
            if value is not None:
                self.samples.append((time.time() - self.start_time, value))
            time.sleep(0.05)


def first_frame(viewer, surface):
    start = time.time()
    process = subprocess.Popen([viewer, "--benchmark-first-frame", surface],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    sampler = Sampler(process.pid, start)
    sampler.start()
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    end = time.time()
    sampler.done = True
    process.returncode = status
    shown = re.search(r"first frame at ([0-9.]+) s", output)
    return {
        "first": float(shown.group(1)) - start if shown else float("nan"),
        "exit": end - start,
        "peak": usage.ru_maxrss / 1024.0,
        "status": status,
        "samples": sampler.samples,
    }


def left_open(viewer, surface, seconds):
    start = time.time()
    process = subprocess.Popen([viewer, surface], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    sampler = Sampler(process.pid, start)
    sampler.start()
    time.sleep(seconds)
    sampler.done = True
    sampler.join()
    process.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(process.pid, 0)
    samples = sampler.samples or [(0.0, 0.0)]
    peak_time, peak = max(samples, key=lambda s: s[1])
    return {"peak": usage.ru_maxrss / 1024.0, "sampled_peak": peak, "peak_at": peak_time,
            "end": samples[-1][1], "samples": samples}


def median(values):
    return statistics.median(values) if values else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--build", default=os.path.join(root, "build"))
    parser.add_argument("--before")
    parser.add_argument("--file", default="/tmp/orvane-peers/sphere4.osf")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--open-seconds", type=float, default=20.0)
    parser.add_argument("--timeline", action="store_true",
                        help="print each left-open run's memory every half second")
    args = parser.parse_args()
    if not os.path.isfile(args.file):
        sys.exit(f"open-close-memory: no {args.file} (bench/peers.sh makes the spheres)")

    builds = [("after", viewer_in(args.build))]
    if args.before:
        builds.insert(0, ("before", viewer_in(args.before)))

    display = f":{random.randint(90, 490)}"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = display
    os.environ["GSETTINGS_BACKEND"] = "memory"
    time.sleep(1)
    results = {label: {"first": [], "open": []} for label, _ in builds}
    try:
        for run in range(args.runs):
            for label, viewer in builds:
                result = first_frame(viewer, args.file)
                results[label]["first"].append(result)
                print(f"run {run + 1} {label:6} first frame {result['first']:.2f} s, exit "
                      f"{result['exit']:.2f} s, peak {result['peak']:.0f} MB", file=sys.stderr)
            if args.open_seconds > 0:
                for label, viewer in builds:
                    result = left_open(viewer, args.file, args.open_seconds)
                    results[label]["open"].append(result)
                    print(f"run {run + 1} {label:6} left open: peak {result['peak']:.0f} MB at "
                          f"{result['peak_at']:.1f} s, {result['end']:.0f} MB at the end",
                          file=sys.stderr)
                    if args.timeline:
                        marks = result["samples"][::10]
                        print("  " + " ".join(f"{t:.1f}s:{m:.0f}" for t, m in marks),
                              file=sys.stderr)
    finally:
        xvfb.terminate()

    print(f"\n{os.path.basename(args.file)}, medians of {args.runs} runs\n")
    print("| build | first frame | exit | peak RSS (first frame) | peak RSS left open | "
          "peak at | RSS at the end |")
    print("|---|---|---|---|---|---|---|")
    for label, _ in builds:
        first = results[label]["first"]
        opened = results[label]["open"]
        print(f"| {label} | {median([r['first'] for r in first]):.2f} s "
              f"| {median([r['exit'] for r in first]):.2f} s "
              f"| {median([r['peak'] for r in first]):.0f} MB "
              f"| {median([r['peak'] for r in opened]):.0f} MB "
              f"| {median([r['peak_at'] for r in opened]):.1f} s "
              f"| {median([r['end'] for r in opened]):.0f} MB |")


if __name__ == "__main__":
    main()
