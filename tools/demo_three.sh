#!/usr/bin/env bash
# Three components: a synthetic network of two horizontals and a vertical a station, correlated
# by xcorrnet_v3, rotated by xcn_rotate, and its TT and ZZ record sections side by side (when
# xcn_section is built, which needs cairo). Not part of make demo.
# Usage: tools/demo_three.sh [BUILD_DIR]   (BUILD_DIR relative to the repository, default
# build-release; build the target xcn_demo_programs there first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
scratch=$build/demo-three
export SACAUX=$PWD/share

for program in xcorrnet_v3 xcn_synth xcn_rotate; do
  if [ ! -x "$build/$program" ]; then
    echo "demo_three: $build/$program is not built (build the target xcn_demo_programs)" >&2
    exit 1
  fi
done

rm -rf "$scratch"
"$build/xcn_synth" --three --orient 12 --out "$scratch"
if ! (cd "$scratch" && "../xcorrnet_v3" stations.txt names.txt B Y >xcorrnet.log 2>&1); then
  echo "demo_three: xcorrnet_v3 failed; its output is in $scratch/xcorrnet.log" >&2
  exit 1
fi
echo "xcorrnet_v3 computed $(wc -l <"$scratch/names.txt") pairs of 18 records in $scratch"
(cd "$scratch" && "../xcn_rotate" --out rot names.txt)
if [ ! -x "$build/xcn_section" ]; then
  echo "demo_three: xcn_section is not built (it needs cairo): no record sections"
  exit 0
fi
# Love waves (3.5 km/s) in TT, Rayleigh waves (3 km/s) in ZZ.
(cd "$scratch/rot" && "../../xcn_section" names.txt tt_section.png --comp TT --velocity 3.5 &&
  "../../xcn_section" names.txt zz_section.png --comp ZZ --velocity 3)
echo "Love waves on the lines lag = +/- distance / 3.5 km/s: $scratch/rot/tt_section.png"
echo "Rayleigh waves on those of 3 km/s: $scratch/rot/zz_section.png"
