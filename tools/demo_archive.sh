#!/usr/bin/env bash
# The archive demo: the synthetic network as a miniSEED SDS archive at 20 Hz with gaps and
# start offsets, prepared by xcn_prep, correlated by xcorrnet_v3, its peaks checked and drawn.
# Usage: tools/demo_archive.sh [BUILD_DIR]   (relative to the repository, default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
root=$PWD
scratch=$build/demo-archive
export SACAUX=$PWD/share

for program in xcorrnet_v3 xcn_synth xcn_prep xcn_demo_report; do
  if [ ! -x "$build/$program" ]; then
    echo "demo-archive: $build/$program is not built (it needs libmseed-dev, libxml2-dev and" \
      "libsoxr-dev; run make demo-archive)" >&2
    exit 1
  fi
done

rm -rf "$scratch"
mkdir -p "$scratch"
"$build/xcn_synth" --sds --out "$scratch"
"$build/xcn_prep" --sds "$scratch/sds" --start 2024-01-05 --meta "$scratch/stations.xml" \
  --out "$scratch/prep" 2>"$scratch/xcn_prep.log"
day=$scratch/prep/2024.005

log=$day/xcorrnet.log
start=$(date +%s%N)
if ! (cd "$day" && "$root/$build/xcorrnet_v3" stations.txt names.txt B Y >xcorrnet.log 2>&1); then
  echo "demo-archive: xcorrnet_v3 failed; its output is in $log" >&2
  exit 1
fi
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
printf 'xcorrnet_v3 computed %d pairs in %d.%01d s; its console output is in %s\n' \
  "$(wc -l <"$day/names.txt")" $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100)) "$log"
echo
status=0
(cd "$day" && "$root/$build/xcn_demo_report" stations.txt names.txt) || status=$?
echo
if [ -x "$build/xcn_section" ]; then
  if (cd "$day" && "$root/$build/xcn_section" names.txt record_section.png >/dev/null); then
    echo "Record section: $day/record_section.png"
  else
    echo "demo-archive: xcn_section could not draw the record section" >&2
    status=1
  fi
fi
exit $status
