#!/usr/bin/env bash
# Checks that the project's C++ files are laid out as .clang-format says, without changing
# them: lists every place clang-format would change and exits 1 if there is one.
#   scripts/check-format.sh            every tracked C++ file
#   scripts/check-format.sh FILE...    only these
# To apply the layout to a file: clang-format -i FILE
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format > /dev/null; then
  echo "check-format: clang-format not found; install it with: sudo apt-get install clang-format" >&2
  exit 2
fi
if [ "$#" -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi
[ "${#files[@]}" -gt 0 ] || exit 0
if clang-format --style=file --dry-run --Werror "${files[@]}"; then
  echo "check-format: ${#files[@]} files follow .clang-format"
else
  echo "check-format: the files above differ from .clang-format (clang-format -i FILE lays one out)" >&2
  exit 1
fi
