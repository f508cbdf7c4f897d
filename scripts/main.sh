#!/usr/bin/env bash
# Sets up the machine, builds both DLLs and shows what was built: each DLL's
# exports and the system DLLs it imports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --main

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$(nproc)"

for dll in kivport kivconv; do
    f=build/win32/bin/$dll.dll
    echo "== $dll.dll ($(stat -c %s "$f") bytes)"
    echo "exports:"
    i686-w64-mingw32-objdump -p "$f" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] /  /p'
    echo "imports:"
    i686-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: /  /p'
done

# The same DLLs for 64-bit applications: the same export names, and again
# only system DLLs among the imports.
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$(nproc)" --target kivport kivconv kivhost kivsim kivpty
names() { "$1"-w64-mingw32-objdump -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] /  /p'; }
for dll in kivport kivconv; do
    f=build/win64/bin/$dll.dll
    echo "== 64-bit $dll.dll ($(stat -c %s "$f") bytes)"
    if [ "$(names i686 build/win32/bin/$dll.dll)" != "$(names x86_64 "$f")" ]; then
        echo "exports differ from the 32-bit DLL's:" >&2
        names x86_64 "$f" >&2
        exit 1
    fi
    echo "exports: the same names as the 32-bit DLL's"
    echo "imports:"
    x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: /  /p'
done

# The releases: the Windows zip of both DLL builds and the Debian package of
# kiv, in dist/, listed with their sizes and checksums. They need no Wine,
# so they are made before the runs under Wine below.
bash scripts/build-dist.sh

# A sample conversion through the DLL, as the application calls it: the sample
# table (text, number, date and photo fields) to a Kcsv file and back. It runs
# the 32-bit build, or the 64-bit one where this kernel cannot start 32-bit
# programs.
wb=build/win32
if ! scripts/wine32-works.sh; then
    wb=build/win64
    echo "== this kernel cannot start 32-bit programs: the sample runs through the 64-bit DLLs"
fi
work=$wb/sample
rm -rf "$work" && mkdir -p "$work" && cp samples/* "$work"/
scripts/wine-env.sh start $wb
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; scripts/wine-env.sh stop $wb' EXIT
host() { (cd "$work" && ../../../scripts/wine-run.sh ../bin/kivhost.exe "$@" </dev/null); }
show() {   # a text file of the sample, in UTF-8 for the terminal, long lines cut
    echo "-- $1"
    iconv -f CP932 -t UTF-8 "$work/$1" | tr -d '\r\032' | cut -c1-150
}
echo "== sample conversion"
host csv2kcsv addr.txt
show addr.csv
host kcsv2csv addr.csv
for f in "$work"/addr.csv.*; do
    case "$f" in *.jpg|*.gif|*.png|*.tab|*.bin) ;; *) show "$(basename "$f")" ;; esac
done

# The Kcsv file to a handheld and back over a serial cable: kivsim plays the
# handheld on a pseudo-terminal mapped to COM5 (the preload library makes it
# behave as a serial port for Wine), takes the file, then sends it back.
echo "== the Kcsv file to the handheld and back over a simulated cable"
setup=5,0,38400,0,8,1,0,0   # COM5, cable, 38400 baud, no parity, 8 data bits, 1 stop bit
com5=$wb/wineprefix/dosdevices/com5
handheld() {   # kivsim in the background, once its line is up
    local dir=$work/$1; shift
    mkdir -p "$dir"
    $wb/bin/kivsim --link "$com5" --ready "$dir/ready" --record "$dir/rec" \
        --timeout 60000 --baud 38400 --format 8N1 "$@" </dev/null >"$dir/kivsim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 200); do [ -f "$dir/ready" ] && return 0; sleep 0.05; done
    echo "kivsim did not start" >&2
    return 1
}
handheld_done() { wait "$sim_pid"; sim_pid=; }
transfer() { (export KIV_PRELOAD="$PWD/$wb/ptyshim/\$LIB/libkivpty.so"; host "$@"); }

handheld to-handheld --role receive --silence 3000
transfer send addr.csv --setup $setup
handheld_done
echo "  the handheld received $(stat -c %s "$work/to-handheld/rec.bin") bytes"
handheld from-handheld --role send --data "$work/to-handheld/rec.bin"
mkdir -p "$work/back"
transfer receive back/addr.csv --setup $setup
handheld_done
cmp "$work/addr.csv" "$work/back/addr.csv"
echo "  back/addr.csv is identical to addr.csv ($(stat -c %s "$work/back/addr.csv") bytes)"
# Converted where it lies, so that the image names it writes match the original's.
(cd "$work/back" && ../../../../scripts/wine-run.sh ../../bin/kivhost.exe kcsv2csv addr.csv </dev/null)
for f in "$work"/addr.csv.*; do
    cmp "$f" "$work/back/$(basename "$f")"
done
echo "  its conversion matches the original's file for file"

# The same round trip natively with the kiv program, no Wine: kiv pushes the
# sample table to kivsim over a pseudo-terminal and pulls it back. What pull
# writes must be what the DLL writes for the same table.
echo "== the sample table to the handheld and back with kiv, natively"
cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)" --target kiv kivsim kivpty >/dev/null
bash scripts/kiv-roundtrip.sh "$PWD/build/host/roundtrip"
native=build/host/roundtrip
mkdir -p "$work/native" && cp "$native/back/addr.kcsv" "$work/native/"
(cd "$work/native" && ../../../../scripts/wine-run.sh ../../bin/kivhost.exe kcsv2csv addr.kcsv </dev/null)
for f in "$work"/native/addr.kcsv.*; do
    cmp "$f" "$native/back/$(basename "$f")"
done
echo "  kiv pull's files are those the DLL writes for the same table, file for file"

# The table that came back, as kiv show prints it and as its web page looks.
echo "== the sample table with kiv show"
bash scripts/kiv-show.sh "$native/back/addr.kcsv" build/host/show
