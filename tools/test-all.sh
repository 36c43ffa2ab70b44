#!/usr/bin/env bash
# Builds segmix and runs everything CI runs, in stages, each timed:
#
#   0. source format: every C++ file of the tree as clang-format (the
#      checked-in .clang-format) lays it out, or the script stops at once;
#      and the layer order (tools/check-layers.sh): no file under src/
#      includes a header of a layer above its own;
#   1. release build (build/release, warnings as errors) and the whole test
#      suite (CTest);
#   2. sanitizer build (build/asan: g++ with AddressSanitizer and
#      UndefinedBehaviorSanitizer, -fno-sanitize-recover=all, -O1) and the
#      whole test suite again; any sanitizer report fails its test;
#   3. short fuzz runs (tools/fuzz.sh): every libFuzzer target for
#      SEGMIX_FUZZ_SECONDS seconds (default 30), when clang++ 15 or newer is
#      there (tools/install-deps.sh installs it); otherwise the stage says it
#      is skipped;
#   4. raised capacities (tools/check-capacity.sh): a build with N_FAM 2000
#      in build/capacity runs 1,000 simulated families to estimates;
#   5. the manual's walk-through (docs/walk-through.md) run on a fresh clone of the committed HEAD
#      (tools/check-readme.sh);
#   6. the browser stage (tools/check-report.sh): segmix-fit's report.html of
#      the simulated example rendered in headless Chromium, failing on any
#      console error, request or figure not drawn; its screenshot is
#      build/report/report.png;
#   7. the split bootstrap (tools/check-slurm.sh): the release segmix-fit's
#      bootstrap run in 3 slices (--bootstrap-task) and merged (--merge) must
#      equal one run, with the slices under GNU parallel and as a Slurm job
#      array (tools/slurm-bootstrap.sbatch) on a single-node Slurm started
#      here (tools/slurm-local.sh); when Slurm cannot start (a container, not
#      root) the stage says so and the GNU parallel half decides;
#   8. the bootstrap's calibration (tools/check-calibration.sh): on nuclear
#      families without probands or familial component, the bootstrap p of
#      sporadic within polygenic against its 50:50 chi2(0):chi2(1) law.
#
# Exit status nonzero on any build or test failure or fuzzing finding.
# SEGMIX_JOBS sets the build and test parallelism (default: all cores);
# SEGMIX_SANITIZE_STAGE=0, SEGMIX_FUZZ_SECONDS=0, SEGMIX_CAPACITY_STAGE=0,
# SEGMIX_README_STAGE=0, SEGMIX_REPORT_STAGE=0, SEGMIX_SLURM_STAGE=0 or
# SEGMIX_CALIBRATION_STAGE=0 leave a stage out locally.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${SEGMIX_JOBS:-$(nproc)}
fuzz_seconds=${SEGMIX_FUZZ_SECONDS:-30}
logs="$root/build/logs"
mkdir -p "$logs"
bash "$root/tools/install-deps.sh"

passed=0
timings=()

echo "=== source format (clang-format --dry-run --Werror)"
start=$SECONDS
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" ls-files -z -- '*.cpp' '*.h'
else
  (cd "$root" && find src apps tests bench -name '*.cpp' -o -name '*.h' | tr '\n' '\0')
fi | (cd "$root" && xargs -0 clang-format --dry-run --Werror)
timings+=("source format: $((SECONDS - start)) s")

echo "=== layer order of the includes (tools/check-layers.sh)"
bash "$root/tools/check-layers.sh"

# Runs CTest in build dir $1, keeping its output to count the tests.
run_ctest() {
  local log="$logs/ctest-$(basename "$1").log"
  ctest --test-dir "$1" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  passed=$((passed + ${n:-0}))
}

echo "=== release build and tests"
start=$SECONDS
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSEGMIX_WERROR=ON
cmake --build "$build" -j "$jobs"
run_ctest "$build"
timings+=("release build and tests: $((SECONDS - start)) s")

if [ "${SEGMIX_SANITIZE_STAGE:-1}" != 0 ]; then
  echo "=== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer) and tests"
  start=$SECONDS
  build="$root/build/asan"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DSEGMIX_SANITIZE=ON -DSEGMIX_BUILD_BENCH=OFF
  cmake --build "$build" -j "$jobs"
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    run_ctest "$build"
  timings+=("sanitizer build and tests: $((SECONDS - start)) s")
fi

if [ "$fuzz_seconds" != 0 ]; then
  echo "=== fuzzing, ${fuzz_seconds} s per target"
  start=$SECONDS
  status=0
  SEGMIX_FUZZ_BUILD_JOBS="$jobs" bash "$root/tools/fuzz.sh" "$fuzz_seconds" || status=$?
  if ((status == 3)); then
    timings+=("fuzzing: SKIPPED, no clang++ 15 or newer")
  elif ((status != 0)); then
    echo "test-all.sh: fuzzing found a fault (see above)" >&2
    exit "$status"
  else
    timings+=("fuzz build and runs: $((SECONDS - start)) s")
  fi
fi

if [ "${SEGMIX_CAPACITY_STAGE:-1}" != 0 ]; then
  echo "=== raised capacities: 1,000 families"
  start=$SECONDS
  SEGMIX_JOBS="$jobs" bash "$root/tools/check-capacity.sh"
  timings+=("raised-capacity build and run: $((SECONDS - start)) s")
fi

if [ "${SEGMIX_README_STAGE:-1}" != 0 ]; then
  echo "=== the walk-through on a fresh clone"
  start=$SECONDS
  bash "$root/tools/check-readme.sh"
  timings+=("walk-through on a fresh clone: $((SECONDS - start)) s")
fi

if [ "${SEGMIX_REPORT_STAGE:-1}" != 0 ]; then
  echo "=== report.html in headless Chromium"
  start=$SECONDS
  SEGMIX_FIT="$root/build/release/segmix-fit" bash "$root/tools/check-report.sh"
  timings+=("report in the browser: $((SECONDS - start)) s")
fi

if [ "${SEGMIX_SLURM_STAGE:-1}" != 0 ]; then
  echo "=== split bootstrap: GNU parallel and a Slurm job array"
  start=$SECONDS
  status=0
  SEGMIX_FIT="$root/build/release/segmix-fit" bash "$root/tools/check-slurm.sh" 2>&1 |
    tee "$logs/check-slurm.log" || status=$?
  if ((status == 3)); then
    reason=$(sed -n 's/^Slurm stage skipped: //p' "$logs/check-slurm.log")
    timings+=("split bootstrap, GNU parallel: $((SECONDS - start)) s; Slurm SKIPPED: $reason")
  elif ((status != 0)); then
    echo "test-all.sh: the split bootstrap failed (see above)" >&2
    exit "$status"
  else
    timings+=("split bootstrap, GNU parallel and Slurm: $((SECONDS - start)) s")
  fi
fi

if [ "${SEGMIX_CALIBRATION_STAGE:-1}" != 0 ]; then
  echo "=== bootstrap calibration against the 50:50 chi2 mixture"
  start=$SECONDS
  SEGMIX_FIT="$root/build/release/segmix-fit" \
    SEGMIX_SIMULATE="$root/build/release/segmix-simulate" \
    SEGMIX_PREP="$root/build/release/segmix-prep" \
    bash "$root/tools/check-calibration.sh"
  timings+=("bootstrap calibration: $((SECONDS - start)) s")
fi

echo "=== summary"
printf '%s\n' "${timings[@]}"
echo "tests: $passed passed, 0 failed"
