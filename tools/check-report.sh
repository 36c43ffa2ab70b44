#!/usr/bin/env bash
# The browser stage: segmix-fit's report.html of the simulated example,
# rendered in headless Chromium (tools/check-report.js, through the DevTools
# protocol). Fails on any console error, any request the page makes, any
# figure not rendered or not exportable as SVG and PNG; saves a screenshot of
# the page as build/report/report.png.
#
#   tools/check-report.sh
#
# A short series keeps it quick: sporadic, major and mixed from their base and
# nesting starts, with the profile of Q. SEGMIX_FIT names a segmix-fit to use
# (tools/test-all.sh passes the release build's); otherwise one is built in
# build/report. SEGMIX_JOBS sets the build's parallel jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/report"
mkdir -p "$out"

fit=${SEGMIX_FIT:-}
if [ -z "$fit" ]; then
  cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSEGMIX_BUILD_TESTS=OFF -DSEGMIX_BUILD_BENCH=OFF >/dev/null
  cmake --build "$out/build" --target segmix-fit -j "${SEGMIX_JOBS:-$(nproc)}"
  fit="$out/build/segmix-fit"
fi

data="$out/simulated"
rm -rf "$data"
mkdir -p "$data"
cp "$root"/examples/simulated/par.inp "$root"/examples/simulated/*.dat "$data"/
"$fit" "$data" --models sporadic,major,mixed --starts 0 --profile Q --quiet \
  >"$out/report.txt"
test -s "$data/fit/report.html"
node "$root/tools/check-report.js" "$data/fit/report.html" "$out/report.png" \
  trait,models,tests,profile-Q,families,posteriors
