#!/usr/bin/env bash
# Opening other programs' files: the 1M-triangle benchmark surface (make_sample --big,
# 4096 x 4096 texture) converted by osftool to OBJ (+ .mtl + .png) and to binary PLY, then
# opened by orvane-view (launch to its first frame on screen) and by f3d (launch to its
# first frame written off-screen, the nearest it reports), under a virtual X display.
# Prints the median of RUNS runs of each and the ratio, ours / f3d's, and beside them the
# viewer on the .osf the files were made from (which f3d does not read).
# Usage: bench/peers_formats.sh [BUILD_DIR] [RUNS]    (installs f3d when missing, as root)
set -euo pipefail
build=${1:-build}
runs=${2:-3}
viewer="$build/app/orvane-view"
tool="$build/tools/osftool"
maker="$build/tests/app/make_sample"
if ! command -v f3d >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends f3d >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$maker" --big "$work/big.osf"
"$tool" convert "$work/big.osf" "$work/big.obj"
"$tool" convert "$work/big.osf" "$work/big.ply"
echo "surface: 1000000 triangles, 4096 x 4096 texture; OBJ $(du -m "$work/big.obj" | cut -f1) MB," \
  "PLY $(du -m "$work/big.ply" | cut -f1) MB"

export XDG_CONFIG_HOME="$work/config"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  viewer=$1; work=$2; runs=$3
  median() { sort -n | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
  for format in osf obj ply; do
    file="$work/big.$format"
    ours=$(for i in $(seq "$runs"); do
      start=$(date +%s.%N)
      line=$("$viewer" --benchmark-first-frame "$file" | grep "first frame at")
      shown=${line##* at }; shown=${shown% s}
      awk -v a="$shown" -v b="$start" "BEGIN { printf \"%.2f\n\", a - b }"
    done | median)
    if [ "$format" = osf ]; then
      echo "osf: orvane-view first frame $ours s"
      continue
    fi
    peer=$(for i in $(seq "$runs"); do
      start=$(date +%s.%N)
      f3d --resolution=1280,1024 --output="$work/f3d.png" "$file" >/dev/null 2>&1
      end=$(date +%s.%N)
      awk -v a="$end" -v b="$start" "BEGIN { printf \"%.2f\n\", a - b }"
    done | median)
    echo "$format: orvane-view first frame $ours s, f3d $peer s, ratio $(awk -v a="$ours" -v b="$peer" "BEGIN { printf \"%.2f\", a / b }")"
  done' _ "$viewer" "$work" "$runs"
