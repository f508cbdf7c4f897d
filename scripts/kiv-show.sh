#!/usr/bin/env bash
# A table as kiv show presents it: printed as aligned columns, then written as
# a web page with its pictures, of which headless Chromium takes the
# screenshots docs/kiv.md shows: on a desktop's width, and on a phone's, where
# the page gives each record a box of its own. Chromium runs as root without
# its sandbox, and with everything that would reach for the network switched
# off (it waits on a closed network otherwise).
#   scripts/kiv-show.sh TABLE [WORKDIR] [SHOT]
# (default build/host/show, the screenshots beside the page: SHOT, and SHOT
# with -phone before .png; docs/kiv.md's docs/kiv-show.png and
# docs/kiv-show-phone.png are such screenshots, taken again by naming the
# first as SHOT)
set -euo pipefail
cd "$(dirname "$0")/.."
kiv=$PWD/build/host/bin/kiv
table=$(realpath "$1")
work=$(realpath -m "${2:-build/host/show}")
page=$work/$(basename "${table%.*}").html
shot=$(realpath -m "${3:-$work/kiv-show.png}")
phone=${shot%.png}-phone.png
rm -rf "$work" && mkdir -p "$work"

"$kiv" show "$table" | sed 's/^/  /'
"$kiv" show --html "$table" -o "$page" >/dev/null

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# screenshot FILE WIDTH,HEIGHT
screenshot() {
    if ! timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
            --disable-background-networking --disable-component-update --disable-sync \
            --user-data-dir="$profile" --screenshot="$1" --window-size="$2" \
            "file://$page" >"$work/chromium.log" 2>&1; then
        cat "$work/chromium.log" >&2
        exit 1
    fi
}
screenshot "$shot" 800,420
screenshot "$phone" 380,880
echo "  the page: $page, its pictures in ${page%.html}-pictures/"
echo "  its screenshots by headless Chromium: $shot (800 px wide), $phone (380 px)"
