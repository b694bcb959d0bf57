#!/usr/bin/env bash
# Halves a 24-megapixel JPEG at quality 85 with imbrix-batch, with `vips resize` and with
# ImageMagick, and prints each one's best wall time and peak memory over a few runs.
#   bench/pipeline_vs_vips.sh [BUILD_DIR] [RUNS]
# Needs libvips-tools and imagemagick (scripts/setup.sh --bench installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-3}
batch=$build/cli/imbrix-batch
magick=/usr/bin/convert
for tool in "$batch" /usr/bin/vips "$magick" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing $tool (build imbrix-batch; scripts/setup.sh --bench)" >&2; exit 2; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A photo-like picture: smooth fractal colour with fine detail, 6000 x 4000.
"$magick" -size 1500x1000 -seed 7 plasma:fractal -resize 6000x4000! -attenuate 0.4 +noise Gaussian \
  -quality 92 "$tmp/photo.jpg"
echo "source: 6000 x 4000, $(( $(stat -c %s "$tmp/photo.jpg") / 1024 )) KiB; best of $runs runs"

# best_of NAME COMMAND...: runs COMMAND $runs times in a fresh output folder, prints the best
# wall time (s) and the largest peak resident size (MB).
best_of() {
  local name=$1; shift
  local best="" peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$tmp/out"; mkdir "$tmp/out"
    /usr/bin/time -f "%e %M" -o "$tmp/time" "$@" >/dev/null
    read -r wall kb <"$tmp/time"
    if [ -z "$best" ] || awk "BEGIN{exit !($wall < $best)}"; then best=$wall; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  printf '%-12s %6.2f s  %6d MB\n' "$name" "$best" $(( peak / 1024 ))
  eval "${name//-/_}_time=$best; ${name//-/_}_mb=$(( peak / 1024 ))"
}

best_of imbrix "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp/photo.jpg"
best_of vips /usr/bin/vips resize "$tmp/photo.jpg" "$tmp/out/photo.jpg[Q=85]" 0.5
best_of imagemagick "$magick" "$tmp/photo.jpg" -filter Lanczos -resize 50% -quality 85 "$tmp/out/photo.jpg"

awk -v i="$imbrix_time" -v v="$vips_time" -v m="$imagemagick_time" -v mb="$imbrix_mb" 'BEGIN {
  printf "imbrix / vips: %.2f (goal <= 0.85)   imbrix / ImageMagick: %.2f (goal <= 0.30)   peak %d MB (goal <= 180)\n",
         i / v, i / m, mb }'
