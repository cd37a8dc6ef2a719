// Frame composition and synthesis speed. Run: build/bench/core_bench
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

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
        SceneTimeline::inputs.backBuffer = back.data();
        for (int i = 0; i < Picture::count; ++i) {
            SceneTimeline::inputs.pictures[i] = pictures[i].data();
        }
        SceneTimeline::inputs.strip = strip.data();
        SceneTimeline::inputs.clock = benchClock;
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
