#!/usr/bin/env bash
# What the phone-picture steps cost: halves a 24-megapixel JPEG at quality 85 with
# imbrix-batch as a plain file, with EXIF orientation 6 alone, and as a phone would save it
# (orientation 6 and an embedded Display P3 profile), and prints the time the steps add, wall
# and processor.
#   bench/phone_vs_plain.sh [BUILD_DIR] [RUNS]
# Needs imagemagick, Debian's Python with Pillow, a C compiler and liblcms2-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-4}
batch=$build/cli/imbrix-batch
python=/usr/bin/python3
. bench/timing.sh
bench_start "$batch" /usr/bin/convert "$python"

# Display P3 as phones embed it: D65, P3 primaries, the sRGB curve.
cat >"$tmp/p3.c" <<'C'
#include <lcms2.h>
int main(int argc, char** argv) {
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(NULL, 4, srgb);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    return argc == 2 && cmsSaveProfileToFile(cmsCreateRGBProfile(&d65, &p3, curves), argv[1]) ? 0 : 1;
}
C
cc -o "$tmp/p3" "$tmp/p3.c" -llcms2
"$tmp/p3" "$tmp/p3.icc"

make_photo "$tmp/photo.ppm"
# Both saved by Pillow at quality 92 (4:2:0), so the two files differ in the two steps only.
"$python" - "$tmp" <<'PY'
import sys
from PIL import Image
tmp = sys.argv[1]
picture = Image.open(tmp + "/photo.ppm")
picture.save(tmp + "/plain.jpg", quality=92)
exif = Image.Exif()
exif[0x0112] = 6
picture.save(tmp + "/upright.jpg", quality=92, exif=exif.tobytes())
picture.save(tmp + "/phone.jpg", quality=92, exif=exif.tobytes(),
             icc_profile=open(tmp + "/p3.icc", "rb").read())
PY
echo "source: 6000 x 4000 jpg, best of $runs runs"

best_of plain "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp/plain.jpg"
best_of upright "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp/upright.jpg"
best_of phone "$batch" -s half -q 85 -t jpg -o "$tmp/out" "$tmp/phone.jpg"

awk -v p="$plain_time" -v u="$upright_time" -v f="$phone_time" \
    -v pc="$plain_cpu" -v uc="$upright_cpu" -v fc="$phone_cpu" 'BEGIN {
  printf "orientation alone adds:      wall %+.0f %%  cpu %+.0f %%\n", 100 * (u / p - 1), 100 * (uc / pc - 1)
  printf "orientation and profile add: wall %+.0f %%  cpu %+.0f %%  (goal <= 10 %%)\n",
         100 * (f / p - 1), 100 * (fc / pc - 1) }'
