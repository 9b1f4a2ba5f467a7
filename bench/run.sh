#!/usr/bin/env bash
# Times bronta beside cp (hyperfine, page cache warm, every run starting from
# a missing output):
#   voice  one 2-second voice line (88 KB), the file that users convert most,
#          in C.UTF-8 and in ja_JP.UTF-8: the cost of one whole run
#   batch  1,000 such files in a tree, one process per file on every core
#          (find | xargs -P), beside cp and sox doing the same: files/second
#   large  1 GiB of samples beside cp, in three rounds
#   chunks a head of 10 million empty chunks before the samples
# and reports bronta's peak resident memory for each size, and a naive copy
# of one 2-byte read and write per sample for scale.
#
# Scratch files go to BENCH_DIR (default $TMPDIR/bronta-bench): about
# 2.2 GiB. Installs what it needs with tools/install-deps.sh bench.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh bench >/dev/null
bench_dir=${BENCH_DIR:-${TMPDIR:-/tmp}/bronta-bench}
mkdir -p "$bench_dir"

cmake --preset release >/dev/null
cmake --build --preset release --target bronta bronta_naive >/dev/null
bronta=$PWD/build/release/bronta
naive=$PWD/build/release/bench/bronta_naive

# A canonical 16-bit mono PCM WAV file at 22050 samples per second with
# `bytes` bytes of noise.
make_wav() {
  local file=$1 bytes=$2
  [ -f "$file" ] && [ "$(stat -c %s "$file")" -eq $((bytes + 44)) ] && return
  python3 - "$file" "$bytes" <<'PY'
import os, struct, sys
path, size = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", size + 36) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16) + b"data" + struct.pack("<I", size))
    left = size
    while left:
        n = min(left, 1 << 24)
        f.write(os.urandom(n))
        left -= n
PY
}

# Field `field` ("median" or "mean") of result `index` in a hyperfine export.
field() { python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['results'][int(sys.argv[2])][sys.argv[3]])" "$@"; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
ms() { python3 -c "import sys; print(f'{float(sys.argv[1])*1000:.2f}')" "$1"; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1])/float(sys.argv[2]):.2f}')" "$1" "$2"; }
same_samples() { cmp -s <(tail -c +45 "$1") <(tail -c +27 "${1%.wav}.wss") || { echo "output of $1 differs"; exit 1; }; }

echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -sr), $(df -T "$bench_dir" | awk 'NR==2 {print $2}'), $(date -u +%F)"

# --- One voice line: the cost of a whole run, process start-up included.
voice=$bench_dir/voice.wav
make_wav "$voice" 88200
for locale in C.UTF-8 ja_JP.UTF-8; do
  LC_ALL=$locale hyperfine -N --style none --warmup 50 --runs 1000 --export-json "$bench_dir/voice.json" \
    --prepare "rm -f ${voice%.wav}.wss $bench_dir/copy.wav" \
    -n bronta "$bronta $voice" -n cp "cp $voice $bench_dir/copy.wav" >/dev/null
  b=$(field "$bench_dir/voice.json" 0 median) c=$(field "$bench_dir/voice.json" 1 median)
  echo "voice line, 88 KB, LC_ALL=$locale: bronta $(ms "$b") ms, cp $(ms "$c") ms, median ratio bronta/cp $(ratio "$b" "$c")"
done
"$bronta" "$voice" && same_samples "$voice"

# --- A batch of 1,000 voice lines in a tree, converted on every core.
tree=$bench_dir/tree
if [ "$(find "$tree" -name '*.wav' 2>/dev/null | wc -l)" -ne 1000 ]; then
  rm -rf "$tree"
  for d in $(seq 10); do
    mkdir -p "$tree/set$d"
    for f in $(seq 100); do cp "$voice" "$tree/set$d/line$f.wav"; done
  done
