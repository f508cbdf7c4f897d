#!/usr/bin/env bash
# The sample table to a simulated handheld and back with the native kiv
# program, no Wine: kivsim plays the handheld on a pseudo-terminal (the
# preload library gives it modem lines and an output queue), kiv pushes the
# table, kivsim sends what it received back, kiv pulls it. The table that
# comes back must be the one that went, and pull must write the files that
# to-csv writes for it.
#   scripts/kiv-roundtrip.sh [WORKDIR]   (default build/host/roundtrip)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build/host/bin
shim=$PWD/build/host/ptyshim/libkivpty.so
work=$(realpath -m "${1:-build/host/roundtrip}")
rm -rf "$work" && mkdir -p "$work/out" "$work/back" "$work/ref" && cp samples/* "$work/out/"

sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; true' EXIT
handheld() {   # kivsim in the background, once its line is up
    local dir=$work/$1; shift
    mkdir -p "$dir"
    "$bin/kivsim" --link "$work/line" --ready "$dir/ready" --record "$dir/rec" --timeout 60000 \
        --baud 115200 --format 8N1 "$@" </dev/null >"$dir/kivsim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 200); do [ -f "$dir/ready" ] && return 0; sleep 0.05; done
    echo "kivsim did not start" >&2
    return 1
}
handheld_done() { wait "$sim_pid"; sim_pid=; }
kiv() { LD_PRELOAD=$shim "$bin/kiv" "$@" --port "$work/line" --link cable --speed 115200 --no-xonxoff -q; }

handheld to-handheld --role receive --silence 1000
(cd "$work/out" && kiv push --classic addr.table addr.txt)
handheld_done
echo "  kiv push: the handheld received $(stat -c %s "$work/to-handheld/rec.bin") bytes"
handheld from-handheld --role send --data "$work/to-handheld/rec.bin"
(cd "$work/back" && kiv pull --classic --name addr | sed 's/^/  kiv pull wrote /')
handheld_done
cmp "$work/to-handheld/rec.bin" "$work/back/addr.kcsv"
echo "  back/addr.kcsv is identical to the table pushed"
cp "$work/back/addr.kcsv" "$work/ref/"
(cd "$work/ref" && "$bin/kiv" to-csv --classic addr.kcsv)
for f in "$work"/ref/addr.kcsv.*; do
    cmp "$f" "$work/back/$(basename "$f")"
done
echo "  pull's files are those to-csv writes for it, file for file"
