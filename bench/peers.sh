#!/usr/bin/env bash
# Side-by-side benchmark against a peer viewer (f3d, from Debian) and the floor (bench/
# floor_viewer.c: the least a viewer must do, in plain C and OpenGL 1.1) on the benchmark
# sphere: launch to first frame, launch until idle (every background job done: the peak
# memory of the whole load), osftool info and osftool export, at 1M and 4M triangles (16M
# with --16m, 64M with --64m). Wall time and peak RSS from /usr/bin/time -v, medians of
# the runs (the programs take turns run by run), all under one Xvfb. Prints one markdown table with the ratios to the peer.
# Not part of the test suite.
#
#   bench/peers.sh [--16m] [--64m] [--sizes "1 4"] [--runs N] [--build DIR] [--before DIR] [--data DIR]
#                  [--no-export] [--no-formats] [--no-materials]
#
#   --sizes LIST  the sizes in millions of triangles (default "1 4"; --16m adds 16, --64m
#                 adds 16 and 64: the 64M sphere takes about 3 GB as .osf and 1.5 GB as PLY)
#   --build DIR   the build folder with orvane-view, osftool and make_sample (default: build)
#   --before DIR  a build folder of another commit, measured in the same run as "before"
#   --data DIR    where the surfaces are made and kept between runs (default: /tmp/orvane-peers)
#   --no-formats  leave out the sphere as OBJ and as binary PLY written by osftool convert
#   --no-materials  leave out the 4M-triangle OBJ with 8 materials of 4096 x 4096 pixels
#   --only REGEX  measure only the works whose label matches (grep -E), e.g. "info|as ply"
#
# More rows: add a line to the work list below (see add_work); each work is measured once
# per program column that has a command for it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
before=
data=/tmp/orvane-peers
runs=3
sizes=(1 4)
do_export=1
do_formats=1
do_materials=1
only=
while [ $# -gt 0 ]; do
  case $1 in
    --16m) sizes=(1 4 16) ;;
    --64m) sizes=(1 4 16 64) ;;
    --sizes) read -r -a sizes <<<"$2"; shift ;;
    --runs) runs=$2; shift ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    --before) before=$(cd "$2" && pwd); shift ;;
    --data) data=$2; shift ;;
    --no-export) do_export=0 ;;
    --no-formats) do_formats=0 ;;
    --no-materials) do_materials=0 ;;
    --only) only=$2; shift ;;
    *) echo "usage: bench/peers.sh [--16m] [--64m] [--sizes LIST] [--runs N] [--build DIR] [--before DIR] [--data DIR] [--no-export] [--no-formats] [--no-materials] [--only REGEX]" >&2; exit 64 ;;
  esac
  shift
done

# The peer viewer is installed for the benchmark only, never by scripts/install-deps.
if ! command -v f3d >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends f3d
  else
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends f3d
  fi
fi
for tool in Xvfb /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "peers.sh: $tool is missing" >&2; exit 1; }
done

find_tool() {  # DIR NAME: the program's path in a build folder (not a copy installed by a test)
  local found
  for place in app tools bench tests/app; do
    [ -x "$1/$place/$2" ] && [ -f "$1/$place/$2" ] && { echo "$1/$place/$2"; return; }
  done
  found=$(find "$1" -type f -name "$2" -perm -u+x -not -path '*/test-tmp/*' -not -path '*/_CPack_Packages/*' 2>/dev/null | head -1)
  [ -n "$found" ] || { echo "peers.sh: no $2 in $1" >&2; exit 1; }
  echo "$found"
}
make_sample=$(find_tool "$build" make_sample)
floor_viewer=$(find_tool "$build" floor_viewer)

mkdir -p "$data"
for m in "${sizes[@]}"; do
  if [ ! -s "$data/sphere$m.png" ]; then
    echo "making the ${m}M-triangle sphere..." >&2
    "$make_sample" --sphere "$m" "$data/sphere$m.osf" "$data/sphere$m.ply" "$data/sphere$m.png"
  fi
done

# One virtual display for every run.
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
scratch=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
export DISPLAY=$display
sleep 1

