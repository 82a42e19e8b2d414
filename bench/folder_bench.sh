#!/usr/bin/env bash
# Results of a 1000-station network (500 500 files of 8632 bytes) created in one folder and in the
# per-record folders of xcn_names --folders, medians of 3 runs; the name lists are timed too.
# Needs about 4.5 GB free beside SCRATCH; every result file is removed again.
# Usage: bench/folder_bench.sh BUILD_DIR [STATIONS] [RUNS] [SCRATCH]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
stations=${2:-1000}
runs=${3:-3}
scratch=${4:-$build/bench-folders}
export SACAUX=$PWD/share
mkdir -p "$scratch"
cd "$scratch"
if [ ! -f "stations.$stations" ]; then
  rm -rf net
  "$build/xcn_synth" --stations "$stations" --samples 100 --out net >/dev/null
  touch "stations.$stations"
fi
# The station list names its records relative to net/: everything runs there.
cd net
rm -rf ../flat ../tree
mkdir ../flat ../tree
TIMEFORMAT='%R'
echo "name list of $stations stations, one folder: $({ time "$build/xcn_names" stations.txt \
  ../flat.txt ../flat; } 2>&1) s"
echo "name list of $stations stations, --folders:  $({ time "$build/xcn_names" --folders \
  stations.txt ../tree.txt ../tree; } 2>&1) s"
"$build/bench_folders" ../flat.txt "$runs"
"$build/bench_folders" ../tree.txt "$runs"
rm -rf ../flat ../tree ../flat.txt ../tree.txt
