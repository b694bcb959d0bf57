#!/usr/bin/env bash
# Halves a 24-megapixel picture into a JPEG at quality 85 with imbrix-batch, with `vips resize`
# and with ImageMagick, and prints each one's best wall time and peak memory over a few runs.
#   bench/pipeline_vs_vips.sh [BUILD_DIR] [RUNS] [SOURCE]
# SOURCE is the source file's kind: jpg (default), tif (uncompressed RGB), tif-lzw (LZW with
# horizontal differencing) or png (zlib level 6, adaptive filters).
# Needs libvips-tools and imagemagick (scripts/setup.sh --bench installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
source=${3:-jpg}
batch=$build/cli/imbrix-batch
magick=/usr/bin/convert
. bench/timing.sh
bench_start "$batch" /usr/bin/vips "$magick"
case "$source" in
  jpg) ext=jpg; options=(-quality 92) ;;
  tif) ext=tif; options=(-depth 8 -compress None) ;;
  tif-lzw) ext=tif; options=(-depth 8 -compress LZW -define tiff:predictor=2) ;;
  png) ext=png; options=(-depth 8 -define png:compression-level=6 -define png:compression-filter=5) ;;
  *) echo "unknown source kind $source (jpg, tif, tif-lzw or png)" >&2; exit 2 ;;
esac
src="$tmp/photo.$ext"
make_photo "$src" "${options[@]}"
echo "source: 6000 x 4000 $source, $(( $(stat -c %s "$src") / 1024 )) KiB; best of $runs runs"

best_of imbrix "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$src"
best_of vips /usr/bin/vips resize "$src" "$tmp/out/photo.jpg[Q=85]" 0.5
best_of imagemagick "$magick" "$src" -filter Lanczos -resize 50% -quality 85 "$tmp/out/photo.jpg"

awk -v i="$imbrix_time" -v v="$vips_time" -v m="$imagemagick_time" \
    -v ic="$imbrix_cpu" -v vc="$vips_cpu" -v mc="$imagemagick_cpu" -v mb="$imbrix_mb" 'BEGIN {
  printf "imbrix / vips:        wall %.3f  cpu %.2f  (goal <= 0.50, stretch 0.40)\n", i / v, ic / vc
  printf "imbrix / ImageMagick: wall %.3f  cpu %.2f  (goal <= 0.30)\n", i / m, ic / mc
  printf "imbrix peak memory:   %d MB (goal <= 95)\n", mb }'
