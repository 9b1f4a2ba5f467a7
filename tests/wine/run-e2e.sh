#!/usr/bin/env bash
# Runs the end-to-end suite and the fault walk against one Windows build of
# bronta under Wine, in a fresh prefix of its own: a 32-bit build in a 32-bit
# prefix with Wine's 32-bit loader, a 64-bit build in a 64-bit prefix with
# wine64. Then once more under a Japanese locale, where Wine's ANSI code page
# is 932, for the double-byte file names.
#
# Exits 77 (CTest: skipped), with the reason, when this machine cannot run
# the build: a 32-bit one where the kernel runs no 32-bit programs.
#   run-e2e.sh BUILD_DIR E2E_TEST_BINARY FAULT_TEST_BINARY
set -euo pipefail
build=$1 e2e=$2 faults=$3
exe=$build/bronta.exe

# The machine field of the PE header tells a 32-bit build from a 64-bit one.
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$exe" | tr -d ' ')
case $machine in
  014c) loader=/usr/lib/wine/wine arch=win32 bits=32 ;;
  8664) loader=/usr/lib/wine/wine64 arch=win64 bits=64 ;;
  *) echo "$exe: not a Windows program for x86 (machine $machine)"; exit 1 ;;
esac

if [ ! -x "$loader" ]; then
  echo "Wine's $bits-bit loader $loader is missing (bash tools/install-deps.sh test installs it)"
  exit 1
fi
if ! version=$("$loader" --version 2>&1); then
  if [ $bits = 32 ] && grep -qi 'exec format error' <<<"$version"; then
    echo "SKIPPED: this kernel runs no 32-bit programs (32-bit emulation is off: $version)," \
         "so the 32-bit bronta.exe is not tested here; the 64-bit one is."
    exit 77
  fi
  echo "Wine's $bits-bit loader cannot start: $version"
  exit 1
fi

prefix=$(mktemp -d -t bronta-wine-XXXXXX)
export WINEPREFIX=$prefix WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$prefix"; }
trap cleanup EXIT
"$loader" wineboot --init >/dev/null 2>&1 || true
wineserver -w
[ -d "$prefix/drive_c/windows" ] || { echo "Wine could not make a $arch prefix in $prefix"; exit 1; }

export BRONTA_RUNNER=$loader BRONTA_LINE_END=crlf
echo "--- $exe under $version ($arch)"
BRONTA_PROGRAM=$exe "$e2e"
echo "--- $build/bronta_faulty.exe: a fault and an interrupt at every step"
BRONTA_PROGRAM=$build/bronta_faulty.exe "$faults"

echo "--- $exe under Wine with code page 932"
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "SKIPPED: no ja_JP.UTF-8 locale, which gives Wine code page 932" \
       "(localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)"
  exit 77
fi
wineserver -k 2>/dev/null || true
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 BRONTA_CODE_PAGE=932 BRONTA_PROGRAM=$exe \
  "$e2e" --gtest_filter='*DoubleByte*:*Banner*:*CommandLine*'
