#!/usr/bin/env bash
# 1 rank against 2 ranks of one worker each, on a network from the generator (400 stations, one
# day at 1 Hz by default), for the exact and the matrix engine: the median wall time of REPEAT
# runs each and their ratio. Usage: ranks_bench.sh BUILD_DIR [STATIONS] [REPEAT]
set -euo pipefail
build=$(cd "$1" && pwd)
stations=${2:-400}
repeat=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
export SACAUX="$here/share" OMP_NUM_THREADS=1
root=()
[ "$(id -u)" = 0 ] && root=(--allow-run-as-root)
work=$(mktemp -d /tmp/xcn-ranks-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/xcn_synth" --stations "$stations" --out "$work/net" >/dev/null
run() {  # ranks engine: seconds of one run from no results
  find "$work/net" -name '*_*.sac' -delete
  local start end
  start=$(date +%s.%N)
  (cd "$work/net" && XCN_ENGINE=$2 mpirun "${root[@]}" --oversubscribe -np "$1" \
    -x OMP_NUM_THREADS -x SACAUX -x XCN_ENGINE \
    "$build/xcorrnet_v3" stations.txt names.txt B Y >/dev/null)
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
for engine in fast matrix; do
  ones=() twos=()
  # Alternated, so that a change of the machine's load falls on both.
  for _ in $(seq "$repeat"); do
    ones+=("$(run 1 "$engine")")
    twos+=("$(run 2 "$engine")")
  done
  one=$(median "${ones[@]}")
  two=$(median "${twos[@]}")
  printf 'ranks bench: %s engine, %d stations, one worker per rank, median of %d: 1 rank %.1f s, 2 ranks %.1f s, speed-up %.2f\n' \
    "$engine" "$stations" "$repeat" "$one" "$two" "$(echo "$one / $two" | bc -l)"
done
