#!/usr/bin/env bash
# Starts and stops what the Windows tests need: the project's Wine prefix, a
# persistent wineserver and a virtual X display. Every background process is
# detached from the caller's output, or ctest would wait on it forever.
#   wine-env.sh start BUILD_DIR    wine-env.sh stop BUILD_DIR
set -u
cmd=$1
build=$(cd "$2" && pwd)
# A 32-bit build keeps a 32-bit-only prefix; a 64-bit build (wine.arch) its own.
arch=$(cat "$build/wine.arch" 2>/dev/null || echo win32)
export WINEPREFIX="$build/wineprefix" WINEARCH=$arch WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

stop_display() {
    if [ -f "$build/wine.xvfb.pid" ]; then
        kill "$(cat "$build/wine.xvfb.pid")" 2>/dev/null
        rm -f "$build/wine.xvfb.pid" "$build/wine.display"
    fi
}

case "$cmd" in
start)
    stop_display
    # A free display number: the first with neither a lock file nor a socket.
    n=90
    while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! > "$build/wine.xvfb.pid"
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    echo ":$n" > "$build/wine.display"
    export DISPLAY=":$n"

    # A 64-bit prefix is set up through the 64-bit loader: the wine command
    # would go through the 32-bit one, which some kernels cannot start.
    wine=wine
    if [ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
        wine=/usr/lib/wine/wine64
    fi
    # What the server says, should it end under a test ("wine client error"),
    # is kept for the run to show.
    echo "== wineserver started $(date -u +%FT%TZ)" >>"$build/wineserver.log"
    wineserver -p </dev/null >>"$build/wineserver.log" 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot.exe -i </dev/null >/dev/null 2>&1
    fi
    # Without a window manager Wine waits ~2 s whenever a managed window goes
    # away; unmanaged windows keep dialog tests quick.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    exit 0
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    stop_display
    exit 0
    ;;
esac
echo "usage: $0 start|stop BUILD_DIR" >&2
exit 2
