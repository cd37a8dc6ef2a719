// Frame composition and synthesis speed. Run: build/bench/core_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench/kernel_choice.h"
#include "core/show_maths.h"
#include "platform/frame_copy.h"
#include "scenes/frame_workers.h"
#include "scenes/noise_wave.h"
#include "scenes/scene_timeline.h"
#include "synth/synthesiser.h"

namespace {

uint32_t benchClockMs = 0;
uint32_t benchClock() {
    return benchClockMs;
}

struct Material {
    std::vector<Pixel> back = std::vector<Pixel>(kScreenPixels, 0);
    std::vector<Pixel> pictures[Picture::count];
    std::vector<Pixel> strip = std::vector<Pixel>(GreetingsStrip::pixels);

    Material() {
        RandomGenerator noise;
        for (auto& picture : pictures) {
            picture.resize(kScreenPixels);
            for (Pixel& p : picture) {
                p = 0xFF000000u | static_cast<uint32_t>(noise.draw()) << 9 |
                    static_cast<uint32_t>(noise.draw());
            }
        }
        for (Pixel& p : strip)
            p = 0xFF000000u | static_cast<uint32_t>(noise.draw());
        const Pixel* shown[Picture::count];
        for (int i = 0; i < Picture::count; ++i)
            shown[i] = pictures[i].data();
        SceneTimeline::usePictures(shown, strip.data());
        SceneTimeline::useBackBuffer(back.data());
        SceneTimeline::useClock(benchClock);
    }
};

// Each scene at a moment well inside it; scene 4 with the strip on screen.
void composeScene(benchmark::State& bench) {
    static Material material;
    const uint32_t sceneMs[] = {2000, 10000, 25000, 45000, 60000};
    benchClockMs = 0;
    SceneTimeline::start();
    benchClockMs = sceneMs[bench.range(0)];
    for (auto _ : bench) {
        SceneTimeline::composeFrame();
        benchmark::DoNotOptimize(material.back.data());
    }
    if (SceneTimeline::state.scene != bench.range(0))
        bench.SkipWithError("wrong scene");
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
BENCHMARK(composeScene)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// Each kernel alone, straightforward and fast, on the same material, so the
// ratios to each other and to the memcpy line can be read off one run.
void kernelStraightforward(benchmark::State& bench) {
    static Material material;
    Pixel* back = material.back.data();
    RandomGenerator random;
    const int scene = static_cast<int>(bench.range(0));
    for (auto _ : bench) {
        switch (scene) {
            case 0:
                SceneTimeline::copyPictureStraightforward(back, material.pictures[0].data());
                break;
            case 2:
                SceneTimeline::xorPatternStraightforward(back, material.pictures[2].data(), 12345);
                break;
            case 3:
                SceneTimeline::noiseAndWaveStraightforward(back, material.pictures[3].data(),
                                                           500000.0, &random);
                break;
            default:
                SceneTimeline::flickerAndScrollerStraightforward(back, material.pictures[4].data(),
                                                                 material.strip.data(), 6000.0);
                break;
        }
        benchmark::DoNotOptimize(back);
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
BENCHMARK(kernelStraightforward)
    ->ArgName("scene")
    ->Arg(0)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMicrosecond);

void kernelFast(benchmark::State& bench) {
    static Material material;
    Pixel* back = material.back.data();
    const int scene = static_cast<int>(bench.range(0));
    startFrameWorkers();
    const int parts = static_cast<int>(bench.range(1));
    if (parts > frameParts()) {
        bench.SkipWithError("not on this machine");
        return;
    }
    const int allParts = frameParts();
    limitFrameParts(parts);
    for (auto _ : bench) {
        switch (scene) {
            case 0:
                SceneTimeline::copyPicture(back, material.pictures[0].data());
                break;
            case 2:
                SceneTimeline::xorPattern(back, material.pictures[2].data(), 12345);
                break;
            default:
                SceneTimeline::flickerAndScroller(back, material.pictures[4].data(),
                                                  material.strip.data(), 6000.0);
                break;
        }
        benchmark::DoNotOptimize(back);
        benchmark::ClobberMemory();
    }
    limitFrameParts(allParts);
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
// Scenes 0 and 2 run on the calling thread alone; scene 4 is cut into parts.
BENCHMARK(kernelFast)
    ->ArgNames({"scene", "parts"})
    ->Args({0, 1})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({4, 2})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Scene 3's fast path per instruction set (0 portable, 1 SSE2, 2 AVX2,
// 3 AVX-512) and number of parts the frame is cut into.
void noiseWaveFast(benchmark::State& bench) {
    static Material material;
    if (!chooseKernels(bench, static_cast<KernelWidth>(bench.range(0)),
                       static_cast<int>(bench.range(1))))
        return;
    RandomGenerator random;
    for (auto _ : bench) {
        SceneTimeline::noiseAndWave(material.back.data(), material.pictures[3].data(), 500000.0,
                                    &random);
        benchmark::DoNotOptimize(material.back.data());
        benchmark::ClobberMemory();
    }
    restoreKernels();
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
BENCHMARK(noiseWaveFast)
    ->ArgNames({"isa", "parts"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Seconds of audio per second: the items-per-second counter reads as
// stereo frames; divide by 22,050 for real-time factor.
void fillAudio(benchmark::State& bench) {
    std::vector<uint8_t> block(40000);
    for (auto _ : bench) {
        fillStereoBlock(nullptr, block.data(), 40000, 12345);
        benchmark::DoNotOptimize(block.data());
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 10000);
    bench.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(bench.iterations()) * 10000.0 / kAudioRate,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(fillAudio)->Unit(benchmark::kMillisecond);

// The show's sin, pow and tanh (the same bits on every platform) against the
// C runtime's, on arguments of the kinds the synthesiser passes: the price of
// the same music everywhere, per call.
enum MathsCall : int64_t { kShowSin, kRuntimeSin, kShowPow, kRuntimePow, kShowTanh, kRuntimeTanh };
void mathsCall(benchmark::State& bench, MathsCall which) {
    std::vector<double> arguments(4096);
    for (size_t i = 0; i < arguments.size(); ++i) {
        arguments[i] = static_cast<double>(i) * 0.37 - 700.0;  // -700 to 815
    }
    double sum = 0;
    for (auto _ : bench) {
        for (double x : arguments) {
            switch (which) {
                case kShowSin:
                    sum += maths::sin(x);
                    break;
                case kRuntimeSin:
                    sum += std::sin(x);
                    break;
                case kShowPow:
                    sum += maths::pow(0.5 + x * 0.0006, 10.0);
                    break;
                case kRuntimePow:
                    sum += std::pow(0.5 + x * 0.0006, 10.0);
                    break;
                case kShowTanh:
                    sum += maths::tanh(x * 0.004);
                    break;
                case kRuntimeTanh:
                    sum += std::tanh(x * 0.004);
                    break;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations()) * 4096);
}
BENCHMARK_CAPTURE(mathsCall, show_sin, kShowSin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(mathsCall, runtime_sin, kRuntimeSin)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(mathsCall, show_pow, kShowPow)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(mathsCall, runtime_pow, kRuntimePow)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(mathsCall, show_tanh, kShowTanh)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(mathsCall, runtime_tanh, kRuntimeTanh)->Unit(benchmark::kMicrosecond);

// What uploadFrame does: the frame row by row into a surface whose rows may
// be longer (pitch in pixels: 640, or a padded 704).
void uploadRows(benchmark::State& bench) {
    std::vector<Pixel> from(kScreenPixels, 0x12345678u);
    const auto pitch = static_cast<int32_t>(bench.range(0));
    std::vector<Pixel> surface(static_cast<size_t>(pitch) * kScreenHeight);
    for (auto _ : bench) {
        copyFrameRows(from.data(), surface.data(), pitch);
        benchmark::DoNotOptimize(surface.data());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
BENCHMARK(uploadRows)->ArgName("pitch")->Arg(640)->Arg(704)->Unit(benchmark::kMicrosecond);

// The bandwidth line: one plain copy of a frame.
void copyFrame(benchmark::State& bench) {
    std::vector<Pixel> from(kScreenPixels, 0x12345678u);
    std::vector<Pixel> to(kScreenPixels);
    for (auto _ : bench) {
        std::memcpy(to.data(), from.data(), VirtualBackBuffer::bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * VirtualBackBuffer::bytes);
}
BENCHMARK(copyFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
