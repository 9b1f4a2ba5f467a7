#!/usr/bin/env bash
# Checks what a Windows build of bronta ships, without running it:
#   imports  every DLL function that bronta.exe imports is on the allow-list
#            of functions that Windows XP has for its architecture
#            (xp-imports-i686.txt, xp-imports-x86_64.txt beside this)
#   version  the version resource reads back with the project's version
#   manifest the application manifest reads back, well-formed, with its
#            trustInfo where Windows reads it, asking for the caller's rights
#   package  the zip, whose checksum checks, holds the stripped bronta.exe,
#            its users' README naming the exe it holds and the licence, in
#            plain ASCII with CR LF line ends
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

source "$here/../wine/wine-prefix.sh"  # pe_architecture

# The resource of type 24 (RT_MANIFEST), id 1, as windres prints it back:
# C strings, one a line, with "" for a quote.
manifest() {
  "$(tool windres)" -J coff -O rc -i "$1" | python3 -c '
import re, sys
text, inside = [], False
for line in sys.stdin:
    if re.match(r"^1 24\b", line): inside = True; continue
    if inside and line.strip() == "END": break
    if inside and line.strip().startswith("\""):
        body = line.strip()[1:-1].replace("\"\"", "\"")
        text.append(body.encode().decode("unicode_escape"))
sys.stdout.write("".join(text))'
}

case $check in
  imports)
    found=$(imports "$exe")
    [ -n "$found" ] || { echo "no imports read from $exe"; exit 1; }
    list=$here/xp-imports-$(pe_architecture "$exe").txt
    allowed=$(grep -v '^#' "$list" | sort -u)
    extra=$(comm -23 <(echo "$found") <(echo "$allowed"))
    if [ -n "$extra" ]; then
      echo "$exe imports functions that are not known to be on Windows XP:"
      echo "$extra" | sed 's/^/  /'
      exit 1
    fi
    echo "$exe: $(echo "$found" | wc -l) imports, all on Windows XP ($(basename "$list"))"
    ;;
  manifest)
    xml=$(manifest "$exe")
    [ -n "$xml" ] || { echo "$exe carries no application manifest (RT_MANIFEST, id 1)"; exit 1; }
    # Windows ignores the whole manifest when trustInfo is not in asm.v2.
    python3 - "$xml" <<'PY'
import sys, xml.dom.minidom as dom
doc = dom.parseString(sys.argv[1].encode())
spaces = [n.namespaceURI or n.getAttribute("xmlns") for n in doc.getElementsByTagName("trustInfo")]
levels = [n.getAttribute("level") for n in doc.getElementsByTagName("requestedExecutionLevel")]
sys.exit("trustInfo not in asm.v2" if spaces != ["urn:schemas-microsoft-com:asm.v2"] else
         None if levels == ["asInvoker"] else "execution level %s, not asInvoker" % levels)
PY
    ;;
  version)
    rc=$("$(tool windres)" -J coff -O rc -i "$exe")
    grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$rc" ||
      { echo "the version resource does not give FileVersion $version"; exit 1; }
    ;;
  package)
    zip=$(ls "$build"/bronta-*-windows.zip 2>/dev/null | head -n 1)
    [ -n "$zip" ] || { echo "no zip in $build: cmake --build $build --target archive"; exit 1; }
    (cd "$build" && sha256sum -c "$(basename "$zip").sha256")
    work=$(mktemp -d -t bronta-zip-XXXXXX)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && cmake -E tar xf "$zip")
    names=$(cd "$work" && find . -type f | sort | tr '\n' ' ')
    [ "$names" = "./LICENSE.txt ./README.txt ./bronta.exe " ] || { echo "$zip holds: $names"; exit 1; }
    if "$(tool objdump)" -f "$work/bronta.exe" | grep -q HAS_SYMS; then
      echo "bronta.exe in $zip is not stripped"
      exit 1
    fi
    for text in README.txt LICENSE.txt; do
      lines=$(wc -l <"$work/$text")
      crlf=$(grep -c $'\r$' "$work/$text" || true)
      [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] ||
        { echo "$text: $crlf of $lines lines end in CR LF"; exit 1; }
      # Plain ASCII, which every Notepad shows alike.
      if LC_ALL=C grep -n $'[^\t\r\x20-\x7e]' "$work/$text"; then
        echo "$text: the lines above are not plain ASCII"
        exit 1
      fi
    done
    bits=$([ "$(pe_architecture "$work/bronta.exe")" = i686 ] && echo 32 || echo 64)
    grep -q "bronta.exe for $bits-bit Windows" "$work/README.txt" ||
      { echo "README.txt does not say that the zip holds the $bits-bit bronta.exe"; exit 1; }
    echo "$zip: stripped $bits-bit bronta.exe, README.txt and LICENSE.txt in ASCII with CR LF"
    ;;
  *) echo "unknown check: $check"; exit 2 ;;
esac
