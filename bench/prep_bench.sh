#!/usr/bin/env bash
# xcn_prep's throughput: station-days per second for 100 Hz Steim-2 day files (an SDS archive
# made by xcn_synth --sds) to records at 1 Hz and at 20 Hz.
# Usage: bench/prep_bench.sh BUILD_DIR [STATIONS] [REPEAT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
stations=${2:-16}
repeat=${3:-3}
export SACAUX=$PWD/share
scratch=$build/bench-prep
mkdir -p "$scratch"
if [ ! -f "$scratch/stations.$stations" ]; then
  rm -rf "$scratch/sds" "$scratch/stations.xml"
  "$build/xcn_synth" --sds --rate 100 --stations "$stations" --out "$scratch" >/dev/null
  touch "$scratch/stations.$stations"
fi
echo "xcn_prep: $stations station-days of 100 Hz Steim-2 ($(du -sh "$scratch/sds" | cut -f1)" \
  "of miniSEED), $(nproc) processors, median of $repeat runs"
printf '%-28s %10s %10s %20s\n' "output" "wall (s)" "cpu (s)" "station-days per s"
for mode in "1 Hz|--delta 1" "20 Hz, 2-hour records|--delta 0.05 --span 7200"; do
  label=${mode%%|*}
  flags=${mode#*|}
  runs=()
  for ((r = 0; r < repeat; r++)); do
    rm -rf "$scratch/out"
    TIMEFORMAT='%R %U %S'
    t=$({ time "$build/xcn_prep" --sds "$scratch/sds" --start 2024-01-05 \
      --meta "$scratch/stations.xml" --out "$scratch/out" $flags >/dev/null 2>&1; } 2>&1)
    runs+=("$t")
  done
  median=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n "$(((repeat + 1) / 2))p")
  read -r wall user sys <<<"$median"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v n="$stations" \
    'BEGIN { printf "%-28s %10.2f %10.2f %20.1f\n", l, w, u + s, n / w }'
done
