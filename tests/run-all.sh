#!/usr/bin/env bash
# Builds bronta in every configuration that has tests and runs them all:
# the release build, the sanitizer build, the fuzz targets, and the Windows
# builds, the 32-bit one tested under Wine. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

run_preset() {
  echo "=== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1" --no-tests=error
}

build_preset() {
  echo "=== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

run_preset release
run_preset sanitize
run_preset fuzz
build_preset mingw32
build_preset mingw64
run_preset wine
