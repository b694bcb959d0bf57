#!/usr/bin/env bash
# HEIC decoding: a 12-megapixel HEIC (made by heif-enc from a photo-like picture) to a
# full-size JPEG at quality 85, with imbrix-batch and with libheif's own heif-convert, best
# wall and processor time of a few runs and the ratio. Both decode with libheif and encode
# with libjpeg, so the difference is what our reader and pipeline add.
#   bench/heic_vs_heif_convert.sh [BUILD_DIR] [RUNS]
# Needs imagemagick and libheif-examples (scripts/setup.sh --bench installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
batch=$build/cli/imbrix-batch
. bench/timing.sh
bench_start "$batch" /usr/bin/convert /usr/bin/heif-enc /usr/bin/heif-convert

make_photo "$tmp/photo.png" -resize 4240x2832! -depth 8
/usr/bin/heif-enc -q 80 -o "$tmp/photo.heic" "$tmp/photo.png" >/dev/null
echo "source: 4240 x 2832 heic, $(( $(stat -c %s "$tmp/photo.heic") / 1024 )) KiB; best of $runs runs"

best_of imbrix "$batch" -s full -q 85 -t jpg -o "$tmp/out" "$tmp/photo.heic"
best_of heifconvert /usr/bin/heif-convert -q 85 "$tmp/photo.heic" "$tmp/out/photo.jpg"

awk -v i="$imbrix_time" -v h="$heifconvert_time" -v ic="$imbrix_cpu" -v hc="$heifconvert_cpu" 'BEGIN {
  printf "imbrix / heif-convert: wall %.3f  cpu %.2f\n", i / h, ic / hc }'
