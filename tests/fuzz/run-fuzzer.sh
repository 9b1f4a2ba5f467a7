#!/usr/bin/env bash
# Runs one fuzz target for a bounded time from its seed corpus; fails on any
# crash, leak or sanitizer report, and when the target was not exercised:
# too few runs, or fewer than MIN_COVERAGE code edges reached. A crash's
# input is kept in fuzz-crashes/ beside the target, and named.
#   run-fuzzer.sh TARGET SEED_DIR SECONDS MIN_COVERAGE
set -euo pipefail
target=$1 seeds=$2 seconds=$3 min_coverage=$4
crashes=$(dirname "$target")/fuzz-crashes/$(basename "$target")-
mkdir -p "$(dirname "$crashes")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
     -artifact_prefix="$crashes" "$work" "$seeds" >"$log" 2>&1; then
  grep -m 1 -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" || tail -n 5 "$log"
  grep -m 1 -o 'Test unit written to .*' "$log" | sed 's/^Test unit written to/crash input kept:/' || true
  exit 1
fi
grep -E '^stat::number_of_executed_units' "$log"
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
[ "${runs:-0}" -gt 1000 ] || { echo "too few runs: ${runs:-0}"; exit 1; }
echo "coverage: ${coverage:-0} edges"
[ "${coverage:-0}" -ge "$min_coverage" ] || { echo "coverage ${coverage:-0} < $min_coverage"; exit 1; }
