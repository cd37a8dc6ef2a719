// The fast scene kernels against the straightforward loops, pixel for pixel
// and generator state for generator state, with every instruction set this
// processor runs forced in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/show_maths.h"
#include "scenes/flash_courses.h"
#include "scenes/flash_limiter.h"
#include "scenes/frame_workers.h"
#include "scenes/noise_wave.h"
#include "scenes/noise_wave_kernel.h"
#include "scenes/scene_timeline.h"

namespace {

std::vector<Pixel> patternedPicture(uint32_t seed) {
    RandomGenerator noise{seed};
    std::vector<Pixel> picture(kScreenPixels);
    for (Pixel& p : picture)
        p = 0xFF000000u | static_cast<uint32_t>(noise.draw()) << 9 |
            static_cast<uint32_t>(noise.draw() & 0x10F);
    return picture;
}

// The first differing pixel, or -1.
int firstDifference(const std::vector<Pixel>& a, const std::vector<Pixel>& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return static_cast<int>(i);
    }
    return -1;
}

// A sanitizer's build checks memory and threads, not arithmetic, at many
// times the cost: there the one-lane reference and the widest set are
// enough, and the release build compares every set.
std::vector<KernelWidth> runnableSets() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (widestKernelWidth() != KernelWidth::oneLane)
        return {KernelWidth::oneLane, widestKernelWidth()};
#endif
    std::vector<KernelWidth> sets;
    for (KernelWidth set : {KernelWidth::oneLane, KernelWidth::fourLanes, KernelWidth::eightLanes,
                            KernelWidth::sixteenLanes}) {
        if (set <= widestKernelWidth())
            sets.push_back(set);
    }
    return sets;
}

class NoiseWaveKernels : public ::testing::Test {
  protected:
    void TearDown() override { capKernelWidth(KernelWidth::sixteenLanes); }

    // One frame both ways from the same generator state; the pixels and the
    // state afterwards must agree.
    void expectSameFrame(double accumulator, uint32_t state) {
        std::vector<Pixel> expected(kScreenPixels, 0x5A5A5A5Au);
        std::vector<Pixel> fast(kScreenPixels, 0xA5A5A5A5u);
        RandomGenerator straight{state};
        SceneTimeline::noiseAndWaveStraightforward(expected.data(), picture.data(), accumulator,
                                                   &straight);
        RandomGenerator jumped{state};
        SceneTimeline::noiseAndWave(fast.data(), picture.data(), accumulator, &jumped);
        const int at = firstDifference(expected, fast);
        EXPECT_EQ(at, -1) << "accumulator " << accumulator << " state " << state << " pixel " << at
                          << " with " << kernelWidthName(activeKernelWidth());
        EXPECT_EQ(jumped.state, straight.state) << accumulator;
    }

    std::vector<Pixel> picture = patternedPicture(7);
};

TEST_F(NoiseWaveKernels, EveryInstructionSetMatchesTheStraightforwardLoop) {
    startFrameWorkers();
    const double inf = std::numeric_limits<double>::infinity();
    const double accumulators[] = {
        0.0,         1.0,        -0.25,       999.5,      1000.0,
        -1000.0,     1e6,        -777777.0,   1048576.0,  1048576.0 - 308,
        16777216.0,  16777217.0, -16777216.0, 33554432.0, 3e7,
        1e12,        1e30,       -1e300,      inf,        -inf,
        std::nan("")};
    for (KernelWidth set : runnableSets()) {
        capKernelWidth(set);
        ASSERT_EQ(activeKernelWidth(), set);
        for (const double accumulator : accumulators)
            expectSameFrame(accumulator, 1);
        // Generator states from the middle of a run.
        expectSameFrame(531359.0, 0xDEADBEEFu);
        expectSameFrame(-3.5, 0xFFFFFFFFu);
    }
}

// Accumulators the show really reaches, and many more: each a float, as
// the timeline stores it.
TEST_F(NoiseWaveKernels, ManyFramesOfAccumulators) {
    startFrameWorkers();
    RandomGenerator pick{12345};
    uint32_t state = 1;
    for (int frame = 0; frame < 24; ++frame) {
        const int scale = frame % 4;  // up to 2^26: past every fast-sine limit
        const double magnitude = std::ldexp(static_cast<double>(pick.draw()), 11 * scale - 4);
        const double accumulator = static_cast<float>(frame % 2 == 0 ? magnitude : -magnitude);
        expectSameFrame(accumulator, state);
        state = state * 2891336453u + static_cast<uint32_t>(frame);
    }
}

