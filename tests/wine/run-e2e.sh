#!/usr/bin/env bash
# Runs the end-to-end suite against a Windows bronta.exe under Wine, in a
# fresh 32-bit prefix: once as it comes, and once under a Japanese locale,
# where Wine's ANSI code page is 932 and double-byte file names are checked.
#   run-e2e.sh E2E_TEST_BINARY BRONTA_EXE
set -euo pipefail
tests=$1 exe=$2
prefix=$(mktemp -d /tmp/bronta-wine-XXXXXX)
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$prefix"; }
trap cleanup EXIT
wineboot --init >/dev/null 2>&1
wineserver -w

export BRONTA_RUNNER=wine BRONTA_PROGRAM=$exe BRONTA_LINE_END=crlf
echo "--- $exe under Wine"
"$tests"
echo "--- $exe under Wine with code page 932"
wineserver -k 2>/dev/null || true
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 BRONTA_CODE_PAGE=932 "$tests" --gtest_filter='*DoubleByte*:*Banner*:*CommandLine*'