# measure KEY COMMAND...: runs it once and adds its wall time (s) and peak RSS (MiB) to KEY's
# runs; a failed run marks KEY as failed. finish KEY keeps the medians as wall[KEY] and
# rss[KEY]. The programs take turns run by run, so that a machine whose load drifts during
# the benchmark weighs on each of them alike.
declare -A wall rss walls rsses failed
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
measure() {
  local key=$1; shift
  [ -n "${failed[$key]+x}" ] && return 0
  if ! /usr/bin/time -v -o "$scratch/time" "$@" >"$scratch/out" 2>&1; then
    echo "peers.sh: failed: $*" >&2
    tail -5 "$scratch/out" >&2
    failed[$key]=1
    return
  fi
  walls[$key]+="$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + t[k]; print s }' "$scratch/time") "
  rsses[$key]+="$(awk -F': ' '/Maximum resident set size/ { print $2 / 1024 }' "$scratch/time") "
}
finish() {
  local key=$1
  if [ -n "${failed[$key]+x}" ]; then
    wall[$key]=failed; rss[$key]=failed
  elif [ -n "${walls[$key]+x}" ]; then
    wall[$key]=$(printf '%s\n' ${walls[$key]} | median)
    rss[$key]=$(printf '%s\n' ${rsses[$key]} | median)
  else
    return 0
  fi
  echo "  $key: ${wall[$key]} s, ${rss[$key]} MiB (runs: ${walls[$key]:-})" >&2
}

# Program columns: "after" (this build), optionally "before", the floor and the peer.
columns=(after)
[ -n "$before" ] && columns=(before after)
view_after=$(find_tool "$build" orvane-view)
osftool_after=$(find_tool "$build" osftool)
if [ -n "$before" ]; then
  view_before=$(find_tool "$before" orvane-view)
  osftool_before=$(find_tool "$before" osftool)
fi

# The works: "label|kind|size". Kinds: view (launch to first frame), export (osftool).
works=()
add_work() {
  if [ -z "$only" ] || grep -qE "$only" <<<"${1%%|*}"; then works+=("$1"); fi
}
for m in "${sizes[@]}"; do add_work "launch to first frame, ${m}M triangles|view|$m"; done
# Until idle: the viewer's peak is that of the whole load, deferred lists and coarse copy
# included. The floor and f3d have no background work: their columns repeat the first frame.
for m in "${sizes[@]}"; do add_work "launch until idle, ${m}M triangles|idle|$m"; done
for m in "${sizes[@]}"; do add_work "osftool info, ${m}M triangles|info|$m"; done
if [ "$do_export" -eq 1 ]; then
  for m in "${sizes[@]}"; do add_work "osftool export, ${m}M triangles|export|$m"; done
fi
# Other programs' files: the sphere converted by osftool to OBJ (+ .mtl + .png) and binary
# PLY (texture named in the file, .png beside it); both programs open the same file.
if [ "$do_formats" -eq 1 ]; then
  for m in "${sizes[@]}"; do
    for format in obj ply; do
      if [ ! -s "$data/sphere$m-converted.$format" ]; then
        "$osftool_after" convert "$data/sphere$m.osf" "$data/sphere$m-converted.$format"
      fi
      add_work "launch to first frame, ${m}M triangles as $format|view-$format|$m"
    done
    # Until idle from PLY too: the deferred lists and the coarse copy come after that load.
    add_work "launch until idle, ${m}M triangles as ply|idle-ply|$m"
  done
fi

# A photogrammetry-like model: 4M triangles in OBJ, 8 materials with a 4096 x 4096 picture
# each (made by make_sample); both programs read the materials from the .mtl.
if [ "$do_materials" -eq 1 ]; then
  if [ ! -s "$data/materials8.obj" ]; then
    echo "making the 4M-triangle OBJ with 8 materials..." >&2
    "$make_sample" --obj-materials 4 8 "$data/materials8.obj"
  fi
  add_work "launch to first frame, 4M triangles as OBJ with 8 materials of 4096x4096|view-materials|4"
  # Until idle: the pictures are kept packed by then.
  add_work "launch until idle, 4M triangles as OBJ with 8 materials of 4096x4096|idle-materials|4"
fi

