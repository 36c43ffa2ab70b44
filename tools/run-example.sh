#!/usr/bin/env bash
# Builds segmix and runs it on the bundled example (examples/small) in a
# scratch directory, as a user runs it: the program reads par.inp and the data
# files from its working directory and writes its results there. Shows the
# console report and the summary sigma.dat, and says where the other result
# files are. Exits with the program's own exit status.
#
#   tools/run-example.sh [SCRATCH_DIR]
#
# SCRATCH_DIR defaults to a new temporary directory. SEGMIX_JOBS sets the
# build's parallel jobs (default: all processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"

# A build of the program alone, apart from the test build in build/release.
build="$root/build/example"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=OFF -DSEGMIX_BUILD_TOOLS=OFF \
  >/dev/null
cmake --build "$build" --target segmix -j "${SEGMIX_JOBS:-$(nproc)}"

scratch=${1:-$(mktemp -d "${TMPDIR:-/tmp}/segmix-example.XXXXXX")}
mkdir -p "$scratch"
cp "$root"/examples/small/par.inp "$root"/examples/small/*.dat "$scratch"/
cd "$scratch"

echo "== segmix in $scratch: console report"
status=0
"$build/segmix" | tee console.txt || status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  echo "== segmix ended with exit status $status (par.err holds any parameter message)"
fi
if [ -s sigma.dat ]; then
  echo "== sigma.dat: the estimates"
  cat sigma.dat
fi
echo "== results in $scratch: console.txt, sigma.dat, LH_fam.dat, max.dat, par.err"
exit "$status"
