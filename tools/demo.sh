#!/usr/bin/env bash
# The demo: xcorrnet_v3 on the built-in synthetic network, where its correlation peaks lie, and
# its record section (when xcn_section is built, which needs cairo).
# Usage: tools/demo.sh [BUILD_DIR]   (BUILD_DIR relative to the repository, default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
scratch=$build/demo
export SACAUX=$PWD/share

for program in xcorrnet_v3 xcn_synth xcn_demo_report; do
  if [ ! -x "$build/$program" ]; then
    echo "demo: $build/$program is not built (run make demo)" >&2
    exit 1
  fi
done

rm -rf "$scratch"
mkdir -p "$scratch"
"$build/xcn_synth" --out "$scratch"

# The tool's own lines go to a log, so the table stands alone.
log=$scratch/xcorrnet.log
start=$(date +%s%N)
if ! (cd "$scratch" && "../xcorrnet_v3" stations.txt names.txt B Y >xcorrnet.log 2>&1); then
  echo "demo: xcorrnet_v3 failed; its output is in $log" >&2
  exit 1
fi
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
pairs=$(wc -l <"$scratch/names.txt")
printf 'xcorrnet_v3 computed %d pairs in %d.%01d s; its console output is in %s\n' \
  "$pairs" $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100)) "$log"
echo
echo "Largest peak on each side of every cross-correlation; a positive lag is a later arrival"
echo "at the second station. Expected: +/- distance / 3 km/s, the speed of the noise waves."
echo
status=0
(cd "$scratch" && "../xcn_demo_report" stations.txt names.txt) || status=$?

echo
if [ -x "$build/xcn_section" ]; then
  picture=$scratch/record_section.png
  if (cd "$scratch" && "../xcn_section" names.txt record_section.png >/dev/null); then
    echo "Record section (every cross-correlation at its distance against lag time, with the"
    echo "lines lag = +/- distance / 3 km/s): $picture"
  else
    echo "demo: xcn_section could not draw the record section" >&2
    status=1
  fi
else
  echo "No record section: $build/xcn_section is not built (it needs cairo: libcairo2-dev)."
fi
exit $status