fi
jobs=$(nproc)
clean_tree="find $tree -type f ! -name '*.wav' -delete"
hyperfine --style none --warmup 1 --runs 10 --export-json "$bench_dir/batch.json" --prepare "$clean_tree" \
  -n bronta "find $tree -name '*.wav' -print0 | xargs -0 -n1 -P$jobs $bronta" \
  -n cp "find $tree -name '*.wav' -print0 | xargs -0 -I{} -P$jobs cp {} {}.copy" \
  -n sox "find $tree -name '*.wav' -print0 | xargs -0 -I{} -P$jobs sox {} -t raw {}.raw" >/dev/null
b=$(field "$bench_dir/batch.json" 0 median) c=$(field "$bench_dir/batch.json" 1 median)
s=$(field "$bench_dir/batch.json" 2 median)
python3 -c "import sys; b,c,s=map(float,sys.argv[1:4]); print(f'batch of 1000 voice lines, {sys.argv[4]} jobs: bronta {1000/b:.0f} files/s, cp {1000/c:.0f} files/s, sox {1000/s:.0f} files/s; bronta/cp {c/b:.2f}, bronta/sox {s/b:.2f}')" "$b" "$c" "$s" "$jobs"
eval "$clean_tree"

# --- One large file, round by round.
large=$bench_dir/large.wav
make_wav "$large" $((1024 * 1024 * 1024))
cat "$large" >/dev/null
for round in 1 2 3; do
  hyperfine --style none --warmup 1 --runs 5 --export-json "$bench_dir/large.json" \
    --prepare "rm -f ${large%.wav}.wss $bench_dir/copy.wav; sync" \
    -n cp "cp $large $bench_dir/copy.wav" -n bronta "$bronta $large" >/dev/null
  c=$(field "$bench_dir/large.json" 0 median) b=$(field "$bench_dir/large.json" 1 median)
  echo "1 GiB, round $round: cp $(ms "$c") ms, bronta $(ms "$b") ms, median ratio bronta/cp $(ratio "$b" "$c")"
done
"$bronta" "$large" && same_samples "$large"
rm -f "$bench_dir/copy.wav"

# --- A head of 10 million empty chunks before the format (80 MB): the walk
# reads it through one buffer, a read per few kilobytes.
chunks=$bench_dir/chunks.wav
if [ ! -f "$chunks" ]; then
  python3 - "$chunks" <<'PY'
import struct, sys
body = b"WAVE" + b"junk\0\0\0\0" * 10_000_000 + b"fmt " + \
    struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16) + b"data" + struct.pack("<I", 4) + b"abcd"
open(sys.argv[1], "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
fi
cat "$chunks" >/dev/null
hyperfine --style none --warmup 1 --runs 10 --export-json "$bench_dir/chunks.json" \
  --prepare "rm -f ${chunks%.wav}.wss" -n bronta "$bronta $chunks" >/dev/null
echo "head of 10 million empty chunks (80 MB): bronta $(ms "$(field "$bench_dir/chunks.json" 0 median)") ms"

# --- Memory: the same for every size.
mid=$bench_dir/mid.wav
make_wav "$mid" $((64 * 1024 * 1024))
echo "bronta peak RSS: voice line $(peak_kib "$bronta" "$voice") KiB, 64 MiB $(peak_kib "$bronta" "$mid") KiB, 1 GiB $(peak_kib "$bronta" "$large") KiB"

# --- For scale: one 2-byte read and write per sample.
small=$bench_dir/small.wav
make_wav "$small" $((8 * 1024 * 1024))
hyperfine --style none --runs 3 --export-json "$bench_dir/naive.json" \
  -n bronta "$bronta $small" -n naive "$naive $small" >/dev/null
b=$(field "$bench_dir/naive.json" 0 median) n=$(field "$bench_dir/naive.json" 1 median)
echo "8 MiB: naive per-sample copy $(ms "$n") ms, bronta $(ms "$b") ms: $(ratio "$n" "$b") times faster"
rm -f "$bench_dir"/*.wss
