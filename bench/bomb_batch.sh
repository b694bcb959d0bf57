#!/bin/sh
# Peak memory of one batch over the twenty decompression bombs of make_bombs.py (each must be
# refused or give its small picture; the whole run must stay under 300 MB), and of the
# legitimate 11000 x 11000 run-length bitmap that must still be converted.
# Usage: bench/bomb_batch.sh [build dir]   (needs /usr/bin/time)
set -eu
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$(dirname "$0")
/usr/bin/python3 "$here/make_bombs.py" "$work/files" --legit
mkdir "$work/out" "$work/legit-out"
peak() { sed -n 's/.*Maximum resident set size (kbytes): //p; s/.*Elapsed (wall clock) time (h:mm:ss or m:ss): /elapsed /p' "$1"; }
/usr/bin/time -v "$build/cli/imbrix-batch" -s full -t bmp -o "$work/out" "$work"/files/* \
    >"$work/batch.log" 2>&1 || true
grep -c ':' "$work/batch.log" >/dev/null
echo "twenty bombs: $(ls "$work/out" | wc -l) converted, peak RSS (KB) and time:"
peak "$work/batch.log"
/usr/bin/time -v "$build/cli/imbrix-batch" -s full -t bmp -o "$work/legit-out" "$work/legit/rle8_11000.bmp" \
    >"$work/legit.log" 2>&1
echo "11000 x 11000 RLE bitmap: $(ls "$work/legit-out"), peak RSS (KB) and time:"
peak "$work/legit.log"
