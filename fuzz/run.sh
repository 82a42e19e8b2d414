#!/usr/bin/env bash
# Runs every fuzz target for a set time on its seeds and the corpus kept from earlier runs, and
# prints executions and coverage per target. Exits non-zero when a target finds a crash.
# Usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(read msgfile lists args access write ftext options)
  # The targets of xcn_prep's readers are built only where libxml2 and libmseed are.
  # xcn_dvv's, where OpenMP is; xcn_export's, where libnetcdf is.
  for t in meta mseed dvv export; do [ -x "$build/fuzz_$t" ] && targets+=("$t"); done
fi
root=$(cd "$(dirname "$0")/.." && pwd)

# Longest input per target: SAC files with a few hundred samples, lists with lines longer than
# the 64 KiB the list reader keeps, headers with up to a thousand samples to write, metadata of
# a few dozen channels, a few miniSEED records of up to 4096 bytes, command lines of a few dozen
# arguments, two correlations of a few hundred samples with a command line, the values of a
# container of a few rows.
declare -A max_len=([read]=8192 [msgfile]=32768 [lists]=131072 [args]=1024 [access]=4096
  [write]=8192 [ftext]=4096 [meta]=16384 [mseed]=16384 [options]=1024 [dvv]=8192
  [export]=2048)

rm -rf "$build/seeds"
"$build/make_seeds" "$build/seeds" "$root/share/messages" || exit 1
mkdir -p "$build/logs" "$build/crashes"
failed=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/logs/$t.log"
  # Scratch files of the target go to a folder of its own, removed unless the target failed.
  export TMPDIR="$build/tmp/$t"
  rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
  "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="${max_len[$t]}" -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" "$build/corpus/$t" "$build/seeds/$t" >"$log" 2>&1
  status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
  if [ $status -ne 0 ]; then
    failed=1
    summary+=("$t: FAILED (status $status), see $log and $build/crashes/")
    grep -E 'ERROR|invariant|SUMMARY' "$log" | head -5
  else
    rm -rf "$TMPDIR"
    summary+=("$t: ${execs:-?} executions in ${seconds} s, cov ${cov:-?}, ft ${ft:-?}")
  fi
done
printf '%s\n' "${summary[@]}"
exit $failed
