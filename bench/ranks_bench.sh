#!/usr/bin/env bash
# 1 rank against 2 ranks of one worker each, on a network from the generator (400 stations, one
# day at 1 Hz by default); wall times and their ratio. Usage: ranks_bench.sh BUILD_DIR [STATIONS]
set -euo pipefail
build=$(cd "$1" && pwd)
stations=${2:-400}
here=$(cd "$(dirname "$0")/.." && pwd)
export SACAUX="$here/share" OMP_NUM_THREADS=1
root=()
[ "$(id -u)" = 0 ] && root=(--allow-run-as-root)
work=$(mktemp -d /tmp/xcn-ranks-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/xcn_synth" --stations "$stations" --out "$work/net" >/dev/null
run() {  # ranks
  rm -f "$work"/net/*_*.sac
  local start end
  start=$(date +%s.%N)
  (cd "$work/net" && mpirun "${root[@]}" --oversubscribe -np "$1" -x OMP_NUM_THREADS -x SACAUX \
    "$build/xcorrnet_v3" stations.txt names.txt B Y >/dev/null)
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
one=$(run 1)
two=$(run 2)
printf 'ranks bench: %d stations, one worker per rank: 1 rank %.1f s, 2 ranks %.1f s, speed-up %.2f\n' \
  "$stations" "$one" "$two" "$(echo "$one / $two" | bc -l)"
