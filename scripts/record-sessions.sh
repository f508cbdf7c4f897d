#!/usr/bin/env bash
# Records again the link sessions that kiv's replay test plays back
# (kiv/link/testdata/sessions/*.jsonl): kiv with --trace against kivsim, one
# session of each link kind and a refused one, moving block.txt from that
# folder. Run it from a host build after a change to the protocol or to the
# trace's format, and keep the commands here and the test's rows the same.
#   scripts/record-sessions.sh [BUILD_DIR]   (default build/host)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/host}" && pwd)
sessions=$PWD/kiv/link/testdata/sessions
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$sessions/block.txt" "$work/block"

# NAME, kivsim's flags, kiv's command: kiv runs in the work folder, its port
# is "line" there.
record() {
    local name=$1 sim=$2 cmd=$3 status=0
    rm -f "$work/ready" "$work/out" "$work/stop"
    # shellcheck disable=SC2086
    "$build/bin/kivsim" --link "$work/line" --ready "$work/ready" --stop "$work/stop" --timeout 30000 $sim &
    local pid=$!
    while [ ! -e "$work/ready" ]; do sleep 0.01; done
    # shellcheck disable=SC2086
    (cd "$work" && LD_PRELOAD="$build/ptyshim/libkivpty.so" "$build/bin/kiv" $cmd --port line -q --trace "$sessions/$name.jsonl") || status=$?
    touch "$work/stop"   # an IrDA adapter stays on the line until stopped
    wait "$pid"
    echo "$name: kiv exited with $status, $(wc -l <"$sessions/$name.jsonl") lines"
}

record cable-send "--baud 115200 --format 8N1 --role receive --no-eof-stop --silence 500" \
    "send block --link cable --speed 115200 --no-xonxoff"
record ir-receive-nak "--baud 9600 --format 8O1 --role ir-send --probe-answer f4 --data $work/block --eof \
    --plan none,none,corrupt-data" "receive -o out --link ir"
record irda-receive "--baud 38400 --format 8N1 --role send --data $work/block --eof --piece 200 --gap 150" \
    "receive -o out --link irda --speed 38400"
record irda-send "--baud 38400 --format 8N1 --role receive --no-eof-stop --silence 300 --irda-adapter" \
    "send block --link irda --speed 38400"
record ir-send-refused "--baud 9600 --format 8O1 --role ir-receive --probe-answer f4 --plan none,can" \
    "send block --link ir"
