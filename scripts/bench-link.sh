#!/usr/bin/env bash
# Cable throughput and memory of the transfer exports under Wine against
# kivsim (needs the win32 build): starts Wine and the display, runs
# kivbench_link with the pseudo-terminal preload library, stops them again.
#   scripts/bench-link.sh [SECONDS]   line time per transfer (default 8)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build/win32
scripts/wine-env.sh start "$build"
trap 'scripts/wine-env.sh stop "$build"' EXIT
KIV_PRELOAD="$build/ptyshim/\$LIB/libkivpty.so" scripts/wine-run.sh "$build/bin/kivbench_link.exe" "$@" </dev/null
