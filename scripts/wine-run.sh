#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, under a
# Japanese locale (code page 932) unless KIV_WINE_LANG names another, on the
# virtual display that wine-env.sh started. KIV_PRELOAD, when set, becomes
# LD_PRELOAD for this program only (the link tests' pseudo-terminal library);
# the wineserver is already running by then and does not load it.
set -u
build=${KIV_BUILD_DIR:-}
if [ -z "$build" ]; then
    # The program lives somewhere below the build directory that holds the prefix.
    d=$(cd "$(dirname "$1")" && pwd)
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    build=$d
fi
export WINEPREFIX="$build/wineprefix"
export WINEARCH=$(cat "$build/wine.arch" 2>/dev/null || echo win32)
export WINEDEBUG=${WINEDEBUG:--all}
lang=${KIV_WINE_LANG:-ja_JP.UTF-8}
export LANG=$lang LC_ALL=$lang
if [ -f "$build/wine.display" ]; then
    DISPLAY=$(cat "$build/wine.display")
    export DISPLAY
fi
if [ -n "${KIV_PRELOAD:-}" ]; then
    export LD_PRELOAD="$KIV_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}"
fi
# The wine command starts a 64-bit program through a 32-bit helper process;
# the 64-bit loader runs it directly.
if [ "$WINEARCH" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
    exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
