// Shared by the benchmark files: a wall clock and a line of results.
#pragma once
#include <chrono>
#include <cstdio>

inline double BenchSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline void BenchReport(const char* what, double bytes, double seconds)
{
    printf("%-40s %10.1f MB/s\n", what, bytes / seconds / 1e6);
}

inline void BenchReportRate(const char* what, double count, double seconds)
{
    printf("%-40s %10.0f /s\n", what, count / seconds);
}

void RunCsvNumberBenchmarks();
void RunCodecBenchmarks();
