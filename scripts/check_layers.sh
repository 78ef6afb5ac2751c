#!/usr/bin/env bash
# Checks that every include between the folders of src/ points down the layers, so that no
# folder's code includes a folder above it and no include circle runs across folders:
#
#   app                                 start-up, the updater session, game launch
#   workflow                            the workflow, the main window, the progress display
#   engine                              the client archive set and its parts
#   archive  formats  net  ui           archives; server formats; HTTP client; the toolkit
#   base                                log, texts, numbers, paths, cancel and progress
#   platform                            the platform seam
#
# A folder may include itself and any folder below it; the four of one floor may not include
# each other. launcher/ stands apart: it includes only platform/. Lists every include that
# breaks the rule and fails when there is one.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

declare -A allowed=(
  [platform]="platform"
  [base]="base platform"
  [archive]="archive base platform"
  [formats]="formats base platform"
  [net]="net base platform"
  [ui]="ui base platform"
  [engine]="engine archive formats net base platform"
  [workflow]="workflow engine archive formats net ui base platform"
  [app]="app workflow engine archive formats net ui base platform"
  [launcher]="launcher platform"
)

status=0
count=0
while IFS= read -r file; do
  folder=${file#src/}
  folder=${folder%%/*}
  if [ -z "${allowed[$folder]:-}" ]; then
    echo "$file: src/$folder is no layer this script knows" >&2
    status=1
    continue
  fi
  while IFS= read -r line; do
    target=${line#*\"}
    target=${target%%/*}
    # Quoted includes without a folder are the file's own neighbours.
    [[ $line == *\"*/*\"* ]] || continue
    [ -d "src/$target" ] || continue
    count=$((count + 1))
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file: src/$folder includes src/$target, which is not below it: $line" >&2
      status=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" || true)
done < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'src/*.inc')

if [ $status -eq 0 ]; then
  echo "every include between the folders of src/ points down ($count checked)"
fi
exit $status