TEST_F(NoiseWaveKernels, GuardFallsBackToSinNearIntegerHeights) {
    // A lane falls back when its height lies within 1e-4 of an integer: a
    // couple of hundred lanes in a frame. Search for a frame where it happens
    // and check that frame with the widest kernel.
    double found = std::nan("");
    for (double accumulator = 0; accumulator < 64 && std::isnan(found); accumulator += 1) {
        const int64_t before = noiseWaveGuardFallbacks();
        std::vector<Pixel> out(kScreenPixels);
        RandomGenerator random;
        SceneTimeline::noiseAndWave(out.data(), picture.data(), accumulator, &random);
        if (noiseWaveGuardFallbacks() > before)
            found = accumulator;
    }
    ASSERT_FALSE(std::isnan(found)) << "the guard never fell back";
    const int64_t before = noiseWaveGuardFallbacks();
    expectSameFrame(found, 1);
    EXPECT_GT(noiseWaveGuardFallbacks(), before);

    // The wave at pixel 0 of accumulator 0 is sin(0) = 0 exactly: always
    // inside the margin, always recomputed.
    NoiseWaveSpan span{};
    std::vector<Pixel> out(16);
    span.back = out.data();
    span.picture = picture.data();
    span.begin = 0;
    span.end = 16;
    span.state = 1;
    span.fastSine = true;
    for (KernelWidth set : runnableSets())
        EXPECT_GE(composeNoiseWaveSpan(span, set), 1) << kernelWidthName(set);
}

// The guard hides small errors of the fast sine, so its accuracy is checked
// on its own: far inside the margin over the whole range it is used for.
TEST(FastSine, StaysCloseToSinUpToTheLimit) {
    RandomGenerator pick{2024};
    double worst = 0;
    for (int n = 0; n < 100000; ++n) {
        Lanes<4>::F64 x;
        for (int j = 0; j < 4; ++j) {
            const int exponent = (n + j) % 27 - 2;  // 0.25 up to 2^25
            x[j] = std::ldexp(1.0 + pick.draw() / 32768.0, exponent) * (j % 2 == 0 ? 1 : -1);
            if (std::fabs(x[j]) >= kFastSineLimit)
                x[j] = kFastSineLimit - 1;
        }
        Lanes<4>::F64 sine;
        fastSine<4>(x, &sine);
        for (int j = 0; j < 4; ++j)
            worst = std::max(worst, std::fabs(sine[j] - std::sin(x[j])));
    }
    EXPECT_LT(worst, 1e-13);
    EXPECT_GT(kWaveGuardMargin / 1000.0, 1e4 * worst);
}

// The noise's float arithmetic against the integer remainders, for every
// first draw and, with every divisor it gives, every second draw: the frames
// above meet only a sample of the pairs.
TEST(NoiseFromDraws, EveryPairOfDrawsGivesTheIntegerRemainders) {
    // The wrong remainders from one first draw with the second draws below
    // `seconds`, four lanes at a time.
    const auto wrongRemainders = [](int32_t first, int32_t seconds) {
        const float a = static_cast<float>(first);
        const int32_t divisor = first % 240 + 10;
        int64_t wrong = 0;
        for (int32_t second = 0; second < seconds; second += 4) {
            const Lanes<4>::F32 b = {static_cast<float>(second), static_cast<float>(second + 1),
                                     static_cast<float>(second + 2),
                                     static_cast<float>(second + 3)};
            const Lanes<4>::I32 noise = noiseFromDraws<4>(Lanes<4>::F32{a, a, a, a}, b);
            for (int j = 0; j < 4; ++j)
                wrong += noise[j] != (second + j) % divisor;
        }
        return wrong;
    };
    int64_t wrong = 0;
    // Every first draw, with the second draws 0 to 251: remainders that
    // only the right divisor gives.
    for (int32_t first = 0; first < 32768; ++first)
        wrong += wrongRemainders(first, 252);
    // Every divisor with every second draw.
    for (int32_t divisor = 10; divisor < 250; ++divisor)
        wrong += wrongRemainders(divisor - 10, 32768);
    EXPECT_EQ(wrong, 0);
}

// Spans that start anywhere, with lengths that leave a tail, jump the
// generator to their own start.
TEST_F(NoiseWaveKernels, SpansCutAnywhereMakeTheSameFrame) {
    std::vector<Pixel> expected(kScreenPixels);
    RandomGenerator straight{99};
    SceneTimeline::noiseAndWaveStraightforward(expected.data(), picture.data(), 4321.0, &straight);
    const int cuts[] = {0, 1, 17, 1000, 1001, 153600, 307183, kScreenPixels};
    for (KernelWidth set : runnableSets()) {
        std::vector<Pixel> fast(kScreenPixels, 0);
        for (size_t c = 0; c + 1 < std::size(cuts); ++c) {
            RandomGenerator atCut{99};
            for (int i = 0; i < cuts[c]; ++i) {
                atCut.draw();
                atCut.draw();
            }
            const NoiseWaveSpan span{fast.data(), picture.data(), cuts[c], cuts[c + 1],
                                     4321.0,      atCut.state,    true};
            composeNoiseWaveSpan(span, set);
        }
        EXPECT_EQ(firstDifference(expected, fast), -1) << kernelWidthName(set);
    }
}

