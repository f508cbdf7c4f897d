#!/usr/bin/env bash
# check-quickstart.sh ROOT: runs the README's quick start without a handheld
# against a Debian package unpacked in ROOT, so that the README cannot drift
# from the programs. Each command of its console block runs as written, in
# one shell, in an empty folder, with ROOT's programs first on PATH and ROOT's
# /usr/share in place of the system's. Each must succeed and print on stdout
# exactly what the block shows and nothing on stderr (no terminal, so no
# progress line); each kivsim started in the background must end with 0.
set -euo pipefail
root=$(realpath "$1")
readme=$(realpath "$(dirname "$0")/../README.md")
work=$(mktemp -d)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# The console block under the quick start's heading: "$ " starts a command,
# the lines after it are what it prints.
commands=()
expected=()
while IFS= read -r line; do
    if [[ $line == '$ '* ]]; then
        commands+=("${line#\$ }")
        expected+=("")
    elif [ ${#commands[@]} -gt 0 ]; then
        expected[-1]+="$line"$'\n'
    fi
done < <(awk '/^### Quick start without a handheld/ { on = 1 }
              on && /^```console$/ { block = 1; next }
              block && /^```$/ { exit }
              block' "$readme")
if [ ${#commands[@]} -ne 5 ]; then
    echo "the quick start has ${#commands[@]} commands, not five"
    exit 1
fi

# kivsim in the background is ready once its link exists.
await_link() {
    local link i
    link=$(sed -n 's/.*--link \([^ ]*\).*/\1/p' <<<"$1")
    for ((i = 0; i < 500; i++)); do
        [ -L "$link" ] && return 0
        sleep 0.01
    done
    echo "no link $link after: $1"
    return 1
}

# Every kivsim started so far must end, with 0.
finish_sims() {
    local pid status
    for pid in "${sims[@]}"; do
        status=0
        wait "$pid" || status=$?
        if [ "$status" -ne 0 ]; then
            echo "a kivsim of the quick start ended with status $status"
            cat "$work"/sim*.out
            exit 1
        fi
    done
    sims=()
}

export PATH="$root/usr/bin:$PATH"
cd "$work"
for i in "${!commands[@]}"; do
    command=${commands[i]//\/usr\/share\//$root/usr/share/}
    if [[ $command == *' &' ]]; then
        finish_sims   # as a user sees the shell's "Done" before the next
        eval "${command% &}" >"$work/sim$i.out" 2>&1 &
        sims+=($!)
        await_link "$command"
        continue
    fi
    # What the terminal shows: the output and the warnings, as they come.
    status=0
    eval "$command" >"$work/out" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "failed (status $status): ${commands[i]}"
        cat "$work/out"
        exit 1
    fi
    if ! diff <(printf '%s' "${expected[i]}") "$work/out"; then
        echo "prints other than the README shows: ${commands[i]}"
        exit 1
    fi
done
finish_sims
echo "quick start: ${#commands[@]} commands as the README shows them"
