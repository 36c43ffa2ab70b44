#!/usr/bin/env bash
# Builds the programs (segmix, segmix-prep, segmix-simulate, segmix-check and
# segmix-fit) in one build folder, build/example (build/example/segmix, ...),
# and runs the whole analysis on a bundled example in a scratch directory:
# segmix-check says what it finds suspicious in the inputs, then segmix-fit
# fits its default series of nested models and tests them. Shows segmix-fit's
# report, where report.html (the figures, one file that opens offline) is,
# and how to run the single-model segmix on the same folder. Exits with
# segmix-fit's exit status.
#
#   tools/run-example.sh [SCRATCH_DIR]
#
# The example is examples/simulated (200 families drawn from the model,
# prepared by segmix-prep); SEGMIX_EXAMPLE=small runs the small hand-made set
# instead. SCRATCH_DIR defaults to a new temporary directory. SEGMIX_JOBS sets
# the build's parallel jobs (default: all processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"

# A build of the programs alone, apart from the test build in build/release.
build="$root/build/example"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" \
  --target segmix segmix-prep segmix-simulate segmix-check segmix-fit \
  -j "${SEGMIX_JOBS:-$(nproc)}"

scratch=${1:-$(mktemp -d "${TMPDIR:-/tmp}/segmix-example.XXXXXX")}
mkdir -p "$scratch"
example=${SEGMIX_EXAMPLE:-simulated}
cp "$root/examples/$example"/par.inp "$root/examples/$example"/*.dat "$scratch"/
cd "$scratch"

echo "== segmix-check on examples/$example: what it finds suspicious in the inputs"
"$build/segmix-check" . || echo "   (segmix-check ended with exit status $?; 1 means warnings)"

echo "== segmix-fit on examples/$example in $scratch: the default model series"
echo "   (progress below; a few minutes on two cores)"
status=0
"$build/segmix-fit" . >report.txt || status=$?
if [ "$status" -ne 0 ]; then
  echo "== segmix-fit ended with exit status $status"
  exit "$status"
fi
echo "== the report (also in $scratch/report.txt)"
cat report.txt
if [ "$example" = simulated ]; then
  echo "== the data were drawn with Q=0.2 MU=3 A=1.5 D=0 SIG=1 B1=0.8 and no polygenic"
  echo "   component (examples/simulated/README.md walks through table, prep, run and results)"
fi
echo "== the figures: open $scratch/fit/report.html in a browser (it needs no network)"
echo "   beside it in $scratch/fit: models.csv, tests.csv, fit.json, families.csv,"
echo "   persons.csv and one folder per model with segmix's own files"
echo "== segmix alone fits the one model of par.inp in the folder it runs in:"
echo "   cd $scratch && $build/segmix"
echo "   (or copy a model's start first: cp fit/major/par.inp . and run it the same way)"
