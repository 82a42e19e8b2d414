#!/usr/bin/env bash
# One day at 1 Hz of N stations (100 and 1000 by default), matrix engine: the run into SAC files
# against the run into one container, and the processor floor (the run's correlation time
# alone: its windows, spectra and products, from the run's own timing, over the workers).
# Medians of REPEAT runs each, alternated so that a change of the machine's load falls on
# both. Usage: container_bench.sh BUILD_DIR [REPEAT] [STATIONS...]
set -euo pipefail
build=$(cd "$1" && pwd)
repeat=${2:-3}
shift $(($# < 2 ? $# : 2))
stations=("$@")
[ ${#stations[@]} -gt 0 ] || stations=(100 1000)
here=$(cd "$(dirname "$0")/.." && pwd)
export SACAUX="$here/share" XCN_TIMING=1 XCN_ENGINE=matrix
workers=${OMP_NUM_THREADS:-$(nproc)}
work=$(mktemp -d /tmp/xcn-container-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# Runs xcorrnet_v3 into $2 in network $1; prints "wall floor": seconds end to end, and the
# floor from its timing lines (windows + spectra + correlation processor time / workers).
run() {
  local net=$1 out=$2 start end
  find "$net" -name '*_*.sac' -delete
  rm -f "$net/run.nc"
  start=$(date +%s.%N)
  (cd "$net" && "$build/xcorrnet_v3" stations.txt "$out" B Y >/dev/null 2>"$work/timing")
  end=$(date +%s.%N)
  local floor
  floor=$(sed -n 's/.*matrix engine: windows \([0-9.]*\) s.*spectra \([0-9.]*\) s, pairs.*correlation \([0-9.]*\) s.*/\1 \2 \3/p' \
    "$work/timing" | awk -v w="$workers" '{printf "%.3f", $1 + $2 + $3 / w}')
  echo "$(echo "$end - $start" | bc) ${floor:-0}"
}
for n in "${stations[@]}"; do
  net="$work/net$n"
  "$build/xcn_synth" --stations "$n" --out "$net" >/dev/null
  pairs=$((n * (n + 1) / 2))
  sac=() nc=() floors=() bytes=0 sac_bytes=0
  for _ in $(seq "$repeat"); do
    read -r wall floor < <(run "$net" names.txt)
    sac+=("$wall")
    sac_bytes=$(find "$net" -name '*_*.sac' -printf '%s\n' | awk '{s += $1} END {printf "%.0f", s}')
    read -r wall floor < <(run "$net" run.nc)
    nc+=("$wall") floors+=("$floor")
    bytes=$(stat -c %s "$net/run.nc")
  done
  s=$(median "${sac[@]}") c=$(median "${nc[@]}") f=$(median "${floors[@]}")
  printf 'container bench: %d stations (%d results), %d workers, median of %d\n' "$n" "$pairs" "$workers" "$repeat"
  printf '  SAC files:   %7.2f s  %8.0f files/s  %6.1f MB/s\n' "$s" "$(echo "$pairs / $s" | bc -l)" \
    "$(echo "$sac_bytes / $s / 1000000" | bc -l)"
  printf '  container:   %7.2f s  %8.0f results/s  %6.1f MB/s  (%.1f MB)\n' "$c" \
    "$(echo "$pairs / $c" | bc -l)" "$(echo "$bytes / $c / 1000000" | bc -l)" "$(echo "$bytes / 1000000" | bc -l)"
  printf '  floor:       %7.2f s  (windows, spectra and correlation alone)\n' "$f"
  printf '  container over floor %.2f, SAC files over container %.2f\n' "$(echo "$c / $f" | bc -l)" \
    "$(echo "$s / $c" | bc -l)"
  rm -rf "$net"
done
