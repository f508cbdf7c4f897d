#!/usr/bin/env bash
# Renders the port setup dialog under Wine (Japanese locale) on a virtual
# display and saves a screenshot: docs/input-port-dialog.png.
# Needs the win32 build (scripts/main.sh builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win32
out=${1:-docs/input-port-dialog.png}
bin=$(pwd)/$build/bin

scripts/wine-env.sh start $build
trap 'scripts/wine-env.sh stop '"$build" EXIT
export DISPLAY=$(cat $build/wine.display)

scripts/wine-run.sh "$bin/kivhost.exe" setup-dialog </dev/null >/dev/null 2>&1 &
sleep 4
mkdir -p "$(dirname "$out")"
# The dialog is centred on the 1024x768 screen: cut out its neighbourhood.
import -window root -crop 400x340+312+214 +repage "$out"
echo "wrote $out"
