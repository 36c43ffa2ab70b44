#!/usr/bin/env bash
# Builds the programs that tools/bench.sh compares the current build with
# (SEGMIX_BENCH_BEFORE): segmix, segmix_sample_bench and
# segmix_likelihood_bench at an older commit, by default e41ac0d (the
# peeling as it was before the kernels of src/model/peel_kernels.cpp). That
# commit has no segmix_sample_bench: this tree's bench/sample_bench.cpp is
# copied in and adapted to its interfaces by tools/bench-before.patch (the
# family data read without a unit number, the evaluation through
# SampleLogLikelihood in run mode 1, whose evaluation line goes to a null
# console).
#
#   tools/bench-before.sh OUT_DIR [COMMIT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: tools/bench-before.sh OUT_DIR [COMMIT]}
commit=${2:-e41ac0d}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tree=$(mktemp -d "${TMPDIR:-/tmp}/segmix-before.XXXXXX")
trap 'git -C "$root" worktree remove --force "$tree" >/dev/null 2>&1 || true' EXIT
git -C "$root" worktree add --detach "$tree" "$commit" >/dev/null
cp "$root/bench/sample_bench.cpp" "$root/bench/CMakeLists.txt" "$tree/bench/"
patch -s -p1 -d "$tree" <"$root/tools/bench-before.patch"
cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=ON >/dev/null
cmake --build "$tree/build" -j "${SEGMIX_JOBS:-$(nproc)}" --target segmix \
  segmix_sample_bench segmix_likelihood_bench
for name in segmix segmix_sample_bench segmix_likelihood_bench; do
  found=$(find "$tree/build" -name "$name" -type f -perm -u+x | head -n 1)
  [ -n "$found" ] || { echo "tools/bench-before.sh: $name was not built" >&2; exit 1; }
  cp "$found" "$out/"
done
echo "tools/bench-before.sh: the programs of $commit are in $out"
