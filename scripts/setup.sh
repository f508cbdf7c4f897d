#!/usr/bin/env bash
# Installs, idempotently, everything the build and the tests need on Debian 12.
# --main is taken for what only the main job uses (nothing beyond the tests'
# needs at present).
set -euo pipefail

need=()
want() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || need+=("$1"); }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_updated=0
fi

for p in cmake g++ googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
         wine wine32:i386 wine64 \
         xvfb xauth locales fonts-ipafont-gothic imagemagick gcc-multilib clang \
         libclang-rt-14-dev llvm clang-format libcli11-dev libxml2-dev pkg-config libsqlite3-dev sqlite3; do
    want "$p"
done
# The releases: the Debian package's tools, its manual page and the checks of both artefacts.
for p in dpkg-dev help2man lintian unzip man-db; do
    want "$p"
done
# The spreadsheet that reads and saves the table CSV in its round-trip test.
want libreoffice-calc-nogui
# The browser that lays out kiv's web page in its test, and takes the main
# job's screenshot of it.
want chromium

if [ ${#need[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # A mirror in the middle of a sync serves an index that does not match
    # its release file; a later try, or the lists already here, will do.
    for try in 1 2 3; do
        apt-get update -qq && break
        echo "setup: apt-get update failed (try $try of 3)" >&2
        [ "$try" = 3 ] || sleep 30
    done
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Wine picks code page 932 only when a Japanese locale exists on the machine.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
# The Western locale used to prove the texts stay legible elsewhere.
if ! locale -a 2>/dev/null | grep -qi '^en_US.utf8$'; then
    localedef -i en_US -f UTF-8 en_US.UTF-8
fi
