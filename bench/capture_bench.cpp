// The video's frame conversion: 640x480 RGB to enlarged BT.709 4:2:0.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "render/yuv_frame.h"

namespace {

std::vector<Pixel> noisyFrame() {
    std::mt19937 random(3);
    std::vector<Pixel> frame(kScreenPixels);
    for (Pixel& p : frame)
        p = random();
    return frame;
}

// What the encoder is handed for each frame, at scale 1, 2 (the default) and 4.
void yuvFast(benchmark::State& bench) {
    const std::vector<Pixel> frame = noisyFrame();
    const int scale = static_cast<int>(bench.range(0));
    std::vector<uint8_t> out(yuv420FrameBytes(scale));
    for (auto _ : bench) {
        convertFrameToYuv420(frame.data(), scale, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(yuvFast)->ArgName("scale")->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

// The per-pixel loop the fast path is checked against.
void yuvStraightforward(benchmark::State& bench) {
    const std::vector<Pixel> frame = noisyFrame();
    const int scale = static_cast<int>(bench.range(0));
    std::vector<uint8_t> out(yuv420FrameBytes(scale));
    for (auto _ : bench) {
        convertFrameToYuv420Straightforward(frame.data(), scale, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(yuvStraightforward)->ArgName("scale")->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace
