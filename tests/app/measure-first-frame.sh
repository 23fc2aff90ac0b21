#!/usr/bin/env bash
# Start-up speed of the viewer: from launching orvane-view on the 1M-triangle textured
# benchmark surface to its first frame on screen, under a virtual X display. Prints one line
# per run. Usage: tests/app/measure-first-frame.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
viewer="$build/app/orvane-view"
maker="$build/tests/app/make_sample"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$maker" --big "$work/big.osf"
echo "surface: $(du -m "$work/big.osf" | cut -f1) MB, 1000000 triangles, 4096 x 4096 texture"

export XDG_CONFIG_HOME="$work/config"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  viewer=$1; file=$2; runs=$3
  for i in $(seq "$runs"); do
    start=$(date +%s.%N)
    line=$("$viewer" --benchmark-first-frame "$file" | grep "first frame at")
    shown=${line##* at }; shown=${shown% s}
    echo "run $i: first frame $(awk -v a="$shown" -v b="$start" "BEGIN { printf \"%.2f\", a - b }") s after launch"
  done' _ "$viewer" "$work/big.osf" "$runs"
