#!/usr/bin/env bash
# Fuzzes the program's readers: builds the libFuzzer targets with clang++
# (AddressSanitizer, UndefinedBehaviorSanitizer, coverage for libFuzzer) in
# build/fuzz and runs every target, one after the other, for a given time.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
#   SECONDS_PER_TARGET  default 30
#   TARGET              layout, free_form, control_file, family_data,
#                       pedigree_table; default all
#
# Each target starts from its seed and regression corpus in
# tests/fuzz/corpus/<target> and keeps what it finds new in
# build/fuzz/corpus/<target>, so later runs go on from there. An input that
# crashes a target, trips a sanitizer, times out (10 s) or runs out of memory
# (2 GiB) is written to build/fuzz/findings/<target>/ and the script exits 1
# after the remaining targets ran. Reproduce one with
#   build/fuzz/tests/fuzz/fuzz_<target> build/fuzz/findings/<target>/<file>
# fix the fault, and copy the input into tests/fuzz/corpus/<target>/ as
# regression-<what>, where the corpus replay test (segmix_fuzz_tests) keeps
# running it.
#
# clang++ 15 or newer is needed (the sources use <source_location>, which
# libstdc++ 12 offers to clang only from 15 on): SEGMIX_FUZZ_CXX names one,
# else the newest clang++-NN on the PATH is used. tools/install-deps.sh
# installs clang-16 and its runtime (libclang-rt-16-dev) from Debian.
# Exit status 3 when no such compiler is found.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))

find_cxx() {
  if [ -n "${SEGMIX_FUZZ_CXX:-}" ]; then
    echo "$SEGMIX_FUZZ_CXX"
    return
  fi
  for v in 19 18 17 16 15; do
    if command -v "clang++-$v" >/dev/null; then
      echo "clang++-$v"
      return
    fi
  done
}
cxx=$(find_cxx)
if [ -z "$cxx" ]; then
  echo "fuzz.sh: no clang++ 15 or newer found; install clang-16 and libclang-rt-16-dev" >&2
  exit 3
fi

build="$root/build/fuzz"
# -O1 keeps the runs fast and the reports readable; assertions stay on.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DSEGMIX_SANITIZE=ON -DSEGMIX_FUZZ=ON -DSEGMIX_BUILD_BENCH=OFF >/dev/null

all_targets=(layout free_form control_file family_data pedigree_table)
if (($# > 0)); then targets=("$@"); else targets=("${all_targets[@]}"); fi
available=$(ninja -C "$build" -t targets all 2>/dev/null || true)
built=()
for t in "${targets[@]}"; do
  if grep -q "^tests/fuzz/fuzz_$t:" <<<"$available"; then
    built+=("$t")
  elif (($# > 0)); then
    echo "fuzz.sh: no target fuzz_$t in this build" >&2
    exit 2
  fi
done
cmake --build "$build" -j "${SEGMIX_FUZZ_BUILD_JOBS:-$(nproc)}" \
  --target "${built[@]/#/fuzz_}"

# Reports with file and line: any llvm-symbolizer reads clang's debug info.
for s in "llvm-symbolizer-${cxx##*-}" llvm-symbolizer; do
  if command -v "$s" >/dev/null; then
    export ASAN_SYMBOLIZER_PATH="${ASAN_SYMBOLIZER_PATH:-$(command -v "$s")}"
    break
  fi
done
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for t in "${built[@]}"; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$t: ${seconds}s"
  start=$SECONDS
  if "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" "$root/tests/fuzz/corpus/$t" \
      >"$build/fuzz_$t.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/fuzz_$t.log" |
      tr '\n' ' '
    echo "corpus $(ls "$work" | wc -l) files, $((SECONDS - start))s"
  else
    echo "fuzz_$t FAILED after $((SECONDS - start))s; log: $build/fuzz_$t.log"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$build/fuzz_$t.log" | head -20
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz.sh: findings in ${failed[*]}" >&2
  exit 1
fi
