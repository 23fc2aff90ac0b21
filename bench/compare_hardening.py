#!/usr/bin/env python3
"""Runs bench_hardening from two builds one after the other and prints each figure of the
first ("before") beside the second ("after"). Usage:
    bench/compare_hardening.py BEFORE_BINARY AFTER_BINARY [BENCHMARK_FILTER]
The fans of 1,000,000 triangles run only in the after build (the quadratic lookup of the
before build would take hours there)."""
import json
import os
import subprocess
import sys
import tempfile


def run(binary, extra):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "figures.json")
        console = subprocess.run([binary, "--benchmark_out_format=json", "--benchmark_out=" + path]
                                 + extra, check=True, capture_output=True, text=True).stdout
        with open(path) as f:
            results = json.load(f)
    print(console)
    figures = {}
    for b in results["benchmarks"]:
        name = b["name"].replace("/iterations:1", "").replace("/manual_time", "")
        figures[name] = b
    return figures


def main():
    before_binary, after_binary = sys.argv[1], sys.argv[2]
    only = ["--benchmark_filter=" + sys.argv[3]] if len(sys.argv) > 3 else []
    before = run(before_binary, only or ["--benchmark_filter=-/1000000"])
    after = run(after_binary, only)
    print(f"{'benchmark':44} {'before':>22} {'after':>22}")
    for name, b in after.items():
        def show(x):
            if x is None:
                return "(not run)"
            text = f"{x['real_time']:.1f} ms (cpu {x['cpu_time']:.1f})"
            if "peak_MB" in x:
                text = f"{x['real_time']:.0f} ms, {x['peak_MB']:.0f} MB"
            return text
        print(f"{name:44} {show(before.get(name)):>22} {show(b):>22}")
    for label, figures in (("before", before), ("after", after)):
        soup, shared = figures.get("BM_LoadAndComplete/1"), figures.get("BM_LoadAndComplete/0")
        if soup and shared:
            print(f"{label}: soup / shared: time {soup['real_time'] / shared['real_time']:.2f}x "
                  f"(goal 3x), peak memory {soup['peak_MB'] / shared['peak_MB']:.2f}x (goal 2.5x)")
        many, one = figures.get("BM_LoadWithChecksums/10000"), figures.get("BM_LoadWithChecksums/1")
        if many and one:
            print(f"{label}: 10,000 checksums / one: {many['real_time'] / one['real_time']:.2f}x "
                  f"(goal 2x)")


main()
