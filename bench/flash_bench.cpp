// The flash tracker and limiter per frame, on the worst stream for them:
// every pixel flips its luminance every frame, so every pixel makes a
// transition and the limiter holds every frame past the budget.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench/kernel_choice.h"
#include "scenes/flash_limiter.h"

namespace {

// Two noisy frames, the second the first with every channel's top bit
// flipped: a flash of every pixel from one to the other.
struct Flicker {
    std::vector<Pixel> frames[2];
    Flicker() {
        std::mt19937 random(5);
        frames[0].resize(kScreenPixels);
        frames[1].resize(kScreenPixels);
        for (int i = 0; i < kScreenPixels; ++i) {
            frames[0][i] = random() & 0xFFFFFF;
            frames[1][i] = frames[0][i] ^ 0x808080;
        }
    }
};

// Arguments: the instruction set (0 portable, 1 SSE2, 2 AVX2, 3 AVX-512),
// the parts a frame is cut into, and 0 for the report's tracker alone or 1
// for the limiter.
void flashPerFrame(benchmark::State& bench) {
    static const Flicker flicker;
    if (!chooseKernels(bench, static_cast<KernelWidth>(bench.range(0)),
                       static_cast<int>(bench.range(1))))
        return;
    const bool limiting = bench.range(2) != 0;
    if (limiting)
        startFlashLimiter(60);
    else
        startFlashTracker();
    int64_t k = 0;
    for (auto _ : bench) {
        const Pixel* frame = flicker.frames[k % 2].data();
        if (limiting)
            benchmark::DoNotOptimize(limitFlashes(frame, k, nullptr));
        else
            benchmark::DoNotOptimize(trackFlashFrame(frame));
        ++k;
    }
    restoreKernels();
}
BENCHMARK(flashPerFrame)
    ->ArgNames({"isa", "parts", "limiter"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
