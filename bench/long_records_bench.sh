#!/usr/bin/env bash
# Records of any length and rate under a memory budget: synthetic networks of one day at 20 Hz
# (100 stations, the matrix engine; 10 stations, the exact engine too), one day at 100 Hz (20
# stations), 30 days at 1 Hz (100 stations) and, for comparison, one day at 1 Hz (100 stations).
# Each run from no results, mode B, XCN_MEMORY_BUDGET as given: wall time, processor time per
# pair and per pair and window, the matrix products' processor time per pair, window and
# frequency bin, and the peak memory against the budget.
# Usage: long_records_bench.sh BUILD_DIR [BUDGET_MIB] [WORKERS]
set -euo pipefail
build=$(cd "$1" && pwd)
budget=${2:-2000}
workers=${3:-2}
here=$(cd "$(dirname "$0")/.." && pwd)
export SACAUX="$here/share" OMP_NUM_THREADS=$workers
work=$(mktemp -d /tmp/xcn-long-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# run NAME STATIONS SAMPLES DELTA ENGINE
run() {
  local name=$1 stations=$2 samples=$3 delta=$4 engine=$5
  local dir="$work/$name"
  if [ ! -d "$dir" ]; then
    "$build/xcn_synth" --stations "$stations" --samples "$samples" --delta "$delta" \
      --out "$dir" >/dev/null
  fi
  (cd "$dir" && while read -r n; do rm -f "$n"; done <names.txt)
  local start end
  start=$(date +%s.%N)
  (cd "$dir" && XCN_ENGINE=$engine XCN_TIMING=1 XCN_MEMORY_BUDGET=$budget \
    /usr/bin/time -f "time %U %S %M" "$build/xcorrnet_v3" stations.txt names.txt B Y \
    >out.txt 2>err.txt) || { echo "$name $engine: the run failed"; cat "$dir/err.txt"; return 1; }
  end=$(date +%s.%N)
  awk -v name="$name" -v engine="$engine" -v stations="$stations" -v samples="$samples" \
    -v delta="$delta" -v wall="$(echo "$end - $start" | bc)" -v budget="$budget" '
    /^time / { cpu = $2 + $3; peak = $4 / 1024 }
    /matrix engine: windows/ {
      if (match($0, /of which products [0-9.]+/)) products = substr($0, RSTART + 18, RLENGTH - 18)
    }
    END {
      pairs = stations * (stations + 1) / 2
      nptlen = int(2000 / delta + 0.5); step = int(200 / delta + 0.5)
      windows = int((samples - nptlen) / step) + 1
      npt = 1; while (npt < nptlen) npt *= 2
      bins = npt / 2 + 1
      printf "%-14s %-6s %4d stations %9d samples at %5g s: %7.1f s wall, %8.1f ms/pair, %7.2f us/pair/window", \
        name, engine, stations, samples, delta, wall, 1e3 * cpu / pairs, 1e6 * cpu / pairs / windows
      if (products > 0) printf ", products %.3f ns/pair/window/bin", 1e9 * products / pairs / windows / bins
      printf ", peak %6.0f MiB of a budget of %d MiB (%s)\n", peak, budget, peak <= 1.1 * budget ? "within 10 %" : "ABOVE"
    }' "$dir/err.txt"
  grep "timing:" "$dir/err.txt" | sed 's/^/    /'
}

echo "records of any length: mode B, $workers workers, XCN_MEMORY_BUDGET=$budget"
run day-1hz 100 86400 1 matrix
run day-20hz 100 1728000 0.05 matrix
run day-20hz-10 10 1728000 0.05 matrix
run day-20hz-10 10 1728000 0.05 exact
run day-100hz 20 8640000 0.01 matrix
run month-1hz 100 2592000 1 matrix
