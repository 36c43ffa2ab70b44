#!/usr/bin/env bash
# Speed of segmix's likelihood, apart from the test suite (bench/RESULTS.md
# holds the figures and says how they were taken):
#   1. builds segmix, segmix-simulate, segmix-prep and the benchmarks in
#      build/speed (Release);
#   2. draws the benchmark samples with fixed seeds: capacity/ (604
#      four-generation families, 24,578 members), families300/ (300
#      families, 11,333 members) and mid300/ (300 three-generation families
#      of about 13 members, 3,981 in all), each prepared by segmix-prep
#      (every family corrected for ascertainment);
#   3. times one SampleLogLikelihood evaluation on them (segmix_sample_bench:
#      as drawn, and with the general transmission table) and on the
#      synthetic sample of segmix_likelihood_bench, on one thread and on all;
#   4. times whole runs of segmix on examples/simulated, families300/ and
#      mid300/, on one core and on all, with their peak memory;
#   5. runs segmix-fit's default series on examples/simulated: a build of an
#      older commit and the current one in turn, then the current one under
#      taskset -c 0; wall and processor time of each, and per model the
#      evaluations (starts and the final fit, as the progress lines count
#      them) and the best ln LH.
#
#   tools/bench.sh [WORK_DIR]
#
# SEGMIX_BENCH_PARTS chooses the parts: "likelihood" (2 to 4), "series" (5),
# or "all" (the default). The series' older side is SEGMIX_BENCH_SERIES_BEFORE
# (a segmix-fit program), else segmix-fit built from commit
# SEGMIX_BENCH_SERIES_COMMIT (default 69ab702, the series before the
# quasi-Newton screening) in a temporary worktree; SEGMIX_BENCH_SERIES_ROUNDS
# (default 1) repeats the pair.
#
# WORK_DIR (default: a new temporary directory) receives the samples and the
# runs' files. SEGMIX_BENCH_BEFORE=DIR names a folder with segmix,
# segmix_sample_bench and segmix_likelihood_bench built from an older commit
# (tools/bench-before.sh DIR builds them): every timing then
# runs the older and the current build in turn, SEGMIX_BENCH_ROUNDS times
# (default 3), and the whole runs' five output files are compared byte for
# byte. On a shared machine compare the ratios of the pairs, not single
# times. SEGMIX_BENCH_ARGS passes options to the benchmarks; SEGMIX_JOBS sets
# the build's parallel jobs; SEGMIX_BENCH_BUILD another build folder than
# build/speed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SEGMIX_BENCH_BUILD:-$root/build/speed}
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/segmix-bench.XXXXXX")}
mkdir -p "$work"
before=${SEGMIX_BENCH_BEFORE:-}
rounds=${SEGMIX_BENCH_ROUNDS:-3}
[ -n "$before" ] || rounds=1

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=ON -DSEGMIX_BUILD_TOOLS=ON \
  >/dev/null
cmake --build "$build" -j "${SEGMIX_JOBS:-$(nproc)}" --target segmix \
  segmix-simulate segmix-prep segmix_sample_bench segmix_likelihood_bench \
  segmix-fit
parts=${SEGMIX_BENCH_PARTS:-all}
case "$parts" in
  all | likelihood | series) ;;
  *)
    echo "tools/bench.sh: SEGMIX_BENCH_PARTS is all, likelihood or series," \
      "not '$parts'" >&2
    exit 3
    ;;
