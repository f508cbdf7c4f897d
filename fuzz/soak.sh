#!/usr/bin/env bash
# Long runs of the fuzz targets, one after the other at the lowest priority
# (the machine is shared): each runs a given number of inputs or for a given
# time, starting from its seeds and what earlier soaks found, and a line per
# target tells the inputs run, the CPU time, the rate and the coverage.
# Anything found is left in build/fuzz/soak/findings/.
#   fuzz/soak.sh -runs N [target...]       N inputs per target
#   fuzz/soak.sh -seconds S [target...]    S seconds per target
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 -runs N | -seconds S [target...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
case "$1" in
    -runs) limit="-runs=$2" ;;
    -seconds) limit="-max_total_time=$2" ;;
    *) usage ;;
esac
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_csv_record fuzz_decimal fuzz_sjis1 fuzz_3to4 fuzz_kcsv_reader fuzz_csv_to_kcsv)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

soak=build/fuzz/soak
mkdir -p "$soak/findings"
status=0
printf '%-18s %12s %9s %10s %6s %7s  %s\n' target inputs cpu-s inputs/s cov ft result
for t in "${targets[@]}"; do
    work="$soak/corpus/$t"
    mkdir -p "$work"
    log="$soak/$t.log"
    start=$(date +%s)
    result=ok
    /usr/bin/time -f '%U %S' -o "$soak/$t.time" \
        nice -n 19 "build/fuzz/bin/$t" "$limit" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$soak/findings/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1 || result=FOUND
    read -r user sys <"$soak/$t.time"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }')
    rate=$(awk -v n="${runs:-0}" -v c="$cpu" 'BEGIN { printf "%.0f", (c > 0) ? n / c : 0 }')
    printf '%-18s %12s %9s %10s %6s %7s  %s (%ds wall)\n' "$t" "${runs:-?}" "$cpu" "$rate" "${cov:-?}" \
        "${ft:-?}" "$result" $(( $(date +%s) - start ))
    [ "$result" = ok ] || status=1
done
exit $status