# run_work COLUMN KIND SIZE: measures one cell (nothing when the column has no command).
run_work() {
  local column=$1 kind=$2 m=$3 key="$1|$2|$3"
  case $column:$kind in
    before:view | after:view)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-first-frame "$data/sphere$m.osf" ;;
    before:idle | after:idle)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-idle "$data/sphere$m.osf" ;;
    before:info | after:info)
      local o=osftool_$column
      measure "$key" "${!o}" info "$data/sphere$m.osf" ;;
    floor:view | floor:idle)
      measure "$key" "$floor_viewer" "$data/sphere$m.ply" "$data/sphere$m.png" ;;
    floor:view-ply | floor:idle-ply)
      measure "$key" "$floor_viewer" "$data/sphere$m-converted.ply" "$data/sphere$m-converted_ply.png" ;;
    # The floor again with the allocator asking for huge pages, as the viewer's does.
    hugefloor:view | hugefloor:idle)
      measure "$key" env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$floor_viewer" "$data/sphere$m.ply" "$data/sphere$m.png" ;;
    hugefloor:view-ply | hugefloor:idle-ply)
      measure "$key" env GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$floor_viewer" "$data/sphere$m-converted.ply" "$data/sphere$m-converted_ply.png" ;;
    before:export | after:export)
      local o=osftool_$column
      measure "$key" "${!o}" export "$data/sphere$m.osf" "$scratch/export.wrl"
      rm -f "$scratch/export.wrl" ;;
    peer:view | peer:idle)
      measure "$key" f3d --output="$scratch/f3d.png" --resolution=800,600 \
        --texture-base-color="$data/sphere$m.png" "$data/sphere$m.ply" ;;
    before:view-materials | after:view-materials)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-first-frame "$data/materials8.obj" ;;
    before:idle-materials | after:idle-materials)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-idle "$data/materials8.obj" ;;
    peer:view-materials | peer:idle-materials)
      measure "$key" f3d --output="$scratch/f3d.png" --resolution=800,600 "$data/materials8.obj" ;;
    before:idle-ply | after:idle-ply)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-idle "$data/sphere$m-converted.ply" ;;
    peer:idle-ply)
      measure "$key" f3d --output="$scratch/f3d.png" --resolution=800,600 \
        --texture-base-color="$data/sphere$m-converted_ply.png" "$data/sphere$m-converted.ply" ;;
    before:view-* | after:view-*)
      local v=view_$column
      measure "$key" "${!v}" --benchmark-first-frame "$data/sphere$m-converted.${kind#view-}" ;;
    peer:view-*)
      measure "$key" f3d --output="$scratch/f3d.png" --resolution=800,600 \
        --texture-base-color="$data/sphere$m-converted_${kind#view-}.png" "$data/sphere$m-converted.${kind#view-}" ;;
  esac
}

for work in "${works[@]}"; do
  IFS='|' read -r label kind m <<<"$work"
  echo "$label" >&2
  for ((i = 0; i < runs; i++)); do
    for column in "${columns[@]}" floor hugefloor peer; do run_work "$column" "$kind" "$m"; done
  done
  for column in "${columns[@]}" floor hugefloor peer; do finish "$column|$kind|$m"; done
done

cell() {  # KEY: "wall s, rss MiB" or "-"
  local key=$1
  if [ -z "${wall[$key]+x}" ]; then echo "-"; return; fi
  if [ "${wall[$key]}" = failed ]; then echo "failed"; return; fi
  printf '%.2f s, %.0f MiB' "${wall[$key]}" "${rss[$key]}"
}
ratio() {  # KEY PEERKEY: "time x, memory x" against the peer, or against KEY's 1M row
  local a=$1 b=$2
  if [ -z "${wall[$a]+x}" ] || [ -z "${wall[$b]+x}" ] || [ "${wall[$a]}" = failed ] || [ "${wall[$b]}" = failed ]; then
    echo "-"; return
  fi
  awk -v ta="${wall[$a]}" -v tb="${wall[$b]}" -v ma="${rss[$a]}" -v mb="${rss[$b]}" \
    'BEGIN { printf "%.2fx, %.2fx", ta / tb, ma / mb }'
}

echo
echo "Medians of $runs runs taken in turns, $(nproc) cores, $(glxinfo 2>/dev/null | awk -F': ' '/OpenGL renderer/ { print $2 }' || true) under Xvfb; f3d $(f3d --version 2>/dev/null | awk 'NR == 1 { print $2 }'); $(date -u '+%Y-%m-%d %H:%M UTC')."
echo
header="| work |"; rule="|---|"
for column in "${columns[@]}"; do header+=" this project ($column) |"; rule+="---|"; done
header+=" floor | floor with huge pages | peer f3d | ratio to the floor (time, memory) | ratio to the peer (time, memory) | growth from the size before (time, memory) |"
rule+="---|---|---|---|---|---|"
echo "$header"
echo "$rule"
previous=()
for work in "${works[@]}"; do
  IFS='|' read -r label kind m <<<"$work"
  line="| $label |"
  for column in "${columns[@]}"; do line+=" $(cell "$column|$kind|$m") |"; done
  line+=" $(cell "floor|$kind|$m") | $(cell "hugefloor|$kind|$m") | $(cell "peer|$kind|$m") |"
  if [ "$kind" = info ]; then
    # osftool info has no peer: it is compared with the viewer's own first frame.
    line+=" $(ratio "after|info|$m" "after|view|$m") of the viewer's first frame | - |"
  else
    line+=" $(ratio "after|$kind|$m" "floor|$kind|$m") | $(ratio "after|$kind|$m" "peer|$kind|$m") |"
  fi
  # The same work at the size before (1M to 4M, 4M to 16M): linear growth is the size ratio.
  before_size=
  for p in "${previous[@]}"; do [ "${p%%|*}" = "$kind" ] && before_size=${p#*|}; done
  if [ -n "$before_size" ]; then
    line+=" $(ratio "after|$kind|$m" "after|$kind|$before_size") (${m}M / ${before_size}M) |"
  else
    line+=" - |"
  fi
  previous+=("$kind|$m")
  echo "$line"
done
