// The noise-and-wave kernel, 4 lanes at a time; SSE2 is the x86-64 baseline.
#include "scenes/noise_wave_kernel.h"

int64_t noiseWaveSpanSse2(const NoiseWaveSpan& span) {
    return noiseWaveSpanFor<4>(span);
}
