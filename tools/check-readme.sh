#!/usr/bin/env bash
# Runs the manual's walk-through (docs/walk-through.md) on a fresh clone, as written: clones
# the repository's committed HEAD into a temporary directory and runs every
# code block of docs/walk-through.md fenced as ```sh, in order, in one bash session
# (errexit, pipefail) started at the clone's root. Blocks fenced otherwise
# are excerpts, output or examples to adapt, and are not run. Exits nonzero
# when a command fails, naming it.
#
#   tools/check-readme.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/segmix-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
git clone -q "$root" "$scratch/segmix"
cd "$scratch/segmix"
awk '/^ *```sh$/ { inside = 1; next }
     /^ *```/    { inside = 0 }
     inside      { sub(/^ +/, ""); print }' docs/walk-through.md >"$scratch/readme.sh"
if ! [ -s "$scratch/readme.sh" ]; then
  echo "check-readme.sh: docs/walk-through.md has no \`\`\`sh block" >&2
  exit 1
fi
echo "== running the walk-through's $(wc -l <"$scratch/readme.sh") commands in a fresh clone"
bash -euo pipefail -x "$scratch/readme.sh"
echo "== the walk-through's commands ran"
