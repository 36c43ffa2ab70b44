#!/usr/bin/env bash
# The split-bootstrap stage: segmix-fit's bootstrap run in K = 3 slices
# (--bootstrap-task i/3) and merged (--merge) must write the same files as one
# run with the same options, but for the elapsed time
# (tools/compare-fit-folders.sh), when the slices run
#
#   (a) side by side under GNU parallel on this machine, and
#   (b) as a Slurm job array from tools/slurm-bootstrap.sbatch with the
#       dependent merge job its header describes, on a single-node Slurm
#       started here (tools/slurm-local.sh) and stopped again at the end.
#
#   tools/check-slurm.sh
#
# Builds nothing: SEGMIX_FIT names the segmix-fit to run (default
# build/release/segmix-fit). The data are examples/small with 6 replicates of
# one test and no report.html, so each run takes seconds. Work files and
# what the runs print go to build/slurm.
# SEGMIX_SLURM_TIMEOUT bounds the wait for the Slurm jobs (default 300 s);
# SEGMIX_JOBS the slices GNU parallel runs at once (default all cores).
#
# Exit status 0 when both parts match; 3 when (a) matches but Slurm could not
# be started here (not root, not installed, a daemon that failed: the reason
# follows "Slurm stage skipped:"), so that a container without Slurm does not
# fail CI; 1 when a slice, a merge or a comparison fails, or the Slurm jobs do
# not finish in time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=${SEGMIX_FIT:-$root/build/release/segmix-fit}
[ -x "$fit" ] || {
  echo "check-slurm.sh: no segmix-fit at $fit: build it, or name one with SEGMIX_FIT" >&2
  exit 1
}
fit=$(realpath "$fit")
compare="$root/tools/compare-fit-folders.sh"
work="$root/build/slurm"
n=6 k=3
options=(--models "sporadic,major" --compare sporadic:major --starts 1 --quiet)

rm -rf "$work"
mkdir -p "$work"
data="$work/data"
cp -r "$root/examples/small" "$data"

fail() {
  echo "check-slurm.sh: $*" >&2
  exit 1
}

echo "--- one run, $n replicates"
start=$SECONDS
"$fit" "$data" --out "$work/single" --bootstrap "$n" "${options[@]}" \
  >"$work/single.txt" 2>&1 || fail "the single run failed: $(cat "$work/single.txt")"
echo "single run: $((SECONDS - start)) s"

echo "--- (a) $k slices under GNU parallel, merged"
command -v parallel >/dev/null ||
  fail "GNU parallel is not installed (tools/install-deps.sh installs it)"
start=$SECONDS
mkdir -p "$work/parallel"
parallel -q --will-cite --halt now,fail=1 -j "${SEGMIX_JOBS:-$(nproc)}" \
  "$fit" "$data" --out "$work/parallel/slice-{}" --bootstrap "$n" \
  --bootstrap-task "{}/$k" --threads 1 "${options[@]}" ::: $(seq "$k") \
  >"$work/parallel/slices.txt" 2>&1 ||
  fail "a slice failed under GNU parallel: $(cat "$work/parallel/slices.txt")"
"$fit" --merge "$work"/parallel/slice-* --out "$work/parallel/merged" \
  >"$work/parallel/merged.txt" 2>&1 ||
  fail "merging the GNU parallel slices failed: $(cat "$work/parallel/merged.txt")"
bash "$compare" "$work/single" "$work/parallel/merged" ||
  fail "the merged GNU parallel slices differ from the single run"
echo "GNU parallel: merged slices equal the single run ($((SECONDS - start)) s)"

echo "--- (b) a Slurm job array of $k slices and the dependent merge"
start=$SECONDS
status=0
slurm=$(bash "$root/tools/slurm-local.sh" start 2>"$work/slurm-local.err") || status=$?
if ((status == 3)); then
  reason=$(sed -n 's/^slurm-local.sh: cannot start Slurm here: //p' "$work/slurm-local.err")
  echo "Slurm stage skipped: ${reason:-see below}"
  grep -v '^slurm-local.sh: cannot start Slurm here: ' "$work/slurm-local.err" || true
  exit 3
elif ((status != 0)); then
  cat "$work/slurm-local.err" >&2
  fail "tools/slurm-local.sh failed (status $status)"
fi
cat "$work/slurm-local.err"
jobs=()
cleanup() {
  ((${#jobs[@]} == 0)) || scancel "${jobs[@]}" 2>/dev/null || true
  bash "$root/tools/slurm-local.sh" stop "$slurm" || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM
export SLURM_CONF="$slurm/slurm.conf"

run="$work/slurm"
mkdir -p "$run"
# The template's usage, as its header gives it, with the array size on the
# command line and one CPU a task (the stage's machine may have two).
export DATA="$data" RUN="$run" N="$n" OPTIONS="${options[*]}" SEGMIX_FIT="$fit"
array=$(cd "$run" && sbatch --parsable --array=1-"$k" --cpus-per-task=1 \
  "$root/tools/slurm-bootstrap.sbatch") || fail "sbatch of the array failed"
jobs=("$array")
merge=$(cd "$run" && sbatch --parsable --dependency=afterok:"$array" \
  --kill-on-invalid-dep=yes --job-name=segmix-merge --output=segmix-merge-%j.out \
  --wrap="$SEGMIX_FIT --merge $RUN/slice-* --out $RUN/merged") ||
  fail "sbatch of the merge failed"
jobs+=("$merge")
echo "submitted array job $array and merge job $merge"

timeout=${SEGMIX_SLURM_TIMEOUT:-300}
deadline=$((SECONDS + timeout))
ids="$array,$merge"
while [ -n "$(squeue -h -j "$ids" -o %i 2>/dev/null)" ]; do
  ((SECONDS < deadline)) || {
    squeue -j "$ids" >&2 || true
    fail "the Slurm jobs did not finish within $timeout s (SEGMIX_SLURM_TIMEOUT)"
  }
  sleep 1
done
jobs=()

# With no accounting, scontrol still knows finished jobs (MinJobAge).
# Every array task and the merge must have completed.
states=$(scontrol -o show job "$array"; scontrol -o show job "$merge") || true
done_count=$(grep -c 'JobState=COMPLETED' <<<"$states" || true)
if ((done_count != k + 1)); then
  # One line a job: its id, its array task (none for the merge), its state.
  awk '{ l = ""; for (i = 1; i <= NF; ++i)
           if ($i ~ /^(JobId|ArrayTaskId|JobState|Reason)=/) l = l " " $i
         print "  " l }' <<<"$states" >&2
  tail -n 20 "$run"/*.out >&2 || true
  fail "a Slurm job did not complete"
fi
bash "$compare" "$work/single" "$run/merged" ||
  fail "the Slurm job array's merged slices differ from the single run"
echo "Slurm: merged slices equal the single run ($((SECONDS - start)) s with starting Slurm)"
