#!/usr/bin/env bash
# Sets up the machine, builds both DLLs and shows what was built: each DLL's
# exports and the system DLLs it imports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

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

# A sample conversion through the DLL, as the application calls it: the sample
# table (text, number, date and photo fields) to a Kcsv file and back.
work=build/win32/sample
rm -rf "$work" && mkdir -p "$work" && cp samples/* "$work"/
scripts/wine-env.sh start build/win32
trap 'scripts/wine-env.sh stop build/win32' EXIT
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
