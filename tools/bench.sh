#!/usr/bin/env bash
# Speed of segmix's likelihood, apart from the test suite (see
# bench/RESULTS.md for the figures and how they were taken):
#   1. builds segmix, segmix-simulate, segmix-prep and the benchmarks in
#      build/bench (Release);
#   2. draws the benchmark samples with fixed seeds: capacity/ (604
#      four-generation families, 24,578 members) and families300/ (300
#      families), each prepared by segmix-prep (every family corrected);
#   3. times one SampleLogLikelihood evaluation on them, on one thread and on
#      all, and the synthetic 300-family sample of segmix_likelihood_bench;
#   4. times whole runs of segmix on examples/simulated and on families300/.
#
#   tools/bench.sh [WORK_DIR]
#
# WORK_DIR (default: a new temporary directory) receives the samples and the
# runs' output. SEGMIX_BENCH_ARGS passes options to the benchmarks (e.g.
# --benchmark_repetitions=5); SEGMIX_JOBS sets the build's parallel jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/segmix-bench.XXXXXX")}
mkdir -p "$work"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=ON -DSEGMIX_BUILD_TOOLS=ON \
  >/dev/null
cmake --build "$build" -j "${SEGMIX_JOBS:-$(nproc)}" --target segmix \
  segmix-simulate segmix-prep segmix_sample_bench segmix_likelihood_bench
bin() { find "$build" -name "$1" -type f -perm -u+x | head -n 1; }
simulate=$(bin segmix-simulate)
prep=$(bin segmix-prep)

# draw NAME SEED FAMILIES CHILDREN: a four-generation sample with one
# covariate and polygenic and sex effects, prepared for segmix.
draw() {
  "$simulate" --seed "$2" --families "$3" --generations 4 --children "$4" \
    --marry-in 0.6 --covariates 1 --B1 0.5 --Sex 0.4 --pga 0.3 \
    --output "$work/$1.txt"
  rm -rf "${work:?}/$1"
  "$prep" --covariates cov1 "$work/$1.txt" "$work/$1" >/dev/null
}
draw capacity 15 604 3.5
draw families300 16 300 3.5
echo "== samples in $work: capacity $(($(wc -l <"$work/capacity.txt") - 3))" \
  "members, families300 $(($(wc -l <"$work/families300.txt") - 3)) members"

echo "== one evaluation"
SEGMIX_BENCH_SAMPLES="$work" "$(bin segmix_sample_bench)" \
  ${SEGMIX_BENCH_ARGS:-}
"$(bin segmix_likelihood_bench)" ${SEGMIX_BENCH_ARGS:-}

# Whole runs, one core (taskset) and all cores; peak memory from time -v.
for sample in "$root/examples/simulated" "$work/families300"; do
  run="$work/run-$(basename "$sample")"
  rm -rf "$run" && mkdir -p "$run"
  cp "$sample"/par.inp "$sample"/*.dat "$run"/
  for cores in 1 all; do
    pin=()
    [ "$cores" = 1 ] && pin=(taskset -c 0)
    (cd "$run" && /usr/bin/time -f "%e s wall, %U s user, %M KiB peak" \
      "${pin[@]}" "$(bin segmix)" >console.txt 2>time.txt) || true
    echo "== whole run on $(basename "$sample"), $cores core(s):" \
      "$(tail -n 1 "$run/time.txt")"
  done
done
