#include "scenes/noise_wave.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scenes/frame_workers.h"
#include "scenes/noise_wave_kernel.h"

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

int64_t composeNoiseWaveSpan(const NoiseWaveSpan& span, InstructionSet set) {
#if defined(__x86_64__) || defined(_M_X64)
    switch (set) {
        case InstructionSet::avx512:
            return noiseWaveSpanAvx512(span);
        case InstructionSet::avx2:
            return noiseWaveSpanAvx2(span);
        case InstructionSet::sse2:
            return noiseWaveSpanSse2(span);
        default:
            break;
    }
#endif
    return noiseWaveSpanPortable(span);
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
    random->state = jumpGenerator(random->state, 2 * static_cast<uint64_t>(kScreenPixels));
}

int64_t noiseWaveGuardFallbacks() {
    return guardFallbacks.load(std::memory_order_relaxed);
}
