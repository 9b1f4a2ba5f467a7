#!/usr/bin/env bash
# When a message waits for a key (Windows): only for a run that Explorer
# started, not in a hidden window, and not for a key that only
# modifies; the folder is let go meanwhile. Under Wine with an X display
# (xvfb-run), launcher.exe starts bronta.exe in a console window of its
# own, as a program or a script does, and the same launcher copied as
# explorer.exe stands in for Explorer (Launcher.cpp says what it prints).
#   check-wait.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/../wine/wine-prefix.sh"
start_wine "$build/bronta.exe"
work=$(mktemp -d -t bronta-wait-XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work" "$wine_prefix"' EXIT
mkdir "$work/snd"
cp "$build/bronta.exe" "$work/"
cp "$build/bronta_launcher.exe" "$work/launcher.exe"
cp "$build/bronta_launcher.exe" "$work/explorer.exe"
echo "not a WAV file" >"$work/snd/bad.wav"
printf 'RIFF\050\0\0\0WAVEfmt \020\0\0\0\1\0\1\0\100\037\0\0\200\076\0\0\2\0\020\0data\4\0\0\0good' \
  >"$work/snd/good.wav"
failures=0
# Started by, shown, keys typed (Shift 10, Alt 12, A 41), file: what the
# launcher must print, one line a word.
while read -r by shown keys file expected; do
  got=$(cd "$work" && "$loader" "./$by" "$shown" "$keys" bronta.exe "snd\\$file" snd | tr -d '\r' |
        tr '\n' ' ')
  printf '%-13s %-10s %-8s %-9s %s\n' "$by" "$shown" "$keys" "$file" "$got"
  [ "$got" = "${expected//_/ } " ] || { echo "  expected: ${expected//_/ }"; failures=$((failures + 1)); }
done <<'ROWS'
launcher.exe normal    41       bad.wav  ended_9
launcher.exe minimized 41       bad.wav  ended_9
explorer.exe minimized 10,12,41 bad.wav  waiting_waiting_waiting_ended_9
explorer.exe hidden    41       bad.wav  ended_9
explorer.exe normal    41       good.wav ended_0
ROWS
[ "$failures" -eq 0 ]
