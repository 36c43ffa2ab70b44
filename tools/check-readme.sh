#!/usr/bin/env bash
# Checks the manual on a fresh clone of the repository's committed HEAD:
#
#   1. every relative link of README.md and of the pages in docs/ leads to a
#      file of the clone and, when it names a heading (page.md#heading), to a
#      heading of that page (anchors as GitHub forms them: lower case, blanks
#      as hyphens, punctuation dropped);
#   2. the walk-through, docs/walk-through.md, runs exactly as written: every
#      code block fenced as ```sh, in order, in one bash session (errexit,
#      pipefail) started at the clone's root. Blocks fenced otherwise are
#      excerpts, output or examples to adapt, and are not run.
#
# Exits nonzero naming the broken link or the failing command.
#
#   tools/check-readme.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/segmix-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
git clone -q "$root" "$scratch/segmix"
cd "$scratch/segmix"
walk_through=docs/walk-through.md

# The anchors of a page's headings, one a line, outside code blocks.
anchors_of() {
  awk '/^ *```/ { code = !code; next }
       !code && /^#+ / {
         sub(/^#+ +/, ""); s = tolower($0)
         gsub(/[^a-z0-9 _-]/, "", s); gsub(/ /, "-", s); print s
       }' "$1"
}

echo "== links of README.md and docs/"
broken=0
for page in README.md docs/*.md; do
  dir=$(dirname "$page")
  # Inline links [text](target) outside code blocks and code spans.
  while IFS= read -r target; do
    case $target in
      http://* | https://* | mailto:*) continue ;;
    esac
    file=${target%%#*}
    anchor=""
    [ "$file" = "$target" ] || anchor=${target#*#}
    path=$page
    [ -z "$file" ] || path="$dir/$file"
    if ! [ -e "$path" ]; then
      echo "check-readme.sh: $page links to $target: no file $path" >&2
      broken=1
    elif [ -n "$anchor" ] && ! anchors_of "$path" | grep -qxF -- "$anchor"; then
      echo "check-readme.sh: $page links to $target: no such heading in $path" >&2
      broken=1
    fi
  done < <(awk '/^ *```/ { code = !code; next }
                !code {
                  line = $0; gsub(/`[^`]*`/, "", line)
                  while (match(line, /\]\([^) ]+\)/)) {
                    print substr(line, RSTART + 2, RLENGTH - 3)
                    line = substr(line, RSTART + RLENGTH)
                  }
                }' "$page")
done
[ "$broken" -eq 0 ] || exit 1

awk '/^ *```sh$/ { inside = 1; next }
     /^ *```/    { inside = 0 }
     inside      { sub(/^ +/, ""); print }' "$walk_through" >"$scratch/walk-through.sh"
if ! [ -s "$scratch/walk-through.sh" ]; then
  echo "check-readme.sh: $walk_through has no \`\`\`sh block" >&2
  exit 1
fi
echo "== running the walk-through's $(wc -l <"$scratch/walk-through.sh") commands in a fresh clone"
bash -euo pipefail -x "$scratch/walk-through.sh"
echo "== the walk-through's commands ran"
