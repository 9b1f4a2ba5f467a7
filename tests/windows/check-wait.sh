#!/usr/bin/env bash
# When a message waits for a key (Windows): only for a run that Explorer
# started, not in a hidden window; a key that only modifies ends no wait,
# Ctrl+C ends it with 0xC000013A, and the folder is closed meanwhile. Under
# Wine with an X display of its own (xvfb-run), launcher.exe starts
# bronta.exe in a console window of its own, as a program or a script
# does, and the same launcher copied as explorer.exe stands in for
# Explorer (Launcher.cpp says what it prints).
#   check-wait.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/../wine/wine-prefix.sh"
start_wine "$build/bronta.exe"
work=$(mktemp -d -t bronta-wait-XXXXXX)
scratch=$work
mkdir "$work/snd"
cp "$build/bronta.exe" "$work/"
cp "$build/bronta_launcher.exe" "$work/launcher.exe"
cp "$build/bronta_launcher.exe" "$work/explorer.exe"
echo "not a WAV file" >"$work/snd/bad.wav"
cp "$(dirname "$0")/../../samples/tone.wav" "$work/snd/good.wav"
failures=0
# Started by, shown, keys typed (Shift 10, Alt 12, A 41, Ctrl+C 03), file:
# what the launcher must print, one line a word.
while read -r by shown keys file expected; do
  got=$(cd "$work" && "$loader" "./$by" "$shown" "$keys" bronta.exe "snd\\$file" snd | tr -d '\r' |
        tr '\n' ' ')
  printf '%-13s %-10s %-8s %-9s %s\n' "$by" "$shown" "$keys" "$file" "$got"
  [ "$got" = "${expected//_/ } " ] || { echo "  expected: ${expected//_/ }"; failures=$((failures + 1)); }
done <<'ROWS'
launcher.exe normal    41       bad.wav  ended_9
launcher.exe minimized 41       bad.wav  ended_9
explorer.exe minimized 10,12,41 bad.wav  waiting_ended_9_left_1
explorer.exe hidden    41       bad.wav  ended_9
explorer.exe normal    41       good.wav ended_0
explorer.exe normal    03       bad.wav  waiting_ended_3221225786_left_0
ROWS
[ "$failures" -eq 0 ]
