#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, ASan and UBSan and runs each one on a copy of its
# seed corpus: for the seconds given as the argument, or else for an equal share of
# FUZZ_BUDGET seconds (default 900, CI's 15 minutes for all fuzz runs together), at most
# 30 s each. The share is computed from the harnesses built, so new ones need no edit here.
# Fails when any harness finds something; the finding is printed (base64) so that it can be
# saved under fuzz/crashes/<what>/. A harness with a dictionary of its format's words has it
# at fuzz/dicts/<what>.dict.
set -euo pipefail
cd "$(dirname "$0")/.."

budget=${FUZZ_BUDGET:-900}
build=${FUZZ_BUILD:-build-fuzz}
if ! command -v clang++ >/dev/null; then
  echo "run_fuzzers: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIMBRIX_FUZZ=ON -DIMBRIX_SANITIZE=ON -DIMBRIX_BENCH=OFF
fi
cmake --build "$build" -j "$(nproc)" --target fuzzers

harnesses=()
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] && harnesses+=("$exe")
done
if [ $# -ge 1 ]; then
  seconds=$1
else
  # Each run also spends a few seconds starting and loading its corpus.
  seconds=$(( budget / (${#harnesses[@]} > 0 ? ${#harnesses[@]} : 1) - 4 ))
  if [ "$seconds" -gt 30 ]; then seconds=30; fi
  if [ "$seconds" -lt 5 ]; then seconds=5; fi
fi
echo "run_fuzzers: ${#harnesses[@]} harnesses, $seconds s each"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
ran=0
for exe in "${harnesses[@]}"; do
  what=${exe##*/fuzz_}
  mkdir -p "$work/corpus/$what" "$work/findings/$what"
  if [ -d "fuzz/corpus/$what" ]; then cp -r "fuzz/corpus/$what/." "$work/corpus/$what/"; fi
  ran=$((ran + 1))
  dict=()
  if [ -f "fuzz/dicts/$what.dict" ]; then dict=(-dict="fuzz/dicts/$what.dict"); fi
  if "$exe" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$work/findings/$what/" "$work/corpus/$what" >"$work/$what.log" 2>&1; then
    echo "fuzz_$what: $(grep -E '^Done [0-9]+ runs' "$work/$what.log" | tail -1)"
  else
    failed+=("$what")
    echo "fuzz_$what: FOUND A PROBLEM"
    grep -E 'ERROR|SUMMARY|runtime error|Base64' "$work/$what.log" | head -20 || tail -30 "$work/$what.log"
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "run_fuzzers: no harness was built" >&2
  exit 1
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "run_fuzzers: findings in ${failed[*]}" >&2
  exit 1
fi
echo "run_fuzzers: $ran harnesses, no findings"
