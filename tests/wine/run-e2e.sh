#!/usr/bin/env bash
# Runs the end-to-end suite and the fault walk against one Windows build of
# bronta under Wine, in a fresh prefix of its own: a 32-bit build in a 32-bit
# prefix with Wine's 32-bit loader, a 64-bit build in a 64-bit prefix with
# wine64. Then the command-line table's rows of two code pages, each against
# bronta.exe, whose manifest makes the process's code page UTF-8 (Wine
# honours it, as Windows 10 version 1903 and later do), and against
# bronta_faulty.exe, which carries no manifest, as an older Windows reads
# none:
#   en_US.UTF-8  Wine's ANSI code page is 1252: names in other scripts
#   ja_JP.UTF-8  code page 932: the double-byte names
#
# Exits 77 (CTest: skipped), with the reason as gtest gives one, when this
# machine cannot run the build (a 32-bit one where the kernel runs no 32-bit
# programs), or when a locale is missing or a test skipped, after all else
# passed.
#   run-e2e.sh BUILD_DIR E2E_TEST_BINARY FAULT_TEST_BINARY
set -euo pipefail
build=$1 e2e=$2 faults=$3
exe=$build/bronta.exe

source "$(dirname "$0")/wine-prefix.sh"
start_wine "$exe"
scratch=$(mktemp)  # everything the suites print
suite() { "$@" | tee -a "$scratch"; }

export BRONTA_RUNNER=$loader BRONTA_LINE_END=crlf
echo "--- $exe under $version ($WINEARCH)"
# The permission bits are POSIX's.
BRONTA_PROGRAM=$exe suite "$e2e" --gtest_filter='-*NeverMoreOpen*'
echo "--- $build/bronta_faulty.exe: a fault and an interrupt at every step"
BRONTA_PROGRAM=$build/bronta_faulty.exe suite "$faults"

# A pass under `locale`, skipped with the reason when it is missing.
with_locale() {
  local locale=$1 codePage=$2
  # locale -a spells UTF-8 as utf8.
  if ! locale -a 2>/dev/null | grep -qx "${locale%%.*}.utf8"; then
    printf 'run-e2e.sh: Skipped\nno %s locale, which gives Wine code page %s (%s)\n' "$locale" \
      "$codePage" "localedef -i ${locale%%.*} -f UTF-8 $locale" | tee -a "$scratch"
    return
  fi
  wineserver -k 2>/dev/null || true
  echo "--- $exe and $build/bronta_faulty.exe under Wine with code page $codePage"
  LANG=$locale LC_ALL=$locale BRONTA_CODE_PAGE=$codePage BRONTA_PROGRAM=$exe \
    BRONTA_PROGRAM_WITHOUT_MANIFEST=$build/bronta_faulty.exe suite "$e2e" --gtest_filter='*CommandLine*'
}
with_locale en_US.UTF-8 1252
with_locale ja_JP.UTF-8 932
if grep -q -e ': Skipped$' "$scratch"; then exit 77; fi
