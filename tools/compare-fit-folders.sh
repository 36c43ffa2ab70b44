#!/usr/bin/env bash
# compare-fit-folders.sh A B: exit 0 when two segmix-fit output folders hold
# the same files with the same bytes, except for the run's own elapsed time
# (fit.json's "seconds", and in report.html its header's "N s." and the
# "seconds" of the copy of fit.json it holds), which no two runs share; a
# slice's part file is left out. Used to check that a bootstrap split into
# slices and merged equals one run. Prints the differences otherwise (exit 1).
set -euo pipefail
a=$1 b=$2
[ -d "$a" ] && [ -d "$b" ] || { echo "compare-fit-folders.sh: give two folders" >&2; exit 2; }
# The lists of files, staging and lock files left out.
list() { (cd "$1" && find . -path './.staging-*' -prune -o -type f ! -name '.segmix-fit.lock' ! -name 'bootstrap-part.json' -print | LC_ALL=C sort); }
if ! diff <(list "$a") <(list "$b"); then
  echo "compare-fit-folders.sh: $a and $b hold different files" >&2
  exit 1
fi
strip() {
  case "$1" in
    */fit.json) sed -E 's/^ "seconds": [-0-9.eE+]+,$/ "seconds": X,/' "$1" ;;
    */report.html) sed -E -e 's/observed members, [0-9.]+ s\. /observed members, X s. /' \
      -e 's/"seconds": ?[-0-9.eE+]+,/"seconds": X,/' "$1" ;;
    *) cat "$1" ;;
  esac
}
status=0
while IFS= read -r f; do
  if ! cmp -s <(strip "$a/$f") <(strip "$b/$f"); then
    echo "compare-fit-folders.sh: $f differs:" >&2
    diff <(strip "$a/$f") <(strip "$b/$f") | head -10 >&2 || true
    status=1
  fi
done < <(list "$a")
exit $status
