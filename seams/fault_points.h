// The failure-injection loops of the tests: a step is run once per possible
// failure point, first with the Nth allocation failing (N = 1, 2, ...), then
// with the Nth write failing, until N passes the number of allocations or
// writes the step makes.
#pragma once
#include "bytefile.h"
#include "memblock.h"

enum FaultKind { FAULT_ALLOCATION, FAULT_WRITE };

struct FaultPoint {
    FaultKind kind;
    long n;   // the Nth allocation or write fails
};

// True when the run's fault has fired; a run whose fault never came made
// fewer calls of that kind and was just a clean run.
inline bool FaultReached(const FaultPoint& point)
{
    return (point.kind == FAULT_ALLOCATION ? blockFaultCountdown : fileWriteFaultCountdown) == 0;
}

struct FaultCounts {
    long allocations;   // failure points run of each kind
    long writes;
};

// Calls run(point) for every failure point and answers how many there were.
// The step must not depend on anything but the fault: a run whose fault was
// never reached made fewer than N calls of that kind and ends that kind's loop.
template <class Run>
FaultCounts ForEachFaultPoint(Run run)
{
    FaultCounts counts = {0, 0};
    for (FaultKind kind : {FAULT_ALLOCATION, FAULT_WRITE}) {
        long* countdown = kind == FAULT_ALLOCATION ? &blockFaultCountdown : &fileWriteFaultCountdown;
        for (long n = 1;; n++) {
            *countdown = n;
            FaultPoint point = {kind, n};
            run(point);
            bool reached = FaultReached(point);
            *countdown = 0;
            if (!reached)
                break;
            (kind == FAULT_ALLOCATION ? counts.allocations : counts.writes)++;
        }
    }
    return counts;
}
