// Throughput of the record conversion core. Run it natively and under Wine.
#include "bench.h"

int main()
{
    RunCsvNumberBenchmarks();
    RunCodecBenchmarks();
    return 0;
}
