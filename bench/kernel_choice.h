// What a kernel benchmark runs with: the instruction set and the parts a
// frame is cut into, as a range of the benchmark asks, and back to all of
// both afterwards.
#pragma once

#include <benchmark/benchmark.h>

#include "scenes/frame_workers.h"
#include "scenes/noise_wave.h"

// Caps both for the benchmark; false, with the benchmark skipped, when this
// machine has fewer.
inline bool chooseKernels(benchmark::State& bench, KernelWidth set, int parts) {
    startFrameWorkers();
    if (set > widestKernelWidth() || parts > frameParts()) {
        bench.SkipWithError("not on this machine");
        return false;
    }
    capKernelWidth(set);
    limitFrameParts(parts);
    bench.SetLabel(kernelWidthName(set));
    return true;
}

// The widest set and every part again.
inline void restoreKernels() {
    limitFrameParts(kMaxFrameParts);
    capKernelWidth(KernelWidth::sixteenLanes);
}
