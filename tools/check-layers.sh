#!/usr/bin/env bash
# Checks that the libraries under src/ depend one way: no file includes a
# header of a layer above its own. The layers, lowest first:
#
#   textio < data < model < maximize < run < cli < review
#          < prep, simulate, check, fit
#
# The four companions stand side by side: none includes another's header
# (segmix-check and segmix-fit share the input review through review/). A
# folder under src/ that is not in the list fails too: place it in `rank`
# below.
#
# Usage: tools/check-layers.sh [source root, default: the repository's]
# Exit status 0 when every include keeps to the order, 1 otherwise (one line
# per offending include: file:line, the include, and why).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

declare -A rank=(
  [textio]=0 [data]=1 [model]=2 [maximize]=3 [run]=4 [cli]=5 [review]=6
  [prep]=7 [simulate]=7 [check]=7 [fit]=7
)
companion=7

status=0
fail() {
  echo "check-layers.sh: $1" >&2
  status=1
}

for dir in src/*/; do
  folder=$(basename "$dir")
  if [[ -z ${rank[$folder]+set} ]]; then
    fail "src/$folder is in no layer: add it to tools/check-layers.sh"
  fi
done

# Every quoted include that names a folder: file:line:#include "folder/...".
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  [[ $text =~ \"([^\"]*)\" ]] || continue
  header=${BASH_REMATCH[1]}
  from=${file#src/}
  from=${from%%/*}
  to=${header%%/*}
  # An unplaced folder of ours is reported above; any other is third-party.
  [[ -z ${rank[$from]+set} || -z ${rank[$to]+set} ]] && continue
  if ((rank[$to] > rank[$from])); then
    fail "$file:$line includes \"$header\": $to is a layer above $from"
  elif ((rank[$to] == companion && rank[$from] == companion)) &&
    [[ $to != "$from" ]]; then
    fail "$file:$line includes \"$header\": companions do not include each other's headers"
  fi
done < <(grep -rnE --include='*.h' --include='*.cpp' \
  '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' src || true)

if ((status == 0)); then
  echo "check-layers.sh: every include under src/ keeps to the layer order"
fi
exit "$status"
