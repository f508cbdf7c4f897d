#!/usr/bin/env bash
# Screenshots of the infrared status window into docs/: sending before and
# during the transfer, and receiving, as the test KIRX.dll drives it.
#   screenshot-kirx.sh [BUILD_DIR]      (a built win32 tree; default build/win32)
# Needs the targets kivconv, kirx_fixture and kirx_demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
env_sh=$root/scripts/wine-env.sh

"$env_sh" start "$build"
trap '"$env_sh" stop "$build"' EXIT
display=$(cat "$build/wine.display")

# name direction plan [locale]: the window is photographed while the plan pauses.
shot() {
    KIV_WINE_LANG=${4:-ja_JP.UTF-8} KIRX_FIXTURE_PLAN="$3" "$root/scripts/wine-run.sh" "$build/bin/kirx_demo.exe" "$2" memo.txt \
        </dev/null >/dev/null 2>&1 &
    local pid=$!
    sleep 3
    # Without a window manager only the window itself is on the black root.
    DISPLAY=$display import -window root png:- | convert png:- -trim +repage "$root/docs/$1.png"
    wait "$pid"
    echo "docs/$1.png"
}

shot kirx-send-waiting send "pause:5000"
shot kirx-send-progress send "progress:1200:3001 pause:5000"
shot kirx-receive-progress recv "progress:850:0 pause:5000"
# The texts must read the same on a Western system.
shot kirx-send-progress-western send "progress:1200:3001 pause:5000" en_US.UTF-8
