#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz) and runs each for SECONDS
# (default 60), two at a time.
#
#   scripts/fuzz.sh [SECONDS [TARGET...]]   e.g. scripts/fuzz.sh 1800 for a long run,
#                                           scripts/fuzz.sh 600 filter for one target
#
# Each target first replays its regression inputs (fuzz/regressions/<target>/),
# then fuzzes from the seeds in fuzz/corpus/<target>/ and the inputs found by
# earlier runs (build-fuzz/corpus/<target>/, kept between runs).  A crash, a
# leak, a timeout or an out-of-memory stops that target and leaves the input
# in build-fuzz/artifacts/; the script then exits 1.  Logs are in
# build-fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build-fuzz
targets=(filter conversion orientation bitmap_commands)
if [ $# -gt 1 ]; then targets=("${@:2}"); fi

./scripts/install-deps.sh clang libclang-rt-14-dev llvm
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLABEL_SANITIZE=ON -DLABEL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts" "$build/logs"

# -timeout: no input may take 25 s (the filter's pages are capped at 1 MiB in
# the target); -rss_limit_mb: nor use 2 GiB.  -malloc_limit_mb: a single
# allocation of 5 GiB is a failure.  It is not 2 GiB because libcups itself,
# reading the header of a compressed stream, asks calloc for twice the
# header's row length (up to 4 GiB) before the filter sees the header; the
# memory is not touched (the RSS limit stays), and under a smaller address
# space libcups refuses the header, which the filter reports.
limits=(-timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=5120)

# Runs one target; its exit status is libFuzzer's.
fuzz_one() {
  local t=$1 exe="$build/fuzz/fuzz_$1" log="$build/logs/$1.log"
  local corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  : >"$log"
  local regressions=(fuzz/regressions/"$t"/*)
  if [ -e "${regressions[0]}" ]; then
    "$exe" "${limits[@]}" "${regressions[@]}" >>"$log" 2>&1 || return 1
  fi
  "$exe" -max_total_time="$seconds" "${limits[@]}" -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "$corpus" "fuzz/corpus/$t" >>"$log" 2>&1
}

# Two targets at a time: the next one starts as soon as one ends.
echo "Fuzzing ${targets[*]} for $seconds s each, two at a time"
declare -A status
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  (if fuzz_one "$t"; then echo ok; else echo FAILED; fi >"$build/logs/$t.status") &
done
wait
for t in "${targets[@]}"; do status[$t]=$(cat "$build/logs/$t.status"); done

failed=0
for t in "${targets[@]}"; do
  log="$build/logs/$t.log"
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  printf '%-16s %-6s %s runs, %s\n' "$t" "${status[$t]}" "${runs:-?}" "${cov:-cov: ?}"
  if [ "${status[$t]}" != ok ]; then
    failed=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)' "$log" |
      head -5 | sed 's/^/    /'
  fi
done
exit "$failed"
