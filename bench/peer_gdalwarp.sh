#!/bin/bash
# Peer comparison: the same simulated pass gridded by our rectifier
# ("cindrel orthorectify", from the recorded log and the elevation raster)
# and by GDAL's geolocation-array warping ("gdalwarp -geoloc", bilinear,
# from the simulator's per-pixel ray-traced positions), at the same cell
# size on the same transverse Mercator meridian. Prints the CPU time (user
# + system) and peak memory of each, run by run, and the ratio.
#
#   bench/peer_gdalwarp.sh [BUILD_DIR] [LINES] [RUNS]
#   (defaults: build, 10000, 3; the two programs alternate)
#
# CPU time, not wall time, is the figure: the machine may be shared.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
LINES=${2:-10000}
RUNS=${3:-3}
for tool in gdalwarp /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "peer_gdalwarp: $tool is missing" >&2; exit 1; }
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$BUILD/bench/swath_export" "$WORK" "$LINES" >/dev/null
cd "$WORK"
export CINDREL_C_DRIVE="$WORK/c-drive" QT_QPA_PLATFORM=offscreen
mkdir -p ours peer

# cpu_of FILE: "user+system seconds" and "peak MB" written by /usr/bin/time.
cpu_of() { awk '{printf "%.2f %.0f", $1 + $2, $3 / 1024}' "$1"; }

ours_total=0
peer_total=0
for run in $(seq "$RUNS"); do
  /usr/bin/time -f "%U %S %M" -o ours.time \
    "$BUILD/tools/cindrel" orthorectify 20240715_1432_Peer_1.plf --out ours --quiet >ours.txt
  read -r ours_cpu ours_mb <<<"$(cpu_of ours.time)"
  # The grid of our products: cell size and meridian.
  cell=$(sed -n 's/.*cell \([0-9.]*\) m.*/\1/p' ours.txt)
  meridian=$(sed -n 's/.*central meridian \(-\?[0-9]*\).*/\1/p' ours.txt)
  rm -f peer/swath.tif
  /usr/bin/time -f "%U %S %M" -o peer.time \
    gdalwarp -q -geoloc -r bilinear -tr "$cell" "$cell" -ot Int16 -dstnodata -32768 \
      -t_srs "+proj=tmerc +lat_0=0 +lon_0=$meridian +k=0.9996 +x_0=500000 +y_0=0 +ellps=GRS80 +units=m" \
      swath.vrt peer/swath.tif
  read -r peer_cpu peer_mb <<<"$(cpu_of peer.time)"
  echo "run $run: cindrel orthorectify ${ours_cpu} s CPU, ${ours_mb} MB; gdalwarp -geoloc ${peer_cpu} s CPU, ${peer_mb} MB (cell ${cell} m)"
  ours_total=$(awk -v a="$ours_total" -v b="$ours_cpu" 'BEGIN {print a + b}')
  peer_total=$(awk -v a="$peer_total" -v b="$peer_cpu" 'BEGIN {print a + b}')
done
awk -v o="$ours_total" -v p="$peer_total" -v n="$RUNS" -v l="$LINES" 'BEGIN {
  printf "%d lines, %d runs: cindrel %.2f s CPU (%.0f lines/s), gdalwarp %.2f s CPU; gdalwarp / cindrel = %.2f\n",
         l, n, o / n, l * n / o, p / n, p / o }'
