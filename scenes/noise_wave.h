// The noise-and-wave scene's fast path: the frame cut into spans, each span
// composed by the widest kernel the processor runs, spans spread over the
// frame workers. Every pixel is what the straightforward loop gives.
#pragma once

#include <cstdint>

#include "core/demo_types.h"

// One stretch of pixels [begin, end) and the generator's state before the
// first draw of pixel `begin`.
struct NoiseWaveSpan {
    Pixel* back;
    const Pixel* picture;
    int begin;
    int end;
    double accumulator;
    uint32_t state;
    bool fastSine;  // false: every lane's wave from sin
};

// The wave is truncToInt(sin(x) x -1000). A lane whose fast height lies
// closer than this to an integer is recomputed with sin: the margin (1e-7 on
// the sine) is far wider than the fast sine's error (under 1e-13) and the
// show's sin, which is within an ulp.
inline constexpr double kWaveGuardMargin = 1e-4;

// The fast sine's argument reduction is exact below 2^25 (k x each part of pi
// is exact for |k| < 2^26). Frames with larger arguments, infinities or NaN
// take the wave from sin for every pixel.
inline constexpr double kFastSineLimit = 33554432.0;  // 2^25

// The kernels by lane width, widest last: one lane (the portable source),
// four (SSE2, or WebAssembly SIMD in a browser), eight (AVX2), sixteen
// (AVX-512).
enum class KernelWidth : uint8_t { oneLane, fourLanes, eightLanes, sixteenLanes };
// The name QUELTRAVINE_ISA takes for it: portable, sse2 (also in a browser),
// avx2 or avx512.
const char* kernelWidthName(KernelWidth width);

// What the processor runs, capped by QUELTRAVINE_ISA (portable, sse2, avx2
// or avx512) when that is set; decided once, at the first call.
KernelWidth widestKernelWidth();
// Test and benchmark hook: use at most `cap` (never more than detected).
void capKernelWidth(KernelWidth cap);
KernelWidth activeKernelWidth();

// Composes one span with the kernel of `width`; returns the guard's fallbacks.
int64_t composeNoiseWaveSpan(const NoiseWaveSpan& span, KernelWidth width);

// The whole frame on the frame workers; the generator is left in the state
// the straightforward loop leaves (614,400 draws on).
void composeNoiseAndWaveFast(Pixel* back, const Pixel* picture, double accumulator,
                             RandomGenerator* random);

// Lanes sent back to sin since the process started, for tests.
int64_t noiseWaveGuardFallbacks();

// The wave of one pixel from the show's sin, as the straightforward
// loop takes it; for the lanes the kernels send back.
int32_t waveFromSin(double x);

// Per instruction set: the span kernels, each in a file of its own flags.
// Each composes the whole chunks of its lane count from span.begin.
int64_t noiseWaveSpanPortable(const NoiseWaveSpan& span);
int64_t noiseWaveSpanSse2(const NoiseWaveSpan& span);
int64_t noiseWaveSpanWasm(const NoiseWaveSpan& span);
int64_t noiseWaveSpanAvx2(const NoiseWaveSpan& span);
int64_t noiseWaveSpanAvx512(const NoiseWaveSpan& span);
