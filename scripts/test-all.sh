#!/usr/bin/env bash
# Sets up the machine and runs every test: the portable core natively (plain
# and sanitized), the DLLs and their tests under Wine, and a short run of every
# fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
status=0

# What failed, in the run's last lines too: a long run is often read from its end.
failures=()
failed_in() {   # a ctest run's build folder [its log]: the failures it logged
    local log=${2:-build/$1/Testing/Temporary/LastTest.log}
    [ -f "$log" ] || return 0
    failures+=("-- failed in build/$1:")
    [ -s "build/$1/wineserver.log" ] && mapfile -t -O "${#failures[@]}" failures < <(tail -5 "build/$1/wineserver.log")
    mapfile -t -O "${#failures[@]}" failures < <(grep -E -A6 ': Failure$|^\[  FAILED  \] [A-Za-z]|wine client error|terminate called|ERROR: AddressSanitizer|runtime error:' "$log" | head -80)
}
preset_of() { while [ $# -gt 1 ]; do [ "$1" = --preset ] && { echo "$2"; return; }; shift; done; }
run() {
    echo "== $*"
    "$@" && return
    status=1
    [ "$1" = ctest ] && failed_in "$(preset_of "$@")"
    return 0
}
# The Wine runs: every test once, and a failure fails the run. Only a test
# program whose source says "wine-rerun: REASON" (a fault of Wine's, not
# ours) is run a second time when it fails; its pass is then reported as
# flaky, here and again in the run's last lines.
flaky=()
run_wine() {
    echo "== $*"
    "$@" --output-on-failure && return
    local build failed marked name
    build=build/${*: -1}   # the preset named last is its build folder
    failed=$build/Testing/Temporary/LastTestsFailed.log
    [ -f "$failed" ] || { status=1; return; }
    cp "$build/Testing/Temporary/LastTest.log" "$build/Testing/Temporary/FirstRun.log"   # a rerun writes its own
    marked=$("$@" -N -L wine_rerun -FA ".*" | sed -n 's/^ *Test *#[0-9]*: *//p')
    local bad=0
    while IFS=: read -r _ name; do
        if grep -qx "$name" <<<"$marked"; then
            echo "== again, marked wine-rerun: $name"
            if "$@" -R "^$name\$" --output-on-failure; then
                flaky+=("flaky: $name passed on its second run")
                echo "${flaky[-1]}"
                continue
            fi
        fi
        status=1
        bad=1
    done <"$failed"
    [ "$bad" = 0 ] || failed_in "${*: -1}" "$build/Testing/Temporary/FirstRun.log"
}

run bash scripts/check-format.sh

cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
run ctest --preset host -j"$jobs"

# The same tests under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer.
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan -j"$jobs"
run ctest --preset host-asan -j"$jobs"

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
if scripts/wine32-works.sh; then
    run_wine ctest --preset win32
else
    echo "== SKIPPED: ctest --preset win32: this kernel cannot start 32-bit programs, so 32-bit Wine"
    echo "   cannot run; the 32-bit DLLs are built and the same tests run on the 64-bit build below"
fi

# The same DLLs and tests built for x64, under 64-bit Wine in a prefix of their own.
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
run_wine ctest --preset win64

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
run ctest --preset fuzz

# The releases, made from the trees built above, then unpacked and checked as a user gets them.
run bash scripts/build-dist.sh
run bash scripts/check-dist.sh

for line in "${flaky[@]}" "${failures[@]}"; do echo "$line"; done
# Nothing may stay behind: the Wine test fixture stops its server and display.
exit $status