esac
bin() { # NAME: the program built above (programs at the build's top)
  for place in "$build" "$build/apps" "$build/bench"; do
    if [ -x "$place/$1" ] && [ -f "$place/$1" ]; then
      echo "$place/$1"
      return
    fi
  done
  echo "tools/bench.sh: $1 was not built in $build" >&2
  exit 1
}
# The series of segmix-fit on examples/simulated: SIDE PROGRAM [PIN...].
series_run() {
  local side=$1 fit=$2
  shift 2
  local out="$work/series-$side"
  rm -rf "$out"
  /usr/bin/time -f "%e %U %S" -o "$work/series-$side.time" "$@" "$fit" \
    "$root/examples/simulated" --out "$out" >"$work/series-$side.report" \
    2>"$work/series-$side.progress" || echo "$side: segmix-fit failed"
  read -r wall user sys <"$work/series-$side.time"
  echo "-- series, $side: $wall s wall, $user s user, $sys s system"
  # Evaluations per model from the progress lines (one per start, and one
  # per final fit), the best ln LH from models.csv.
  awk '/^model [0-9]+ of [0-9]+ \(/ {
      name = $0; sub(/^[^(]*\(/, "", name); sub(/\).*/, "", name)
      sub(/, polish$/, "", name)
      ev = $0; sub(/ evaluations.*/, "", ev); sub(/.*: /, "", ev)
      n[name] += ev; if (!(name in seen)) { seen[name] = 1; order[++k] = name } }
    END { for (i = 1; i <= k; ++i) print order[i], n[order[i]] }' \
    "$work/series-$side.progress" >"$work/series-$side.evaluations"
  awk -F, 'NR > 1 { print $1, $2 }' "$out/models.csv" >"$work/series-$side.maxima"
  join -j 1 <(sort "$work/series-$side.evaluations") \
    <(sort "$work/series-$side.maxima") |
    awk '{ total += $2; printf "   %-16s %7d evaluations, ln LH %s\n", $1, $2, $3 }
      END { printf "   %-16s %7d evaluations\n", "all", total }'
}
series_part() {
  local fit_before=${SEGMIX_BENCH_SERIES_BEFORE:-}
  if [ -z "$fit_before" ]; then
    local commit=${SEGMIX_BENCH_SERIES_COMMIT:-69ab702}
    local tree="$work/series-before-tree"
    rm -rf "$tree"
    git -C "$root" worktree add --detach "$tree" "$commit" >/dev/null
    cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=OFF >/dev/null
    cmake --build "$tree/build" -j "${SEGMIX_JOBS:-$(nproc)}" \
      --target segmix-fit >/dev/null
    fit_before="$work/segmix-fit-before"
    cp "$(find "$tree/build" -name segmix-fit -type f -perm -u+x | head -n 1)" \
      "$fit_before"
    git -C "$root" worktree remove --force "$tree"
    echo "== series: before is commit $commit"
  fi
  local fit
  fit=$(bin segmix-fit)
  echo "== series: segmix-fit's default series on examples/simulated"
  for round in $(seq "${SEGMIX_BENCH_SERIES_ROUNDS:-1}"); do
    series_run before "$fit_before"
    series_run current "$fit"
  done
  series_run current-1-core "$fit" taskset -c 0
}
if [ "$parts" = series ]; then
  series_part
  exit 0
fi

simulate=$(bin segmix-simulate)
prep=$(bin segmix-prep)

# draw NAME SEED FAMILIES [GENERATIONS CHILDREN]: four generations of 3.5
# children per couple unless told, one covariate, polygenic and sex effects,
# prepared for segmix.
draw() {
  "$simulate" --seed "$2" --families "$3" --generations "${4:-4}" \
    --children "${5:-3.5}" \
    --marry-in 0.6 --covariates 1 --B1 0.5 --Sex 0.4 --pga 0.3 \
    --output "$work/$1.txt"
  rm -rf "${work:?}/$1"
  "$prep" --covariates cov1 "$work/$1.txt" "$work/$1" >/dev/null
}
draw capacity 15 604
draw families300 16 300
draw mid300 16 300 3 3
echo "== samples in $work: capacity $(($(wc -l <"$work/capacity.txt") - 3))" \
  "members, families300 $(($(wc -l <"$work/families300.txt") - 3)) members," \
  "mid300 $(($(wc -l <"$work/mid300.txt") - 3)) members"

# sides: "current" and, with SEGMIX_BENCH_BEFORE, "before" first.
sides=(current)
[ -n "$before" ] && sides=(before current)
program() { # SIDE NAME
  if [ "$1" = before ]; then echo "$before/$2"; else bin "$2"; fi
}

echo "== one evaluation (wall time; CPU time beside it)"
for round in $(seq "$rounds"); do
  for side in "${sides[@]}"; do
    echo "-- $side, round $round"
    SEGMIX_BENCH_SAMPLES="$work" "$(program "$side" segmix_sample_bench)" \
      ${SEGMIX_BENCH_ARGS:-} 2>&1 | grep '^BM_'
    "$(program "$side" segmix_likelihood_bench)" ${SEGMIX_BENCH_ARGS:-} 2>&1 |
      grep '^BM_'
  done
done

# Whole runs, one core (taskset) and all cores; peak memory from time -v.
echo "== whole runs"
for sample in "$root/examples/simulated" "$work/families300" "$work/mid300"; do
  name=$(basename "$sample")
  for round in $(seq "$rounds"); do
    for cores in 1 all; do
      for side in "${sides[@]}"; do
        run="$work/run-$name-$side"
        rm -rf "$run" && mkdir -p "$run"
        cp "$sample"/par.inp "$sample"/*.dat "$run"/
        pin=()
        [ "$cores" = 1 ] && pin=(taskset -c 0)
        (cd "$run" && /usr/bin/time -f "%e s wall, %U s user, %M KiB peak" \
          "${pin[@]}" "$(program "$side" segmix)" >stdout 2>time) || true
        echo "$name, $cores core(s), $side: $(tail -n 1 "$run/time")"
      done
      if [ -n "$before" ]; then
        for f in stdout par.err max.dat sigma.dat LH_fam.dat; do
          cmp -s "$work/run-$name-before/$f" "$work/run-$name-current/$f" ||
            echo "$name: $f DIFFERS"
        done
      fi
    done
  done
done

[ "$parts" = all ] && series_part