// The frame on one part and on every part the machine has; run under
// ThreadSanitizer too.
TEST(FrameWorkers, OnePartOrManyMakeTheSameFrame) {
    startFrameWorkers();
    const std::vector<Pixel> picture = patternedPicture(3);
    std::vector<Pixel> expected(kScreenPixels);
    RandomGenerator straight;
    SceneTimeline::noiseAndWaveStraightforward(expected.data(), picture.data(), 77.0, &straight);
    const int most = frameParts();
    for (int parts = 1; parts <= most; ++parts) {
        limitFrameParts(parts);
        for (int frame = 0; frame < 20; ++frame) {
            std::vector<Pixel> fast(kScreenPixels, 0);
            RandomGenerator random;
            SceneTimeline::noiseAndWave(fast.data(), picture.data(), 77.0, &random);
            ASSERT_EQ(firstDifference(expected, fast), -1) << parts << " parts, frame " << frame;
            ASSERT_EQ(random.state, straight.state);
        }
    }
    limitFrameParts(most);

    // Every part runs once per call, whatever the count.
    struct Counts {
        int calls[64] = {};
    } counts;
    runFrameParts(
        [](void* context, int part, int) { ++static_cast<Counts*>(context)->calls[part]; },
        &counts);
    for (int part = 0; part < most; ++part)
        EXPECT_EQ(counts.calls[part], 1) << part;
}

TEST(XorPatternKernel, MatchesTheStraightforwardLoop) {
    const std::vector<Pixel> picture = patternedPicture(5);
    for (const uint32_t n :
         {0u, 1u, 639u, 123456789u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFFu - 307199u}) {
        std::vector<Pixel> expected(kScreenPixels, 0x13572468u);
        std::vector<Pixel> fast = expected;
        SceneTimeline::xorPatternStraightforward(expected.data(), picture.data(), n);
        SceneTimeline::xorPattern(fast.data(), picture.data(), n);
        EXPECT_EQ(firstDifference(expected, fast), -1) << n;
        EXPECT_EQ(fast[0], 0x13572468u);  // pixel 0 keeps the previous frame's value
    }
}

TEST(FlickerAndScrollerKernel, MatchesTheStraightforwardLoop) {
    const std::vector<Pixel> picture = patternedPicture(11);
    std::vector<Pixel> strip(GreetingsStrip::pixels);
    for (int i = 0; i < GreetingsStrip::pixels; ++i)
        strip[i] = 0x80000000u | static_cast<uint32_t>(i);
    // Strip on screen, at its edges, gone, and far beyond any real clock
    // (where k - offset is no longer exact and columns repeat).
    // The fast frame is cut into bands of rows, one per part; the band
    // edges must not drop or repeat a row, the strip rows included.
    startFrameWorkers();
    const int most = frameParts();
    for (int parts = 1; parts <= std::max(most, 1); ++parts) {
        limitFrameParts(parts);
        for (const double elapsed : {5500.0, 5500.25, 5500.75, 4861.0, 4860.5, 6000.7, 10953.0,
                                     10953.5, 11000.0, 0.0, -1e8, 4.3e8, 1e17 + 3, -1e17, 1e300}) {
            std::vector<Pixel> expected = patternedPicture(13);
            std::vector<Pixel> fast = expected;
            for (int frame = 0; frame < 2; ++frame) {
                SceneTimeline::flickerAndScrollerStraightforward(expected.data(), picture.data(),
                                                                 strip.data(), elapsed);
                SceneTimeline::flickerAndScroller(fast.data(), picture.data(), strip.data(),
                                                  elapsed);
            }
            EXPECT_EQ(firstDifference(expected, fast), -1) << elapsed << " in " << parts;
        }
    }
    limitFrameParts(most);
}

// Pairs of colours whose change rounds, in float, to a float either side of
// a flash threshold: there the kernels measure again in double. 32 in
// luminance (0.1) and 32 in redness (20, between saturated reds).
struct ColourPair {
    Pixel from;
    Pixel to;
};

