#!/usr/bin/env bash
# Builds segmix, segmix-prep and segmix-simulate with raised capacities (in
# build/capacity: N_FAM 2000, N_SIZE 60000) and runs a sample above the
# default N_FAM of 604 through them: 1,000 simulated two-generation families,
# prepared and analysed to estimates. Exits nonzero if any step fails, if
# --version does not show the raised capacities, or if the run does not end
# with estimates for all 1,000 families.
#
#   tools/check-capacity.sh
#
# SEGMIX_JOBS sets the build's parallel jobs (default: all processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/capacity"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=OFF \
  -DSEGMIX_N_FAM=2000 -DSEGMIX_N_SIZE=60000 >/dev/null
cmake --build "$build" --target segmix segmix-prep segmix-simulate \
  -j "${SEGMIX_JOBS:-$(nproc)}"

for program in segmix segmix-prep segmix-simulate; do
  if ! "$build/$program" --version | grep -q "N_FAM=2000 N_WAY=2000000 N_SIZE=60000"; then
    echo "check-capacity.sh: $program --version does not show the raised capacities" >&2
    exit 1
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/segmix-capacity.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$build/segmix-simulate" --seed 5 --families 1000 --generations 2 \
  --ascertain 2.5 --output "$scratch/table.txt"
"$build/segmix-prep" "$scratch/table.txt" "$scratch/data" | tee "$scratch/prep.txt"
grep -q ": 1000 families," "$scratch/prep.txt"
(cd "$scratch/data" && "$build/segmix" >console.txt)
grep -q "END OF PROGRAM" "$scratch/data/console.txt"
# One likelihood line per family in the final evaluation.
families=$(wc -l <"$scratch/data/LH_fam.dat")
if [ "$families" -ne 1000 ]; then
  echo "check-capacity.sh: LH_fam.dat has $families families, not 1000" >&2
  exit 1
fi
echo "== 1000 families on a build with N_FAM=2000: the estimates (sigma.dat)"
cat "$scratch/data/sigma.dat"
