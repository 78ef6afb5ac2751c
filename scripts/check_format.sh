#!/usr/bin/env bash
# Lists every C++ file of the repository that clang-format (with the repository's .clang-format)
# would change, and fails when there is one. With --fix it reformats them instead.
#
#   bash scripts/check_format.sh          check
#   bash scripts/check_format.sh --fix    reformat in place
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fix=0
case ${1:-} in
  "") ;;
  --fix) fix=1 ;;
  -h | --help) sed -n '2,7p' "$0"; exit 0 ;;
  *) echo "check_format.sh: unknown option $1" >&2; exit 2 ;;
esac

command -v clang-format >/dev/null || { echo "check_format.sh: clang-format is not installed (scripts/setup.sh installs it)" >&2; exit 2; }

# One clang-format per 50 files, two at a time: a process per file costs half a minute.
# A file that would change is named in a "FILE:LINE:COLUMN: error:" line.
status=0
report=$(git ls-files -z -- '*.cpp' '*.h' |
  xargs -0 -n 50 -P 2 clang-format --style=file --dry-run --Werror 2>&1) || status=$?
# Only the repository's own files count: an error in .clang-format itself names that file.
mapfile -t drift < <(sed -n -E 's/^(.+):[0-9]+:[0-9]+: error: .*/\1/p' <<<"$report" | sort -u |
  grep -Fx -f <(git ls-files -- '*.cpp' '*.h'))
if [ $status -ne 0 ] && [ ${#drift[@]} -eq 0 ]; then
  # clang-format failed without naming a file to change: its own error, shown as it is.
  printf '%s\n' "$report" | tail -n 20 >&2
  echo "check_format.sh: clang-format failed (exit $status)" >&2
  exit 2
fi

if [ ${#drift[@]} -eq 0 ]; then
  echo "every C++ file is formatted ($(git ls-files -- '*.cpp' '*.h' | wc -l) files)"
  exit 0
fi
if [ $fix = 1 ]; then
  clang-format --style=file -i "${drift[@]}"
  echo "reformatted ${#drift[@]} file(s):"
  printf '  %s\n' "${drift[@]}"
  exit 0
fi
echo "not formatted as .clang-format says (bash scripts/check_format.sh --fix):"
printf '  %s\n' "${drift[@]}"
exit 1
