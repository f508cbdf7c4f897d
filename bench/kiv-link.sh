#!/usr/bin/env bash
# Throughput and CPU time of the native kiv program against kivsim on a
# pseudo-terminal (needs the host build of kiv, kivsim and kivpty). Raw
# cable blocks both ways at three speeds against the line rate, and IR
# blocks at 9600 8O1 against the framed protocol's own bound. Times come
# from the preload library's log (the monotonic clock kivsim stamps with
# too): a send from kiv's port opening to its close, a receive from the
# first byte kivsim put on the line to kiv's close, an IR send from the end
# of the line device's set-up to the close (the bound counts the second
# before the first ENQ), an IR receive from the handheld's first ENQ.
#   bench/kiv-link.sh [RAW_BYTES [IR_BYTES]]   (default 262144 and 50000)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build/host/bin
shim=$PWD/build/host/ptyshim/libkivpty.so
raw=${1:-262144}
irBytes=${2:-50000}
work=$(mktemp -d /tmp/kiv-bench-XXXXXX)
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; [ -n "${KIV_BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT

# Bytes without NUL (the end of a block to send) and 0x1A (the end mark).
head -c $(((raw + irBytes) * 2)) /dev/urandom | tr -d '\000\032' >"$work/random.bin"
head -c "$raw" "$work/random.bin" >"$work/raw.bin"
head -c "$irBytes" "$work/random.bin" >"$work/ir.bin"
printf '\032' | cat "$work/raw.bin" - >"$work/raw-eof.bin"
printf '\032' | cat "$work/ir.bin" - >"$work/ir-eof.bin"

sim() {
    rm -f "$work/ready" "$work"/rec.*
    "$bin/kivsim" --link "$work/line" --ready "$work/ready" --record "$work/rec" --timeout 900000 "$@" \
        </dev/null >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 200); do [ -f "$work/ready" ] && return 0; sleep 0.05; done
    echo "kivsim did not start" >&2
    exit 1
}
# Runs kiv and waits for kivsim; cpu is kiv's CPU seconds (user + system)
# from the shell's times.
run_kiv() {
    rm -f "$work/pty.log" "$work/out.bin"
    local t
    t=$( (LD_PRELOAD=$shim KIV_PTY_LOG=$work/pty.log "$bin/kiv" "$@" --port "$work/line" -q >/dev/null; times) |
        tail -1)
    wait "$sim_pid"
    sim_pid=
    cpu=$(echo "$t" | awk '{ split($1, u, "m"); split($2, s, "m"); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
}
first_log() { awk -v k="$1" '$0 ~ k { print $1; exit }' "$work/pty.log"; }
last_log() { awk '{ t = $1 } END { print t }' "$work/pty.log"; }
first_tx() { awk '$2 == "tx" { printf "%d", $1; exit }' "$work/rec.log"; }
# The end of the IR line device's set-up: the odd-parity setting after the set-up bytes.
setup_end() { awk '/write bytes=13/ { s = 1 } s && /parity=o/ { print $1; exit }' "$work/pty.log"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# The framed protocol's bound in ms for n bytes: per block the wire time
# of ENQ, SYN, the data frame and ACK at 11 bits a byte, 100 ms before
# each next ENQ and 1000 ms before the first.
ir_bound() {
    awk -v n="$1" 'BEGIN {
        blocks = n > 512 ? int((n - 1) / 512) + 1 : 1; t = 1000 + (blocks - 1) * 100
        for (i = 0; i < blocks; i++) { len = (i < blocks - 1) ? 512 : n - 512 * (blocks - 1); t += (8 * 3 + len + 17) * 11 * 1000 / 9600 }
        printf "%.1f", t }'
}

echo "| link | bytes | send | receive | kiv CPU (send / receive) |"
echo "|---|---|---|---|---|"
for baud in 9600 38400 115200; do
    line=$(awk -v n="$raw" -v b="$baud" 'BEGIN { printf "%.1f", n * 10 * 1000 / b }')
    sim --baud "$baud" --format 8N1 --role receive --no-eof-stop --silence 1500
    run_kiv send "$work/raw.bin" --link cable --speed "$baud" --no-xonxoff
    cpuSend=$cpu
    cmp -s "$work/raw.bin" "$work/rec.bin" || { echo "send at $baud: the bytes differ" >&2; exit 1; }
    send=$(ratio "$line" $(($(last_log) - $(first_log "modem op=bis"))))
    sim --baud "$baud" --format 8N1 --role send --data "$work/raw-eof.bin" --delay 300
    run_kiv receive -o "$work/out.bin" --link cable --speed "$baud" --no-xonxoff
    cpuRecv=$cpu
    cmp -s "$work/raw-eof.bin" "$work/out.bin" || { echo "receive at $baud: the bytes differ" >&2; exit 1; }
    recv=$(ratio "$(awk -v n=$((raw + 1)) -v b="$baud" 'BEGIN { print n * 10 * 1000 / b }')" \
        $(($(last_log) - $(first_tx))))
    echo "| cable $baud 8N1 | $raw | $send | $recv | ${cpuSend} s / ${cpuRecv} s in $(awk -v l="$line" 'BEGIN { printf "%.0f", l / 1000 }') s |"
done
bound=$(ir_bound "$irBytes")
sim --baud 9600 --format 8O1 --role ir-receive --probe-answer f4
run_kiv send "$work/ir.bin" --link ir
cpuSend=$cpu
cmp -s "$work/ir.bin" "$work/rec.bin" || { echo "IR send: the bytes differ" >&2; exit 1; }
send=$(ratio "$bound" $(($(last_log) - $(setup_end))))
sim --baud 9600 --format 8O1 --role ir-send --data "$work/ir-eof.bin" --probe-answer f4
run_kiv receive -o "$work/out.bin" --link ir
cpuRecv=$cpu
cmp -s "$work/ir-eof.bin" "$work/out.bin" || { echo "IR receive: the bytes differ" >&2; exit 1; }
# The handheld's first ENQ starts a receive: the second before it is the sender's.
boundRecv=$(awk -v b="$(ir_bound $((irBytes + 1)))" 'BEGIN { print b - 1000 }')
recv=$(ratio "$boundRecv" $(($(last_log) - $(first_tx))))
echo "| IR 9600 8O1 (of the protocol bound) | $irBytes | $send | $recv | ${cpuSend} s / ${cpuRecv} s |"
