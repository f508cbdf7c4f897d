#!/usr/bin/env bash
# Builds the releases into dist/ and shows what it holds: the Windows zip from
# the win32 and win64 build trees, and the Debian package of kiv from the
# release build. Only what the releases hold is built; built trees are reused.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
rm -rf dist
mkdir dist

for preset in win32 win64; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset -j"$jobs" --target kivconv kivport kivhost
done
rm -f build/win32/kiv-desktop-link-*.zip
(cd build/win32 && cpack >/dev/null)
cp build/win32/kiv-desktop-link-*-windows.zip dist/

cmake --preset release >/dev/null
if [ -f build/release/CPackConfig.cmake ]; then
    cmake --build --preset release -j"$jobs"
    rm -f build/release/kiv_*.deb
    (cd build/release && cpack >/dev/null)
    cp build/release/kiv_*.deb dist/
else
    echo "dist: this tree has no kiv program, so no Debian package" >&2
fi

echo "== dist/"
for f in dist/*; do
    printf '%s  %s bytes\n  sha256 %s\n' "$(basename "$f")" "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)"
    case $f in
    *.zip) unzip -Z1 "$f" | grep -v '/$' | sed 's/^/    /' ;;
    *.deb) dpkg-deb -c "$f" | awk '$NF !~ /\/$/ { print "    " $NF " (" $3 " bytes)" }' ;;
    esac
done
