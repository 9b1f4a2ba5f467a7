#!/usr/bin/env bash
# Checks the format of every source (.clang-format), then builds bronta in
# every configuration that has tests and runs them all: the release build,
# with clang-tidy over it (.clang-tidy), the sanitizer build, the fuzz
# targets, and both Windows builds, tested under Wine. Stops at the first failure. With CI=true a
# test that was skipped or did not run is a failure too, named with its
# reason on one line; elsewhere a machine may skip what it cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

# The reason that test $2 gave for its skip, from the last run's log in
# build folder $1: the line after "FILE:LINE: Skipped", as gtest and the
# Wine scripts print it.
reason() {
  awk -v name="$2" '
    / Testing: / { inside = ($3 == name); next }
    inside && next_line { print; exit }
    inside && /: Skipped$/ { next_line = 1 }
  ' "$1/Testing/Temporary/LastTest.log" 2>/dev/null
}

output=$(mktemp)
trap 'rm -f "$output"' EXIT
echo "=== format"
find app convert platform tests bench \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) -print0 |
  xargs -0 clang-format --dry-run --Werror
for workflow in release sanitize fuzz mingw32 mingw64 wine; do
  echo "=== $workflow"
  cmake --workflow --preset "$workflow" | tee "$output"
  if [ "$workflow" = release ]; then
    echo "=== clang-tidy"
    find app convert platform -name '*.cpp' ! -path '*/windows/*' -print0 |
      xargs -0 clang-tidy -p build/release --quiet 2>/dev/null
  fi
  if [ "${CI:-}" = true ]; then
    # CTest lists them as "  15 - NAME (Skipped)" or "(Not Run)".
    skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(Skipped\|Not Run\|Disabled\))$/\1/p' "$output")
    for name in $skipped; do
      echo "not run in CI: $name: $(reason "build/$workflow" "$name")"
    done
    [ -z "$skipped" ] || exit 1
  fi
done
