#!/usr/bin/env bash
# Installs from Debian's packages whatever this machine lacks for one job:
#   build  the compiler, CMake and Ninja: enough to build bronta
#   test   all that the tests need besides: GoogleTest, clang's sanitizer
#          and fuzzer runtimes, the mingw-w64 cross compilers (win32 thread
#          model), Wine (32- and 64-bit), and the Western and Japanese
#          locales
#   bench  the benchmark's tools: hyperfine, GNU time, sox, python3
# Needs root (or sudo) only when something is missing.
#   install-deps.sh [build|test|bench]   (default: test)
set -euo pipefail
scope=${1:-test}

packages=(cmake ninja-build g++)
case $scope in
  build) ;;
  test)
    packages+=(clang libclang-rt-14-dev libgtest-dev locales
               g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine64 wine32:i386) ;;
  bench) packages+=(hyperfine time sox python3) ;;
  *) echo "usage: $0 [build|test|bench]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  # wine32 is an i386 package: the 32-bit bronta.exe runs under it.
  if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
fi

if [ "$scope" = test ]; then
  # Code page 1252 for the names outside the code page: Wine takes it from a
  # Western locale.
  if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; then
    as_root localedef -i en_US -f UTF-8 en_US.UTF-8
  fi
  # Code page 932 for the double-byte name tests: Wine takes it from a ja_JP
  # locale, the native program from a Shift_JIS one.
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
    as_root localedef --no-warnings=ascii -i ja_JP -f SHIFT_JIS ja_JP.SJIS
  fi
fi
