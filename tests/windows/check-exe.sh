#!/usr/bin/env bash
# Checks what a Windows build of bronta ships, without running it:
#   imports  every DLL function that bronta.exe imports is on the allow-list
#            of functions that Windows XP has (xp-imports.txt beside this)
#   version  the version resource reads back with the project's version
#   package  the zip holds the stripped bronta.exe and a README with CR LF
#            line ends
#   check-exe.sh CHECK BUILD_DIR PROJECT_VERSION
set -euo pipefail
check=$1 build=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
exe=$build/bronta.exe

tool() {
  for prefix in x86_64-w64-mingw32 i686-w64-mingw32; do
    command -v "$prefix-$1" && return
  done
  echo "no mingw-w64 $1 (bash tools/install-deps.sh test installs it)" >&2
  exit 1
}

# "DLL Function" for each import of a PE file.
imports() {
  "$(tool objdump)" -p "$1" |
    awk '/DLL Name:/ {dll = toupper($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll " " $3}' |
    sort -u
}

case $check in
  imports)
    found=$(imports "$exe")
    [ -n "$found" ] || { echo "no imports read from $exe"; exit 1; }
    allowed=$(grep -v '^#' "$here/xp-imports.txt" | sort -u)
    extra=$(comm -23 <(echo "$found") <(echo "$allowed"))
    if [ -n "$extra" ]; then
      echo "$exe imports functions that are not known to be on Windows XP:"
      echo "$extra" | sed 's/^/  /'
      exit 1
    fi
    echo "$exe: $(echo "$found" | wc -l) imports, all on Windows XP"
    ;;
  version)
    rc=$("$(tool windres)" -J coff -O rc -i "$exe")
    status=0
    for field in "FileDescription" "ProductName" "FileVersion\", \"$version\"" \
                 "ProductVersion\", \"$version\"" "OriginalFilename\", \"bronta.exe\"" \
                 "LegalCopyright"; do
      grep -q "VALUE \"$field" <<<"$rc" || { echo "version resource lacks $field"; status=1; }
    done
    grep 'VALUE "' <<<"$rc"
    exit $status
    ;;
  package)
    zip=$(ls "$build"/bronta-*-windows.zip 2>/dev/null | head -n 1)
    [ -n "$zip" ] || { echo "no zip in $build: cmake --build $build --target package"; exit 1; }
    work=$(mktemp -d -t bronta-zip-XXXXXX)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && cmake -E tar xf "$zip")
    names=$(cd "$work" && find . -type f | sort | tr '\n' ' ')
    [ "$names" = "./README.txt ./bronta.exe " ] || { echo "$zip holds: $names"; exit 1; }
    if "$(tool objdump)" -f "$work/bronta.exe" | grep -q HAS_SYMS; then
      echo "bronta.exe in $zip is not stripped"
      exit 1
    fi
    lines=$(wc -l <"$work/README.txt")
    crlf=$(grep -c $'\r$' "$work/README.txt" || true)
    [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] ||
      { echo "README.txt: $crlf of $lines lines end in CR LF"; exit 1; }
    echo "$zip: stripped bronta.exe, README.txt with $lines CR LF lines"
    ;;
  *) echo "unknown check: $check"; exit 2 ;;
esac
