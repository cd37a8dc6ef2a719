// The noise-and-wave kernel, one lane at a time, for any processor.
#include "scenes/noise_wave_kernel.h"

int64_t noiseWaveSpanPortable(const NoiseWaveSpan& span) {
    return noiseWaveSpanFor<1>(span);
}
