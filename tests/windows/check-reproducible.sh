#!/usr/bin/env bash
# Builds the checked-out commit twice, from two clean clones in two folders,
# one after the other, and compares each release file byte for byte: the
# 32-bit exe and its zip, and the Linux tarball, each with its checksum,
# which sha256sum -c must accept.
#   check-reproducible.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d -t bronta-twice-XXXXXX)
trap 'rm -rf "$work"' EXIT
for clone in one "another folder"; do
  git clone -q "$source_dir" "$work/$clone"
  for preset in mingw32 linux; do
    (cd "$work/$clone" && cmake --workflow --preset "$preset" >"$work/$preset.log" 2>&1) ||
      { tail -n 20 "$work/$preset.log"; exit 1; }
  done
  sleep 1  # another second on the clock
done
status=0
cd "$work/one"
for file in build/mingw32/bronta.exe build/mingw32/bronta-*-windows.zip* build/linux/bronta-*-linux.tar.gz*; do
  cmp "$file" "$work/another folder/$file" || status=1
  case $file in *.sha256) (cd "$(dirname "$file")" && sha256sum -c "$(basename "$file")") || status=1 ;; esac
done
[ "$status" -eq 0 ] && echo "both builds gave the same bytes"
exit "$status"
