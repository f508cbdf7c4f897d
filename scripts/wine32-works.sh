#!/usr/bin/env bash
# Exits 0 when this machine can start 32-bit Windows programs. Some kernels
# are built without support for 32-bit programs; 32-bit Wine's loader then
# fails with "Exec format error" and only the 64-bit builds can run.
/usr/lib/wine/wine --version >/dev/null 2>&1
