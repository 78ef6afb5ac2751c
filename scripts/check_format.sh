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

drift=()
while IFS= read -r -d '' file; do
  if ! clang-format --style=file "$file" | cmp -s - "$file"; then
    drift+=("$file")
  fi
done < <(git ls-files -z -- '*.cpp' '*.h')

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
