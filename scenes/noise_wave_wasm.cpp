// The noise-and-wave kernel, 4 lanes at a time, in WebAssembly's 128-bit
// SIMD: the browser build's fast path.
#include "scenes/noise_wave_kernel.h"

int64_t noiseWaveSpanWasm(const NoiseWaveSpan& span) {
    return noiseWaveSpanFor<4>(span);
}
