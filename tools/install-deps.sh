#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks: compilers, CMake, GoogleTest, clang's sanitizer and
# fuzzer runtimes, the mingw-w64 cross compilers, Wine and a Japanese locale.
# Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev locales
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386)

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
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Code page 932 for the double-byte name tests: Wine takes it from a ja_JP
# locale, the native program from a Shift_JIS one.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
  as_root localedef --no-warnings=ascii -i ja_JP -f SHIFT_JIS ja_JP.SJIS
fi
