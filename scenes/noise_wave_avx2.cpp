// The noise-and-wave kernel, 8 lanes at a time; built with -mavx2 (no FMA).
#include "scenes/noise_wave_kernel.h"

int64_t noiseWaveSpanAvx2(const NoiseWaveSpan& span) {
    return noiseWaveSpanFor<8>(span);
}
