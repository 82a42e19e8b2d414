#!/usr/bin/env bash
# The demo: xcorrnet_v3 on the built-in synthetic network, where its correlation peaks lie, the
# stacks of three such days, their record sections (when xcn_section is built, which needs
# cairo), and the velocity change of eight dated days measured by xcn_dvv.
# Usage: tools/demo.sh [BUILD_DIR]   (BUILD_DIR relative to the repository, default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
scratch=$build/demo
export SACAUX=$PWD/share

for program in xcorrnet_v3 xcn_synth xcn_demo_report xcn_stack xcn_dvv; do
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

# Two more days of the same network, each with noise of its own (another seed), and the
# stacks of the three days.
for day in 2 3; do
  "$build/xcn_synth" --seed $((20240611 + day - 1)) --out "$scratch/day$day" >/dev/null
  if ! (cd "$scratch/day$day" && "../../xcorrnet_v3" stations.txt names.txt B Y \
    >xcorrnet.log 2>&1); then
    echo "demo: xcorrnet_v3 failed on day $day; its output is in $scratch/day$day/xcorrnet.log" >&2
    exit 1
  fi
done
if ! (cd "$scratch" && "../xcn_stack" --out stack names.txt day2/names.txt day3/names.txt \
  >stack.log 2>&1); then
  echo "demo: xcn_stack failed; its output is in $scratch/stack.log" >&2
  exit 1
fi
echo
echo "Three days (seeds 20240611 to 20240613) stacked by xcn_stack into $scratch/stack:"
grep -E 'pairs over|stacks written' "$scratch/stack.log"
# The stacks' peaks, checked as the day's were; the table is printed only when one is off.
sed 's|^|stack/|' "$scratch/stack/pws.txt" >"$scratch/stack_names.txt"
if (cd "$scratch" && "../xcn_demo_report" stations.txt stack_names.txt >stack_report.txt); then
  printf 'Phase-weighted stacks: %s\n' "$(tail -n 1 "$scratch/stack_report.txt")"
else
  cat "$scratch/stack_report.txt"
  status=1
fi

echo
if [ -x "$build/xcn_section" ]; then
  picture=$scratch/record_section.png
  if (cd "$scratch" && "../xcn_section" names.txt record_section.png >/dev/null); then
    echo "Record section (every cross-correlation at its distance against lag time, with the"
    echo "lines lag = +/- distance / 3 km/s): $picture"
    if (cd "$scratch/stack" && "../../xcn_section" pws.txt pws_section.png >/dev/null); then
      echo "and of the phase-weighted stacks of three days: $scratch/stack/pws_section.png"
    else
      echo "demo: xcn_section could not draw the stacks" >&2
      status=1
    fi
  else
    echo "demo: xcn_section could not draw the record section" >&2
    status=1
  fi
else
  echo "No record section: $build/xcn_section is not built (it needs cairo: libcairo2-dev)."
fi

# Eight dated days of the network whose velocity rises by 0.3 % from day 4 to day 8, stacked,
# and the change measured by xcn_dvv against the stack of all days.
dated=$scratch/dated
bin=$PWD/$build
"$build/xcn_synth" --stations 6 --samples 20000 --days 8 --start 2024-03-01 \
  --dvv 4:0,8:0.003 --out "$dated" >/dev/null
for day in "$dated"/day*/; do
  if ! (cd "$day" && "$bin/xcorrnet_v3" stations.txt names.txt B Y >xcorrnet.log 2>&1); then
    echo "demo: xcorrnet_v3 failed in $day; its output is in ${day}xcorrnet.log" >&2
    exit 1
  fi
done
if ! (cd "$dated" && "$bin/xcn_stack" --out stack --kind linear day*/names.txt \
  >stack.log 2>&1 &&
  "$bin/xcn_dvv" --ref stack/linear.txt --band 0.1-0.3 --out dvv day*/names.txt \
    >dvv.log 2>&1); then
  echo "demo: xcn_stack or xcn_dvv failed; their output is in $dated/stack.log, $dated/dvv.log" >&2
  exit 1
fi
echo
echo "Velocity change of eight days (0 to day 4, then rising to 0.3 % on day 8), measured by"
echo "xcn_dvv against the stack of all days (network mean, fractions):"
echo
echo "day  stretching            mwcs"
awk -F, 'NR > 1 {
    if (!($1 in seen)) { seen[$1] = 1; t[++n] = $1 }
    w[$1, $2] = sprintf("%+.5f +- %.5f", $3, $4)
  }
  END { for (k = 1; k <= n; ++k) printf "%3d  %s  %s\n", k, w[t[k], "stretching"], w[t[k], "mwcs"] }' \
  "$dated/dvv/network.csv"
if [ -f "$dated/dvv/dvv.png" ]; then
  echo
  echo "The dv/v picture, beside the record section: $dated/dvv/dvv.png"
fi
exit $status
