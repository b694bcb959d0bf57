#!/usr/bin/env bash
# Times djpeg and cjpeg (libjpeg-turbo-progs) on the 6000 x 4000 sample that bench_jpeg
# decodes and encodes, so the two can be set side by side: the library is the same, the
# difference is what our adapter (and the process start-up and file I/O of the tools) adds.
#
#   bench/jpeg_vs_libjpeg.sh [BUILD_DIR]     (default: build)
set -euo pipefail

build=${1:-build}
bench="$build/bench/bench_jpeg"
[ -x "$bench" ] || { echo "no $bench: build the bench_jpeg target first" >&2; exit 1; }
for tool in djpeg cjpeg; do
  command -v "$tool" >/dev/null || { echo "$tool missing: install libjpeg-turbo-progs" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write-sample "$work"

decode="djpeg -outfile /dev/null $work/sample.jpg"
encode="cjpeg -quality 85 -outfile /dev/null $work/sample.ppm"

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs 5 "$decode" "$encode"
else
  # Mean wall time of five runs each.
  for cmd in "$decode" "$encode"; do
    $cmd  # warm-up (page cache)
    start=$(date +%s%N)
    for _ in 1 2 3 4 5; do $cmd; done
    end=$(date +%s%N)
    printf '%-60s %8.1f ms\n' "$cmd" "$(echo "($end - $start) / 5 / 1000000" | bc -l)"
  done
fi

echo
"$bench" --benchmark_filter='BM_(TJPEGImage|Libjpeg|NewBitmap)'
