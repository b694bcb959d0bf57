#!/usr/bin/env bash
# Halves twelve 12-megapixel JPEGs into JPEGs at quality 85: with one imbrix-batch run, with
# `vips resize` two processes at a time (xargs -P2) and with ImageMagick's mogrify. Each one
# is timed as a whole (every process it starts), best wall time and best processor time over
# a few runs, and the largest peak resident size of any one process.
#   bench/many_files_vs_vips.sh [BUILD_DIR] [RUNS] [COUNT]
# IMBRIX_SEQUENTIAL=1 in the environment times imbrix-batch without its look-ahead as well.
# Needs libvips-tools and imagemagick (scripts/setup.sh --bench installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
count=${3:-12}
batch=$build/cli/imbrix-batch
magick=/usr/bin/convert
. bench/timing.sh
bench_start "$batch" /usr/bin/vips "$magick" /usr/bin/mogrify
mkdir "$tmp/src"
# Photo-like pictures, 4240 x 2832 (12 MP), each shifted so no two files are the same.
"$magick" -size 1060x708 -seed 11 plasma:fractal -resize 4240x2832! -attenuate 0.4 +noise Gaussian \
  -type TrueColor "$tmp/base.ppm"
for i in $(seq -w 1 "$count"); do
  "$magick" "$tmp/base.ppm" -roll "+$((10#$i * 37))+$((10#$i * 23))" -quality 92 "$tmp/src/photo$i.jpg"
done
rm "$tmp/base.ppm"
echo "sources: $count x 4240 x 2832 jpg, $(du -sk "$tmp/src" | cut -f1) KiB; best of $runs runs"

# The setting asks for a second, sequential run: the first one is always the normal path.
sequential=${IMBRIX_SEQUENTIAL:-}
unset IMBRIX_SEQUENTIAL
best_of imbrix "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp"/src/*.jpg
if [ "$sequential" = 1 ]; then
  best_of sequential env IMBRIX_SEQUENTIAL=1 "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp"/src/*.jpg
fi
# Two vips processes at a time, each halving one file.
best_of vips sh -c 'ls "$1"/*.jpg | xargs -P2 -I{} sh -c "vips resize {} $2/\$(basename {})[Q=85] 0.5"' _ \
  "$tmp/src" "$tmp/out"
best_of mogrify /usr/bin/mogrify -path "$tmp/out" -filter Lanczos -resize 50% -quality 85 "$tmp"/src/*.jpg

awk -v i="$imbrix_time" -v v="$vips_time" -v m="$mogrify_time" \
    -v ic="$imbrix_cpu" -v vc="$vips_cpu" -v mc="$mogrify_cpu" -v mb="$imbrix_mb" 'BEGIN {
  printf "imbrix / vips -P2:    wall %.3f  cpu %.2f  (goal <= 0.50)\n", i / v, ic / vc
  printf "imbrix / mogrify:     wall %.3f  cpu %.2f\n", i / m, ic / mc
  printf "imbrix peak memory:   %d MB\n", mb }'
