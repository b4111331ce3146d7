#!/usr/bin/env bash
# Checks that every C++ source file is laid out as .clang-format says. Other
# major versions of clang-format lay out the same code differently, so the
# check runs only with the one the tree was formatted with (Debian 12's).
#   scripts/check-format.sh        report files that differ, exit 1 if any
#   scripts/check-format.sh --fix  rewrite them in place
set -euo pipefail
cd "$(dirname "$0")/.."
want=14
if ! command -v clang-format >/dev/null 2>&1; then
  echo "check-format: clang-format not installed, layout not checked"
  exit 0
fi
have=$(clang-format --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
if [ "$have" != "$want" ]; then
  echo "check-format: clang-format $have is not $want, layout not checked"
  exit 0
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'check-format: not laid out as .clang-format says (fix: scripts/check-format.sh --fix):\n' >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files laid out as .clang-format says"
