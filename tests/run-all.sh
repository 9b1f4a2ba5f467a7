#!/usr/bin/env bash
# Builds bronta in every configuration that has tests and runs them all:
# the release build, the sanitizer build, the fuzz targets, and both Windows
# builds, tested under Wine. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

for workflow in release sanitize fuzz mingw32 mingw64 wine; do
  echo "=== $workflow"
  cmake --workflow --preset "$workflow"
done
