#include "scenes/noise_wave.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scenes/frame_workers.h"
#include "scenes/noise_wave_kernel.h"
#include "scenes/scene_timeline.h"

namespace {

bool decided = false;
InstructionSet detected = InstructionSet::portable;
InstructionSet active = InstructionSet::portable;
std::atomic<int64_t> guardFallbacks{0};

InstructionSet processorInstructionSet() {
#if defined(__x86_64__) || defined(_M_X64)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return InstructionSet::avx512;
    if (__builtin_cpu_supports("avx2"))
        return InstructionSet::avx2;
    return InstructionSet::sse2;
#elif defined(QUELTRAVINE_WASM_SIMD)
    return InstructionSet::sse2;  // the 4-lane kernel; a browser without SIMD never gets here
#else
    return InstructionSet::portable;
#endif
}

void decide() {
    if (decided)
        return;
    decided = true;
    detected = processorInstructionSet();
    if (const char* cap = std::getenv("QUELTRAVINE_ISA")) {
        for (InstructionSet set : {InstructionSet::portable, InstructionSet::sse2,
                                   InstructionSet::avx2, InstructionSet::avx512}) {
            if (std::strcmp(cap, instructionSetName(set)) == 0 && set < detected)
                detected = set;
        }
    }
    active = detected;
}

// The frame's parts: equal stretches, whole multiples of the widest kernel.
struct FrameJob {
    NoiseWaveSpan frame;
    InstructionSet set;
};

void composePart(void* context, int part, int parts) {
    const auto& job = *static_cast<const FrameJob*>(context);
    constexpr int kGrain = 16;
    const int chunks = kScreenPixels / kGrain;
    NoiseWaveSpan span = job.frame;
    span.begin = chunks * part / parts * kGrain;
    span.end = chunks * (part + 1) / parts * kGrain;
    span.state = jumpGenerator(job.frame.state, 2 * static_cast<uint64_t>(span.begin));
    const int64_t fallbacks = composeNoiseWaveSpan(span, job.set);
    if (fallbacks != 0)
        guardFallbacks.fetch_add(fallbacks, std::memory_order_relaxed);
}

}  // namespace

const char* instructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::portable:
            return "portable";
        case InstructionSet::sse2:
            return "sse2";
        case InstructionSet::avx2:
            return "avx2";
        default:
            return "avx512";
    }
}

InstructionSet detectedInstructionSet() {
    decide();
    return detected;
}

void capInstructionSet(InstructionSet cap) {
    decide();
    active = cap < detected ? cap : detected;
}

InstructionSet activeInstructionSet() {
    decide();
    return active;
}

int32_t waveFromSin(double x) {
    return truncToInt(std::sin(x) * -1000.0);
}

int64_t composeNoiseWaveSpan(const NoiseWaveSpan& span, InstructionSet set) {
    int64_t fallbacks = 0;
    int lanes = 1;
#if defined(__x86_64__) || defined(_M_X64)
    switch (set) {
        case InstructionSet::avx512:
            fallbacks = noiseWaveSpanAvx512(span);
            lanes = 16;
            break;
        case InstructionSet::avx2:
            fallbacks = noiseWaveSpanAvx2(span);
            lanes = 8;
            break;
        case InstructionSet::sse2:
            fallbacks = noiseWaveSpanSse2(span);
            lanes = 4;
            break;
        default:
            fallbacks = noiseWaveSpanPortable(span);
            break;
    }
#elif defined(QUELTRAVINE_WASM_SIMD)
    if (set == InstructionSet::portable) {
        fallbacks = noiseWaveSpanPortable(span);
    } else {
        fallbacks = noiseWaveSpanWasm(span);
        lanes = 4;
    }
#else
    (void)set;
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
    job.set = activeInstructionSet();
    runFrameParts(composePart, &job);
    constexpr GeneratorStep kFrame = generatorStep(2 * static_cast<uint64_t>(kScreenPixels));
    random->state = random->state * kFrame.multiplier + kFrame.increment;
}

int64_t noiseWaveGuardFallbacks() {
    return guardFallbacks.load(std::memory_order_relaxed);
}
