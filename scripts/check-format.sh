#!/usr/bin/env bash
# Checks the sources of the tree against .clang-format: every file that
# clang-format would change is named with the change, and the check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
paths=(kivconv kivport seams tools tests bench fuzz kiv)
mapfile -t files < <(find "${paths[@]}" \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) | sort)
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"
