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
for tool in "$batch" /usr/bin/vips "$magick" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing $tool (build imbrix-batch; scripts/setup.sh --bench)" >&2; exit 2; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A photo-like picture: smooth fractal colour with fine detail, 6000 x 4000.
case "$source" in
  jpg) ext=jpg; options=(-quality 92) ;;
  tif) ext=tif; options=(-depth 8 -compress None) ;;
  tif-lzw) ext=tif; options=(-depth 8 -compress LZW -define tiff:predictor=2) ;;
  png) ext=png; options=(-depth 8 -define png:compression-level=6 -define png:compression-filter=5) ;;
  *) echo "unknown source kind $source (jpg, tif, tif-lzw or png)" >&2; exit 2 ;;
esac
src="$tmp/photo.$ext"
"$magick" -size 1500x1000 -seed 7 plasma:fractal -resize 6000x4000! -attenuate 0.4 +noise Gaussian \
  -type TrueColor "${options[@]}" "$src"
echo "source: 6000 x 4000 $source, $(( $(stat -c %s "$src") / 1024 )) KiB; best of $runs runs"

# best_of NAME COMMAND...: runs COMMAND $runs times in a fresh output folder, prints the best
# wall time, the best processor time (user + system: steadier on a busy machine) and the
# largest peak resident size.
best_of() {
  local name=$1; shift
  local best="" bestcpu="" peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$tmp/out"; mkdir "$tmp/out"
    /usr/bin/time -f "%e %U %S %M" -o "$tmp/time" "$@" >/dev/null
    read -r wall user sys kb <"$tmp/time"
    cpu=$(awk "BEGIN{print $user + $sys}")
    if [ -z "$best" ] || awk "BEGIN{exit !($wall < $best)}"; then best=$wall; fi
    if [ -z "$bestcpu" ] || awk "BEGIN{exit !($cpu < $bestcpu)}"; then bestcpu=$cpu; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  printf '%-12s wall %6.2f s   cpu %6.2f s   peak %6d MB\n' "$name" "$best" "$bestcpu" $(( peak / 1024 ))
  eval "${name}_time=$best; ${name}_cpu=$bestcpu; ${name}_mb=$(( peak / 1024 ))"
}

best_of imbrix "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$src"
best_of vips /usr/bin/vips resize "$src" "$tmp/out/photo.jpg[Q=85]" 0.5
best_of imagemagick "$magick" "$src" -filter Lanczos -resize 50% -quality 85 "$tmp/out/photo.jpg"

awk -v i="$imbrix_time" -v v="$vips_time" -v m="$imagemagick_time" \
    -v ic="$imbrix_cpu" -v vc="$vips_cpu" -v mc="$imagemagick_cpu" -v mb="$imbrix_mb" 'BEGIN {
  printf "imbrix / vips:        wall %.2f  cpu %.2f  (goal <= 0.50, stretch 0.40)\n", i / v, ic / vc
  printf "imbrix / ImageMagick: wall %.2f  cpu %.2f  (goal <= 0.30)\n", i / m, ic / mc
  printf "imbrix peak memory:   %d MB (goal <= 95)\n", mb }'
