# Sourced by the scripts that run a Windows build of bronta under Wine.
#   start_wine EXE
# picks Wine's loader for the kind of EXE (32- or 64-bit, from the machine
# field of its PE header), makes a fresh prefix of that kind that is removed
# when the script ends, and exports WINEPREFIX, WINEARCH, WINELOADER, and
# `loader` and `version` for the script. Exits 77 (CTest: skipped), with the
# reason, when this machine cannot run the build: a 32-bit one where the
# kernel runs no 32-bit programs.
start_wine() {
  local exe=$1 pe machine arch bits
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

  wine_prefix=$(mktemp -d -t bronta-wine-XXXXXX)
  export WINEPREFIX=$wine_prefix WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$wine_prefix"' EXIT
  "$loader" wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  [ -d "$wine_prefix/drive_c/windows" ] ||
    { echo "Wine could not make a $arch prefix in $wine_prefix"; exit 1; }
}
