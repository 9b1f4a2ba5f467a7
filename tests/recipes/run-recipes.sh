#!/usr/bin/env bash
# Runs the batch recipes exactly as a README prints them, over a small tree
# of sounds: a .wav and a .WAV file, a name with spaces in a folder with a
# space, and two files that are not WAV files (one .wav, one .WAV). Every
# good file must be converted, each bad one named beside its message, and a
# recipe that reports a status must end with a failing one; over the same
# tree without the bad files, with 0.
#   run-recipes.sh posix README.md PROGRAM   the POSIX recipes, under sh
#   run-recipes.sh cmd README.txt BUILD_DIR  the cmd recipes, under Wine's cmd
set -euo pipefail
mode=$1 readme=$2 target=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d -t bronta-recipes-XXXXXX)
scratch=$work  # removed at the end, with the Wine prefix if there is one
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The `n`th block of lines indented by four spaces whose first line starts
# with `first`, without that indent and without carriage returns.
recipe() {
  awk -v first="$1" -v n="$2" '
    { sub(/\r$/, "") }
    /^    / {
      line = substr($0, 5)
      if (!inside) { inside = 1; if (index(line, first) == 1) found++; take = found == n && index(line, first) == 1 }
      if (take) print line
      next
    }
    { if (take) exit; inside = 0 }' "$readme"
}

good=("a.wav" "Shot.WAV" "sub dir/with space.wav")
bad=("bad.wav" "sub dir/Bad Two.WAV")

# A fresh tree in $work/sounds, with the bad files or without.
make_tree() {
  rm -rf "$work/sounds"
  mkdir -p "$work/sounds/sub dir"
  for name in "${good[@]}"; do cp "$here/../../samples/tone.wav" "$work/sounds/$name"; done
  if [ "$1" = with-bad ]; then
    for name in "${bad[@]}"; do echo "not a sound" >"$work/sounds/$name"; done
  fi
}

# Every good file converted, no bad one.
check_outputs() {
  local what=$1 name
  for name in "${good[@]}"; do
    [ "$(head -c 4 "$work/sounds/${name%.*}.wss" 2>/dev/null)" = WSS0 ] ||
      fail "$what: ${name%.*}.wss was not written"
  done
  for name in "${bad[@]}"; do
    [ ! -e "$work/sounds/${name%.*}.wss" ] || fail "$what: ${name%.*}.wss was written"
  done
}

# `output` holds `count` lines that contain `text`.
expect_lines() {
  local what=$1 output=$2 text=$3 count=$4 found
  found=$(grep -cF -- "$text" <<<"$output" || true)
  [ "$found" -eq "$count" ] || fail "$what: $found lines with '$text', not $count"
}

# Runs `run` (a function taking the recipe) over the tree with and without
# the bad files and checks what it printed, what it wrote and, where
# `status` is given, how it ended. `named` is how the recipe names a failed
# file (printf, with the file's name as the shell shows it), or "" for a
# recipe that prints only the messages.
try_recipe() {
  local what=$1 text=$2 run=$3 named=$4 status=$5 output code name tree failed
  [ -n "$text" ] || { fail "$what: no such recipe in $readme"; return; }
  echo "--- $what:"
  printf '    %s\n' "$text"
  for tree in with-bad without-bad; do
    failed=$([ "$tree" = with-bad ] && echo 1 || echo 0)
    make_tree "$tree"
    code=0
    output=$("$run" "$text") || code=$?
    [ "$failed" -eq 0 ] || printf '%s\n' "$output" | sed 's/^/  | /'
    check_outputs "$what, $tree"
    expect_lines "$what, $tree" "$output" "Bad WAV format." $((2 * failed))
    if [ -n "$named" ]; then
      for name in "${bad[@]}"; do
        [ "$failed" -eq 0 ] || expect_lines "$what" "$output" "$(printf "$named" "$(shown "$name")")" 1
      done
      for name in "${good[@]}"; do expect_lines "$what" "$output" "$(printf "$named" "$(shown "$name")")" 0; done
    fi
    if [ -n "$status" ] && [ "$code" -ne $((failed ? status : 0)) ]; then
      fail "$what, $tree: ended with $code, not $((failed ? status : 0))"
    fi
  done
}

case $mode in
  posix)
    # `bronta` on the PATH, as an installed program is.
    mkdir "$work/bin"
    ln -s "$(cd "$(dirname "$target")" && pwd)/$(basename "$target")" "$work/bin/bronta"
    run_sh() { (cd "$work" && PATH=$work/bin:$PATH sh -c "$1" 2>&1); }
    shown() { printf 'sounds/%s' "$1"; }  # as find prints it
    try_recipe "every file" "$(recipe "find sounds" 1)" run_sh "" 123
    try_recipe "every file, failures named" "$(recipe "find sounds" 2)" run_sh \
      '%s: Bad WAV format.' 123
    ;;
  cmd)
    source "$here/../wine/wine-prefix.sh"
    start_wine "$target/bronta.exe"
    # bronta.exe in the top folder of the sounds, as the README says; what
    # Wine's cmd prints, with its prompt and carriage returns taken away.
    # Wine's cmd runs only the first line that it reads from a pipe, so a
    # line typed at its prompt is given as the only one.
    clean() { tr -d '\r' | sed -e 's/^Z:[^>]*>//' -e '/^Microsoft Windows/d' -e '/^$/d'; }
    run_typed() {
      cp "$target/bronta.exe" "$work/sounds/"
      (cd "$work/sounds" && printf '%s\r\n' "$1" | "$loader" cmd 2>&1 | clean)
    }
    run_bat() {
      cp "$target/bronta.exe" "$work/sounds/"
      printf '%s\n' "$1" | sed 's/$/\r/' >"$work/sounds/convert-all.bat"
      # Wine's cmd was once seen to run nothing at all, under heavy disk load
      # (2026-12-08): an empty output, which never has the line of `pause`,
      # is tried once more.
      local code output=
      for try in 1 2; do
        [ -z "$output" ] || break
        code=0
        output=$(cd "$work/sounds" && "$loader" cmd /c convert-all.bat </dev/null 2>&1 | clean) || code=$?
      done
      printf '%s\n' "$output"
      return $code
    }
    shown() { printf '\\sounds\\%s' "${1//\//\\}"; }  # as cmd prints it: Z:\...\sounds\sub dir\x
    try_recipe "every file, typed at the prompt" "$(recipe "for /r" 1)" run_typed '%s' ""
    try_recipe "convert-all.bat" "$(recipe "@echo off" 1)" run_bat '%s' 1
    ;;
  *) echo "usage: $0 posix|cmd README PROGRAM|BUILD_DIR" >&2; exit 2 ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "every recipe converted every good file and named every bad one"