std::vector<ColourPair> pairsAtTheThresholds() {
    float linear[256];
    for (int c = 0; c < 256; ++c) {
        const double encoded = c / 255.0;
        linear[c] = static_cast<float>(
            encoded <= 0.04045 ? encoded / 12.92 : maths::pow((encoded + 0.055) / 1.055, 2.4));
    }
    // Colours without blue for luminance; bright reds with little green and
    // blue for redness (enough pairs of each, and quick under sanitizers).
    std::vector<std::pair<float, Pixel>> lumas;
    std::vector<std::pair<float, Pixel>> reds;
    for (Pixel p = 0; p < 0x10000u; ++p) {
        const Pixel noBlue = p << 8;
        const Pixel bright = 0x800000u | (p & 0x7F) << 16 | (p >> 7 & 0x3F) << 8 | (p >> 13);
        float luminance;
        float redness;
        int32_t saturated;
        measureFlashPixel(noBlue, linear, &luminance, &redness, &saturated);
        lumas.emplace_back(luminance, noBlue);
        measureFlashPixel(bright, linear, &luminance, &redness, &saturated);
        if (saturated != 0)
            reds.emplace_back(redness, bright);
    }
    std::vector<ColourPair> pairs;
    const auto findPairs = [&](std::vector<std::pair<float, Pixel>>& values, float below,
                               float above) {
        std::sort(values.begin(), values.end());
        const size_t wanted = pairs.size() + 32;
        for (size_t i = 0; i < values.size() && pairs.size() < wanted; ++i) {
            const float from = values[i].first;
            auto to = std::lower_bound(values.begin(), values.end(),
                                       std::pair<float, Pixel>{from + below * 0.999f, 0});
            for (; to != values.end() && to->first - from <= above; ++to) {
                const float change = to->first - from;
                if (change == below || change == above) {
                    pairs.push_back({values[i].second, to->second});
                    break;
                }
            }
        }
    };
    findPairs(lumas, 0x1.999998p-4f, 0x1.99999ap-4f);
    findPairs(reds, 20.0f, 0x1.400002p+4f);
    return pairs;
}

// The flash tracker's step with each instruction set: the same frames shown
// by the limiter, whose held pixels are every pixel the step marks, and the
// same transitions in the report. Blocks of 8x8 (large enough to count)
// alternate between black and colours at the thresholds or at random.
TEST(FlashCourseKernels, EveryInstructionSetMarksTheSamePixels) {
    startFrameWorkers();
    const std::vector<ColourPair> pairs = pairsAtTheThresholds();
    ASSERT_EQ(pairs.size(), 64u);
    RandomGenerator random{99};
    std::vector<std::vector<Pixel>> frames(6, std::vector<Pixel>(kScreenPixels, 0));
    for (size_t f = 0; f < frames.size(); ++f) {
        for (int i = 0; i < kScreenPixels; ++i) {
            const uint32_t block =
                static_cast<uint32_t>((i / kScreenWidth / 8) * 80 + i % kScreenWidth / 8);
            const ColourPair& pair = pairs[(block * 7 + f / 2) % pairs.size()];
            frames[f][i] = block % 3 == 0 ? static_cast<Pixel>(random.draw()) << 9 ^
                                                static_cast<Pixel>(random.draw())
                           : f % 2 == 0 ? pair.from
                                        : pair.to;
        }
    }
    std::vector<std::vector<Pixel>> expected;
    std::vector<int> expectedTransitions;
    for (KernelWidth set : runnableSets()) {
        capKernelWidth(set);
        std::vector<std::vector<Pixel>> shown;
        std::vector<int> transitions;
        startFlashLimiter(10);
        startFlashTracker();
        for (int k = 0; k < 16; ++k) {
            const Pixel* frame = frames[static_cast<size_t>(k) % frames.size()].data();
            const Pixel* out = limitFlashes(frame, k, nullptr);
            shown.emplace_back(out, out + kScreenPixels);
        }
        startFlashTracker();
        for (int k = 0; k < 16; ++k) {
            const FlashTransitions t =
                trackFlashFrame(frames[static_cast<size_t>(k) % frames.size()].data());
            transitions.push_back(t.general + 2 * t.red);
        }
        if (set == KernelWidth::oneLane) {
            expected = shown;
            expectedTransitions = transitions;
            continue;
        }
        for (size_t k = 0; k < shown.size(); ++k)
            EXPECT_EQ(firstDifference(expected[k], shown[k]), -1)
                << kernelWidthName(set) << " frame " << k;
        EXPECT_EQ(transitions, expectedTransitions) << kernelWidthName(set);
    }
    capKernelWidth(KernelWidth::sixteenLanes);
}

}  // namespace
