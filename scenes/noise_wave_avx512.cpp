// The noise-and-wave kernel, 16 lanes at a time; built with -mavx512f.
#include "scenes/noise_wave_kernel.h"

int64_t noiseWaveSpanAvx512(const NoiseWaveSpan& span) {
    return noiseWaveSpanFor<16>(span);
}
