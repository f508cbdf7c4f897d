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
