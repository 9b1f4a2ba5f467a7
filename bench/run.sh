#!/usr/bin/env bash
# Times bronta against a plain `cp` of the same WAV file, page cache warm,
# for 64 MiB and 1 GiB of samples; reports bronta's peak resident memory;
# and times the naive copy (one 2-byte read and write per sample) on the
# 64 MiB file to show what streaming in large blocks gains.
#
# Needs hyperfine and GNU time (Debian: hyperfine, time) and python3 for the
# figures. Scratch files go to BENCH_DIR (default /tmp/bronta-bench), about
# 3.2 GiB at most.
set -euo pipefail
cd "$(dirname "$0")/.."

bench_dir=${BENCH_DIR:-/tmp/bronta-bench}
runs=${BENCH_RUNS:-10}
mkdir -p "$bench_dir"

cmake --preset release >/dev/null
cmake --build --preset release --target bronta bronta_naive >/dev/null
bronta=$PWD/build/release/bronta
naive=$PWD/build/release/bronta_naive

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }

# A canonical 16-bit mono PCM WAV file with `bytes` bytes of noise.
make_wav() {
  local file=$1 bytes=$2
  [ -f "$file" ] && [ "$(stat -c %s "$file")" -eq $((bytes + 44)) ] && return
  {
    printf 'RIFF'; le32 $((bytes + 36)); printf 'WAVEfmt '; le32 16
    printf '\x01\x00\x01\x00'; le32 22050; le32 44100; printf '\x02\x00\x10\x00'
    printf 'data'; le32 "$bytes"
    head -c "$bytes" /dev/urandom
  } >"$file"
}

median() { python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['results'][int(sys.argv[2])]['median'])" "$@"; }

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr), $(date -u +%F)"
for size in 64 1024; do
  wav=$bench_dir/noise$size.wav
  make_wav "$wav" $((size * 1024 * 1024))
  cat "$wav" >/dev/null  # warm the page cache
  # Both start from a missing output, with earlier writes flushed, so that
  # neither pays for dropping the previous run's output or its writeback.
  hyperfine --style basic --warmup 2 --runs "$runs" --export-json "$bench_dir/t$size.json" \
    --prepare "rm -f ${wav%.wav}.wss $bench_dir/copy.wav; sync" \
    -n bronta "$bronta $wav" -n cp "cp $wav $bench_dir/copy.wav" >/dev/null
  b=$(median "$bench_dir/t$size.json" 0)
  c=$(median "$bench_dir/t$size.json" 1)
  rss=$(peak_kib "$bronta" "$wav")
  cmp -s <(tail -c +45 "$wav") <(tail -c +27 "${wav%.wav}.wss") || { echo "output differs"; exit 1; }
  python3 -c "import sys; b,c=map(float,sys.argv[1:3]); print(f'{sys.argv[3]:>5} MiB: bronta {b*1000:.1f} ms, cp {c*1000:.1f} ms, median ratio bronta/cp {b/c:.2f}, bronta peak RSS {sys.argv[4]} KiB')" "$b" "$c" "$size" "$rss"
done

wav=$bench_dir/noise64.wav
hyperfine --style basic --runs 2 --export-json "$bench_dir/naive.json" \
  -n bronta "$bronta $wav" -n naive "$naive $wav" >/dev/null
b=$(median "$bench_dir/naive.json" 0)
n=$(median "$bench_dir/naive.json" 1)
python3 -c "import sys; b,n=map(float,sys.argv[1:3]); print(f'   64 MiB: naive per-sample copy {n*1000:.0f} ms, bronta {b*1000:.1f} ms: {n/b:.0f} times faster')" "$b" "$n"
rm -f "$bench_dir"/*.wss "$bench_dir/copy.wav"
