#!/usr/bin/env bash
# The link driver over many transfers: KIV_TRANSFERS (default 1000) of every
# kind through the exports under Wine against kivsim, with handles, threads,
# windows and the heaps counted, and as many rounds of the engine's kinds on
# the virtual clock natively. Needs the host and win64 builds (win32 too
# where this kernel starts 32-bit programs). Takes about 20 minutes.
#   scripts/bench-endurance.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export KIV_TRANSFERS=${KIV_TRANSFERS:-1000}
status=0
build/host/bin/kivport_engine_tests --gtest_filter='LinkEndurance.*' || status=1
presets=(win64)
if scripts/wine32-works.sh; then presets=(win32 win64); fi
for preset in "${presets[@]}"; do
    GTEST_FILTER='TransferResources.Many*' ctest --preset "$preset" -R '^kivport_transfer_resources_tests$' \
        --output-on-failure --timeout 7200 || status=1
done
exit $status
