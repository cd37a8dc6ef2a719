#include "scenes/noise_wave.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/show_maths.h"
#include "scenes/frame_workers.h"
#include "scenes/noise_wave_kernel.h"
#include "scenes/scene_timeline.h"

namespace {

bool decided = false;
KernelWidth detected = KernelWidth::oneLane;
KernelWidth active = KernelWidth::oneLane;
std::atomic<int64_t> guardFallbacks{0};

KernelWidth processorInstructionSet() {
#if defined(__x86_64__) || defined(_M_X64)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return KernelWidth::sixteenLanes;
    if (__builtin_cpu_supports("avx2"))
        return KernelWidth::eightLanes;
    return KernelWidth::fourLanes;
#elif defined(QUELTRAVINE_WASM_SIMD)
    return KernelWidth::fourLanes;  // the 4-lane kernel; a browser without SIMD never gets here
#else
    return KernelWidth::oneLane;
#endif
}

void decide() {
    if (decided)
        return;
    decided = true;
    detected = processorInstructionSet();
    if (const char* cap = std::getenv("QUELTRAVINE_ISA")) {
        for (KernelWidth width : {KernelWidth::oneLane, KernelWidth::fourLanes,
                                  KernelWidth::eightLanes, KernelWidth::sixteenLanes}) {
            if (std::strcmp(cap, kernelWidthName(width)) == 0 && width < detected)
                detected = width;
        }
    }
    active = detected;
}

// The frame's parts: equal stretches, whole multiples of the widest kernel.
struct FrameJob {
    NoiseWaveSpan frame;
    KernelWidth width;
};

void composePart(void* context, int part, int parts) {
    const auto& job = *static_cast<const FrameJob*>(context);
    constexpr int kGrain = 16;
    const int chunks = kScreenPixels / kGrain;
    NoiseWaveSpan span = job.frame;
    span.begin = chunks * part / parts * kGrain;
    span.end = chunks * (part + 1) / parts * kGrain;
    span.state = jumpGenerator(job.frame.state, 2 * static_cast<uint64_t>(span.begin));
    const int64_t fallbacks = composeNoiseWaveSpan(span, job.width);
    if (fallbacks != 0)
        guardFallbacks.fetch_add(fallbacks, std::memory_order_relaxed);
}

}  // namespace

const char* kernelWidthName(KernelWidth width) {
    switch (width) {
        case KernelWidth::oneLane:
            return "portable";
        case KernelWidth::fourLanes:
            return "sse2";
        case KernelWidth::eightLanes:
            return "avx2";
        default:
            return "avx512";
    }
}

KernelWidth widestKernelWidth() {
    decide();
    return detected;
}

void capKernelWidth(KernelWidth cap) {
    decide();
    active = cap < detected ? cap : detected;
}

KernelWidth activeKernelWidth() {
    decide();
    return active;
}

int32_t waveFromSin(double x) {
    return truncToInt(maths::sin(x) * -1000.0);
}

int64_t composeNoiseWaveSpan(const NoiseWaveSpan& span, KernelWidth width) {
    int64_t fallbacks = 0;
    int lanes = 1;
#if defined(__x86_64__) || defined(_M_X64)
    switch (width) {
        case KernelWidth::sixteenLanes:
            fallbacks = noiseWaveSpanAvx512(span);
            lanes = 16;
            break;
        case KernelWidth::eightLanes:
            fallbacks = noiseWaveSpanAvx2(span);
            lanes = 8;
            break;
        case KernelWidth::fourLanes:
            fallbacks = noiseWaveSpanSse2(span);
            lanes = 4;
            break;
        default:
            fallbacks = noiseWaveSpanPortable(span);
            break;
    }
#elif defined(QUELTRAVINE_WASM_SIMD)
    if (width == KernelWidth::oneLane) {
        fallbacks = noiseWaveSpanPortable(span);
    } else {
        fallbacks = noiseWaveSpanWasm(span);
        lanes = 4;
    }
#else
    (void)width;
    fallbacks = noiseWaveSpanPortable(span);
#endif
    // The last pixels, fewer than one chunk, as the straightforward loop does them.
    const int tail = span.begin + (span.end - span.begin) / lanes * lanes;
    RandomGenerator random{jumpGenerator(span.state, 2 * static_cast<uint64_t>(tail - span.begin))};
    for (int i = tail; i < span.end; ++i) {
        const int32_t firstDraw = random.draw();
        const int32_t secondDraw = random.draw();
        span.back[i] = SceneTimeline::noiseWavePixel(
            firstDraw, secondDraw, SceneTimeline::waveAt(i, span.accumulator), span.picture[i]);
    }
    return fallbacks;
}

void composeNoiseAndWaveFast(Pixel* back, const Pixel* picture, double accumulator,
                             RandomGenerator* random) {
    FrameJob job;
    job.frame.back = back;
    job.frame.picture = picture;
    job.frame.begin = 0;
    job.frame.end = kScreenPixels;
    job.frame.accumulator = accumulator;
    job.frame.state = random->state;
    // The largest argument is 307.199 + |accumulator|; NaN fails the test too.
    job.frame.fastSine = std::fabs(accumulator) + 308.0 < kFastSineLimit;
    job.width = activeKernelWidth();
    runFrameParts(composePart, &job);
    constexpr GeneratorStep kFrame = generatorStep(2 * static_cast<uint64_t>(kScreenPixels));
    random->state = random->state * kFrame.multiplier + kFrame.increment;
}

int64_t noiseWaveGuardFallbacks() {
    return guardFallbacks.load(std::memory_order_relaxed);
}
