# Helpers the bench scripts source. They expect $runs (how many runs) to be set, and
# bench_start to have made $tmp.

# bench_start TOOL...: stops the script (status 2) naming the first tool missing, then makes
# the scratch folder $tmp, removed when the script exits.
bench_start() {
  local tool
  for tool in "$@" /usr/bin/time; do
    [ -x "$tool" ] || { echo "missing $tool (build imbrix-batch; scripts/setup.sh --bench)" >&2; exit 2; }
  done
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
}

# best_of NAME COMMAND...: runs COMMAND $runs times in a fresh output folder, prints the best
# wall time (to the millisecond), the best processor time (user + system: steadier on a busy
# machine) and the largest peak resident size, and sets NAME_time, NAME_cpu and NAME_mb. /usr/bin/time counts
# the processor time of every child waited for; its peak is the largest single process.
best_of() {
  local name=$1; shift
  local best="" bestcpu="" peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$tmp/out"; mkdir "$tmp/out"
    # The wall time is taken around the run to the microsecond: /usr/bin/time's own counts
    # only in hundredths, coarse beside a run of 0.2 s.
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%U %S %M" -o "$tmp/time" "$@" >/dev/null
    end=$(date +%s%N)
    read -r user sys kb <"$tmp/time"
    wall=$(awk "BEGIN{print ($end - $start) / 1e9}")
    cpu=$(awk "BEGIN{print $user + $sys}")
    if [ -z "$best" ] || awk "BEGIN{exit !($wall < $best)}"; then best=$wall; fi
    if [ -z "$bestcpu" ] || awk "BEGIN{exit !($cpu < $bestcpu)}"; then bestcpu=$cpu; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  printf '%-12s wall %7.3f s   cpu %6.2f s   peak %6d MB\n' "$name" "$best" "$bestcpu" $(( peak / 1024 ))
  eval "${name}_time=$best; ${name}_cpu=$bestcpu; ${name}_mb=$(( peak / 1024 ))"
}

# make_photo FILE [CONVERT OPTIONS...]: a photo-like picture, 6000 x 4000: smooth fractal
# colour with fine detail, written by ImageMagick with the options given.
make_photo() {
  local file=$1; shift
  /usr/bin/convert -size 1500x1000 -seed 7 plasma:fractal -resize 6000x4000! -attenuate 0.4 +noise Gaussian \
    -type TrueColor "$@" "$file"
}
