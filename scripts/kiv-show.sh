#!/usr/bin/env bash
# A table as kiv show presents it: printed as aligned columns, then written as
# a web page with its pictures, of which headless Chromium takes the
# screenshot docs/kiv.md shows. Chromium runs as root without its sandbox, and
# with everything that would reach for the network switched off (it waits on
# a closed network otherwise).
#   scripts/kiv-show.sh TABLE [WORKDIR] [SHOT]
# (default build/host/show, the screenshot beside the page; docs/kiv.md's
# docs/kiv-show.png is one such screenshot, taken again by naming it as SHOT)
set -euo pipefail
cd "$(dirname "$0")/.."
kiv=$PWD/build/host/bin/kiv
table=$(realpath "$1")
work=$(realpath -m "${2:-build/host/show}")
page=$work/$(basename "${table%.*}").html
shot=$(realpath -m "${3:-$work/kiv-show.png}")
rm -rf "$work" && mkdir -p "$work"

"$kiv" show "$table" | sed 's/^/  /'
"$kiv" show --html "$table" -o "$page" >/dev/null

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
if ! timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --screenshot="$shot" --window-size=800,420 \
        "file://$page" >"$work/chromium.log" 2>&1; then
    cat "$work/chromium.log" >&2
    exit 1
fi
echo "  the page: $page, its pictures in ${page%.html}-pictures/"
echo "  its screenshot by headless Chromium: $shot"
