#!/usr/bin/env bash
# When a message waits for a key (Windows): only for a run that Explorer
# started, not in a hidden window; a key that only modifies ends no wait,
# Ctrl+C ends it with 0xC000013A, and the folder is closed meanwhile. Under
# Wine with an X display of its own (xvfb-run), launcher.exe starts
# bronta.exe in a console window of its own, as a program or a script
# does, and the same launcher copied as explorer.exe stands in for
# Explorer (Launcher.cpp says what it prints).
#
# Then other programs at a run's files: an output held for 1.5 s while the
# run would replace it is waited for, one held for 6 s is kept, and runs
# ended by TerminateProcess at any moment from the temporary file's
# creation to the held rename leave no temporary file and the earlier
# output whole; and 20 runs in a row beside a scanner that holds each new
# file for 2 s end with 0 and leave nothing else.
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
# 40 MB of samples at 22050 Hz, which take a while to copy.
{ printf 'RIFF\x24\0\x80\2WAVEfmt \x10\0\0\0\1\0\1\0\x22\x56\0\0\x44\xac\0\0\2\0\x10\0data\0\0\x80\2'
  head -c $((40 << 20)) /dev/urandom; } >"$work/snd/big.wav"
(cd "$work" && "$loader" bronta.exe 'snd\big.wav' && mv snd/big.wss converted.wss && echo 0 >earlier.wss)
failures=0
fail() { echo "  $*"; failures=$((failures + 1)); }
# Started by, shown, keys typed (Shift 10, Alt 12, A 41, Ctrl+C 03), file:
# what the launcher must print, one line a word.
while read -r by shown keys file expected; do
  rm -f "$work"/snd/*.tmp-* && cp "$work/earlier.wss" "$work/snd/big.wss"
  got=$(cd "$work" && "$loader" "./$by" "$shown" "$keys" bronta.exe "snd\\$file" snd | tr -d '\r' |
        tr '\n' ' ')
  printf '%-13s %-10s %-8s %-9s %s\n' "$by" "$shown" "$keys" "$file" "$got"
  [ "$got" = "${expected//_/ } " ] || fail "expected: ${expected//_/ }"
  [ "$got" = "ended 0 " ] && want=converted || want=earlier
  [ "$file" != big.wav ] || cmp -s "$work/snd/big.wss" "$work/$want.wss" || fail "not the $want output"
  ! ls "$work/snd" | grep -e tmp- || fail "a temporary file is left"
done <<'ROWS'
launcher.exe normal    41       bad.wav  ended_9
launcher.exe minimized 41       bad.wav  ended_9
explorer.exe minimized 10,12,41 bad.wav  waiting_ended_9_left_1
explorer.exe hidden    41       bad.wav  ended_9
explorer.exe normal    41       good.wav ended_0
explorer.exe normal    03       bad.wav  waiting_ended_3221225786_left_0
launcher.exe hold      1500     big.wav  ended_0
launcher.exe hold      6000     big.wav  ended_2
launcher.exe kill      0        big.wav  ended_1
launcher.exe kill      1500     big.wav  ended_1
ROWS
# The scanner holds each of the five files there first, for 2 s each.
(cd "$work" && "$loader" ./launcher.exe scan 2000 - - snd) & sleep 12
for run in {1..20}; do (cd "$work" && "$loader" bronta.exe 'snd\good.wav') || fail "run $run: $?"; done
[ "$(ls "$work/snd" | tr '\n' ' ')" = "bad.wav big.wav big.wss good.wav good.wss " ] ||
  fail "beside the scanner: $(ls "$work/snd")"
[ "$failures" -eq 0 ]
