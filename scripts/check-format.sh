#!/usr/bin/env bash
# Checks the formatted parts of the tree against .clang-format: every file that
# clang-format would change is named with the change, and the check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
paths=(kivconv seams fuzz bench/bench_codecs.cpp)
mapfile -t files < <(find "${paths[@]}" \( -name '*.cpp' -o -name '*.h' \) | sort)
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"
