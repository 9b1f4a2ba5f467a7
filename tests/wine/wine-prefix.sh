# Sourced by the scripts that run or read a Windows build of bronta.
#   pe_architecture EXE
# prints i686 or x86_64, from the machine field of the PE header of EXE.
pe_architecture() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) echo "$1: not a Windows program for x86 (machine $machine)" >&2; return 1 ;;
  esac
}

#   start_wine EXE
# picks Wine's loader for the kind of EXE (32- or 64-bit, from the machine
# field of its PE header), makes a fresh prefix of that kind that is removed
# when the script ends, with the script's own `scratch` (a file or folder)
# if it names one, and exports WINEPREFIX, WINEARCH, WINELOADER, and
# `loader` and `version` for the script, and a TMPDIR of its own, where
# the wineserver makes its folder, removed with the prefix.
#
# Where the kernel runs no 32-bit programs, the 32-bit loader runs under
# qemu-i386 (qemu-user 8 or later; bash tools/install-deps.sh test installs
# it), through a copy of the loader in a folder of its own that calls qemu:
# nothing outside that folder changes. Wine re-executes the loader it was
# started as and finds its libraries and data beside it, so the folder has
# the system's layout. BRONTA_WINE32=qemu takes that way on any kernel.
# Exits 77 (CTest: skipped), with the reason as gtest gives one, when
# neither way is possible.
start_wine() {
  local exe=$1 arch bits starts
  case $(pe_architecture "$exe") in
    i686) loader=/usr/lib/wine/wine arch=win32 bits=32 ;;
    x86_64) loader=/usr/lib/wine/wine64 arch=win64 bits=64 ;;
    *) exit 1 ;;
  esac

  if [ ! -x "$loader" ]; then
    echo "Wine's $bits-bit loader $loader is missing (bash tools/install-deps.sh test installs it)"
    exit 1
  fi
  wine_prefix=$(mktemp -d -t bronta-wine-XXXXXX)
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$wine_prefix"{,.qemu,.tmp} ${scratch:+"$scratch"}' EXIT
  mkdir "$wine_prefix.tmp" && export TMPDIR=$wine_prefix.tmp
  starts=yes
  version=$("$loader" --version 2>&1) || starts=no
  if [ $bits = 32 ] && { [ "${BRONTA_WINE32:-}" = qemu ] ||
                         { [ $starts = no ] && grep -qi 'exec format error' <<<"$version"; }; }; then
    wine_through_qemu || exit
  elif [ $starts = no ]; then
    echo "Wine's $bits-bit loader cannot start: $version"
    exit 1
  fi

  export WINEPREFIX=$wine_prefix WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  "$loader" wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  [ -d "$wine_prefix/drive_c/windows" ] ||
    { echo "Wine could not make a $arch prefix in $wine_prefix"; exit 1; }
}

# Points `loader` at the 32-bit loader run by qemu-i386, or says why it
# cannot be and returns 77.
wine_through_qemu() {
  local qemu major here=$wine_prefix.qemu
  qemu=$(command -v qemu-i386 || true)
  major=$([ -n "$qemu" ] && "$qemu" --version | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p')
  if [ "${major:-0}" -lt 8 ]; then
    echo "wine-prefix.sh: Skipped"
    echo "this kernel runs no 32-bit programs (${version:-32-bit emulation is off})," \
         "and qemu-i386 8 or later, which would run them, is missing (found: ${major:-none})," \
         "so the 32-bit bronta.exe is not tested here; bash tools/install-deps.sh test installs it."
    return 77
  fi
  mkdir -p "$here/usr/lib/wine" "$here/usr/share"
  cp /usr/lib/wine/wine "$here/usr/lib/wine/wine.elf"
  ln -s /usr/lib/wine/wineserver64 "$here/usr/lib/wine/wineserver"
  ln -s /usr/lib/i386-linux-gnu "$here/usr/lib/i386-linux-gnu"
  ln -s /usr/share/wine "$here/usr/share/wine"
  printf '#!/bin/sh\nd=$(dirname "$0")\nexec %s -0 "$d/wine" "$d/wine.elf" "$@"\n' "$qemu" \
    >"$here/usr/lib/wine/wine"
  chmod +x "$here/usr/lib/wine/wine"
  loader=$here/usr/lib/wine/wine
  version="$("$loader" --version 2>&1) under $("$qemu" --version | head -n 1)"
}
