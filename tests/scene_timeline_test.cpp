#include "scenes/scene_timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synth/synthesiser.h"

namespace {

// A virtual clock: each read returns the next queued reading, or the last one
// again once the queue is spent.
std::vector<uint32_t> clockReadings;
size_t clockPosition = 0;

uint32_t virtualClock() {
    const uint32_t value = clockReadings[std::min(clockPosition, clockReadings.size() - 1)];
    ++clockPosition;
    return value;
}

class SceneTimelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        back.assign(kScreenPixels, 0);
        for (int p = 0; p < Picture::count; ++p) {
            // Distinct, easily told apart pictures.
            pictures[p].resize(kScreenPixels);
            for (int i = 0; i < kScreenPixels; ++i) {
                pictures[p][i] = 0xFF000000u | (static_cast<uint32_t>(p) << 20) | (i & 0xFFFFF);
            }
        }
        strip.resize(GreetingsStrip::pixels);
        for (int i = 0; i < GreetingsStrip::pixels; ++i) {
            strip[i] = 0x80000000u | static_cast<uint32_t>(i);  // never equal to a picture pixel
        }
        const Pixel* shown[Picture::count];
        for (int p = 0; p < Picture::count; ++p)
            shown[p] = pictures[p].data();
        SceneTimeline::usePictures(shown, strip.data());
        SceneTimeline::useBackBuffer(back.data());
        SceneTimeline::useClock(virtualClock);
        SceneTimeline::reset();
        takeResidues(0, 0);
    }

    // Starts the timeline with both start readings at startMs.
    void startAt(uint32_t startMs) {
        clockReadings = {startMs};
        clockPosition = 0;
        SceneTimeline::start();
    }

    // Composes one frame with both frame readings at ms.
    void frameAt(uint32_t ms) {
        clockReadings = {ms};
        clockPosition = 0;
        SceneTimeline::composeFrame();
    }

    std::vector<Pixel> back;
    std::vector<Pixel> pictures[Picture::count];
    std::vector<Pixel> strip;
};

TEST(SceneFor, ThresholdsAreStrict) {
    EXPECT_EQ(SceneTimeline::sceneFor(-3.0f), 0);
    EXPECT_EQ(SceneTimeline::sceneFor(5.0f), 0);
    EXPECT_EQ(SceneTimeline::sceneFor(std::nextafter(5.0f, 6.0f)), 1);
    EXPECT_EQ(SceneTimeline::sceneFor(15.0f), 1);
    EXPECT_EQ(SceneTimeline::sceneFor(15.001f), 2);
    EXPECT_EQ(SceneTimeline::sceneFor(35.0f), 2);
    EXPECT_EQ(SceneTimeline::sceneFor(35.001f), 3);
    EXPECT_EQ(SceneTimeline::sceneFor(55.0f), 3);
    EXPECT_EQ(SceneTimeline::sceneFor(std::nextafter(55.0f, 56.0f)), 4);
    EXPECT_EQ(SceneTimeline::sceneFor(1e9f), 4);
}

TEST_F(SceneTimelineTest, TimeBaseRoundsWhereStored) {
    startAt(1'000'000);
    EXPECT_EQ(SceneTimeline::state.startSeconds, 1000.0000610351562f);
    EXPECT_DOUBLE_EQ(SceneTimeline::state.startSeconds, 1000.0000610351562);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 0.0f);

    frameAt(1'005'000);
    EXPECT_DOUBLE_EQ(SceneTimeline::state.elapsedSeconds, 4.99998664855957);
    EXPECT_EQ(SceneTimeline::state.scene, 0);
    frameAt(1'005'001);
    EXPECT_DOUBLE_EQ(SceneTimeline::state.elapsedSeconds, 5.000986576080322);
    EXPECT_EQ(SceneTimeline::state.scene, 1);
}

TEST_F(SceneTimelineTest, TwoReadingsPerStartAndFrame) {
    // The first reading makes seconds, the second centiseconds.
    clockReadings = {2000, 3000};
    clockPosition = 0;
    SceneTimeline::start();
    EXPECT_EQ(clockPosition, 2u);
    EXPECT_EQ(SceneTimeline::state.startSeconds, 2.0f);
    EXPECT_EQ(SceneTimeline::state.startCentiseconds, 300.0f);

    clockReadings = {12000, 4000};
    clockPosition = 0;
    SceneTimeline::composeFrame();
    EXPECT_EQ(clockPosition, 2u);
    EXPECT_NEAR(SceneTimeline::state.elapsedSeconds, 10.0, 1e-5);
    EXPECT_NEAR(SceneTimeline::state.elapsedCentiseconds, 100.0, 1e-4);
    EXPECT_EQ(SceneTimeline::state.scene, 1);
}

TEST_F(SceneTimelineTest, ClockWrapBringsSceneZeroBack) {
    startAt(4'294'960'000u);
    frameAt(4'294'967'295u);
    EXPECT_EQ(SceneTimeline::state.scene, 1);  // 7.3 s in
    frameAt(200);                              // the counter wrapped
    EXPECT_LT(SceneTimeline::state.elapsedSeconds, 0.0f);
    EXPECT_EQ(SceneTimeline::state.scene, 0);
    EXPECT_EQ(back, pictures[0]);
}

TEST_F(SceneTimelineTest, AccumulatorFollowsPublishedResidues) {
    startAt(0);
    frameAt(10);
    frameAt(20);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 2.0f);

    takeResidues(5, -3);
    frameAt(30);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 5.0f);
    EXPECT_EQ(SceneTimeline::state.residueA, 5);
    EXPECT_EQ(SceneTimeline::state.residueB, -3);

    takeResidues(-479, 0);
    frameAt(40);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, -473.0f);

    // Beyond 2^24 a float cannot hold the +1: growth is rounded away.
    stepResidueA = 0;
    SceneTimeline::state.frameAccumulator = 16777216.0f;
    frameAt(50);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 16777216.0f);
    stepResidueA = 1;
    frameAt(60);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 16777218.0f);
}

TEST_F(SceneTimelineTest, CopyScenesShowTheirPictures) {
    startAt(0);
    frameAt(5000);
    EXPECT_EQ(back, pictures[0]);
    frameAt(14999);  // 15,000 ms reads as 15.0000007 s, already scene 2
    EXPECT_EQ(SceneTimeline::state.scene, 1);
    EXPECT_EQ(back, pictures[1]);
}

TEST(XorPattern, PixelRule) {
    // Row 1, column 1, counter 100 + 641, over black.
    EXPECT_EQ(SceneTimeline::xorPatternPixel(641, 100, 0xFF000000u), 0xFF0002E4u);
    // The counter wraps at 32 bits.
    EXPECT_EQ(SceneTimeline::xorPatternPixel(1, 0xFFFFFFFFu, 0u), 0u);
    EXPECT_EQ(SceneTimeline::xorPatternPixel(307199, 0, 0u), 479u ^ 307199u);
}

TEST_F(SceneTimelineTest, XorPatternLeavesPixelZero) {
    startAt(0);
    frameAt(14999);  // credits: pixel 0 is credits' pixel 0
    const Pixel creditsPixel0 = back[0];
    EXPECT_EQ(creditsPixel0, pictures[1][0]);

    SceneTimeline::state.frameAccumulator = 99.7f;  // + 1 gives 100.7, n = 100
    frameAt(15001);
    EXPECT_EQ(SceneTimeline::state.scene, 2);
    EXPECT_EQ(back[0], creditsPixel0);
    for (uint32_t i : {1u, 641u, 1000u, 307199u}) {
        EXPECT_EQ(back[i], SceneTimeline::xorPatternPixel(i, 100, pictures[2][i])) << i;
    }
}

TEST(NoiseAndWave, PixelRule) {
    // Draws 1000 and 777: divisor 50, remainder 27.
    EXPECT_EQ(SceneTimeline::noiseWavePixel(1000, 777, 0, 0xFF102030u), 0xFF10203Bu);
    // 27 - 500 = -473 = 0xFFFFFE27 before the OR.
    EXPECT_EQ(SceneTimeline::noiseWavePixel(1000, 777, 500, 0xFF102030u), 0xFFFFFE37u);
    // The divisor is never below 10.
    EXPECT_EQ(SceneTimeline::noiseWavePixel(240, 32767, 0, 0u), 32767u % 10u);
    EXPECT_EQ(SceneTimeline::noiseWavePixel(239, 32767, -1000, 0u), 32767u % 249u + 1000u);
}

TEST(NoiseAndWave, WaveRange) {
    EXPECT_EQ(SceneTimeline::waveAt(0, 0.0), 0);
    EXPECT_EQ(SceneTimeline::waveAt(0, 1.5707963267948966), -1000);
    EXPECT_EQ(SceneTimeline::waveAt(1571, 0.0), -999);
    int lowest = 0;
    int highest = 0;
    for (int i = 0; i < kScreenPixels; i += 7) {
        const int w = SceneTimeline::waveAt(i, 12345.6);
        lowest = std::min(lowest, w);
        highest = std::max(highest, w);
    }
    EXPECT_GE(lowest, -1000);
    EXPECT_LE(highest, 1000);
    EXPECT_GT(highest, 990);
    EXPECT_LT(lowest, -990);
}

TEST_F(SceneTimelineTest, NoiseAndWaveDrawsTwicePerPixelInOrder) {
    startAt(0);
    frameAt(35001);
    ASSERT_EQ(SceneTimeline::state.scene, 3);
    EXPECT_EQ(SceneTimeline::state.frameAccumulator, 1.0f);

    // The same generator, from state 1: divisor draw first, dividend second.
    RandomGenerator expected;
    for (int i = 0; i < kScreenPixels; ++i) {
        const int32_t first = expected.draw();
        const int32_t second = expected.draw();
        const Pixel want = SceneTimeline::noiseWavePixel(
            first, second, SceneTimeline::waveAt(i, 1.0), pictures[3][i]);
        ASSERT_EQ(back[i], want) << "pixel " << i;
    }
    EXPECT_EQ(SceneTimeline::random.state, expected.state);  // 614,400 draws
}

TEST_F(SceneTimelineTest, FlickerRestoresEveryOtherFrame) {
    startAt(0);
    frameAt(40000);  // scene 3 leaves its frame behind
    const std::vector<Pixel> before = back;

    frameAt(70000);  // strip long gone (elapsed centiseconds 7000)
    frameAt(70001);
    ASSERT_EQ(SceneTimeline::state.scene, 4);
    // Rows outside the strip hold the scene 3 frame again.
    for (int i = 0; i < 420 * kScreenWidth; ++i) {
        ASSERT_EQ(back[i], before[i]) << i;
    }
    frameAt(70002);
    for (int i = 0; i < 420 * kScreenWidth; ++i) {
        ASSERT_EQ(back[i], before[i] ^ pictures[4][i]) << i;
    }
}

TEST_F(SceneTimelineTest, FlickerWithoutStripRestoresAllPixels) {
    startAt(0);
    frameAt(40000);
    const std::vector<Pixel> before = back;
    frameAt(109531);  // elapsed centiseconds just over 10,953
    frameAt(109532);
    EXPECT_EQ(back, before);
}

// Which strip column landed on each screen column of strip row r, or -1.
std::vector<int> stripColumnsOnRow(const std::vector<Pixel>& back, int r) {
    std::vector<int> columns(kScreenWidth, -1);
    for (int x = 0; x < kScreenWidth; ++x) {
        const Pixel p = back[(420 + r) * kScreenWidth + x];
        if ((p & 0xFF000000u) == 0x80000000u) {
            const int index = static_cast<int>(p & 0xFFFFFFu);
            EXPECT_EQ(index / GreetingsStrip::width, r);
            columns[x] = index % GreetingsStrip::width;
        }
    }
    return columns;
}

TEST_F(SceneTimelineTest, StripAtFiftyFiveSecondsStandsAtItsOwnColumns) {
    startAt(0);
    frameAt(55000);  // centiseconds 5500.0 exactly, seconds just over 55
    ASSERT_EQ(SceneTimeline::state.scene, 4);
    ASSERT_EQ(SceneTimeline::state.elapsedCentiseconds, 5500.0f);
    for (int r : {0, 24, 48}) {
        const std::vector<int> columns = stripColumnsOnRow(back, r);
        EXPECT_EQ(columns[0], -1) << "column 0 only flickers";
        for (int x = 1; x < kScreenWidth; ++x) {
            ASSERT_EQ(columns[x], x) << "row " << r << " column " << x;
        }
    }
    // Rows 419 and 469 are not strip rows.
    EXPECT_EQ(back[419 * kScreenWidth + 5], pictures[4][419 * kScreenWidth + 5]);
    EXPECT_EQ(back[469 * kScreenWidth + 5], pictures[4][469 * kScreenWidth + 5]);
}

TEST_F(SceneTimelineTest, StripColumnRangeAtQuarterCentisecond) {
    startAt(0);
    SceneTimeline::state.startCentiseconds = -0.25f;
    frameAt(56000);
    ASSERT_EQ(SceneTimeline::state.elapsedCentiseconds, 5600.25f);
    const std::vector<int> columns = stripColumnsOnRow(back, 10);
    EXPECT_EQ(columns[0], -1);
    for (int x = 1; x < kScreenWidth; ++x) {
        ASSERT_EQ(columns[x], x + 101) << x;  // strip columns 102 to 740
    }
}

TEST_F(SceneTimelineTest, StripLastColumnLeavesAfter10953) {
    startAt(0);
    frameAt(109530);
    ASSERT_EQ(SceneTimeline::state.elapsedCentiseconds, 10953.0f);
    std::vector<int> columns = stripColumnsOnRow(back, 48);
    EXPECT_EQ(columns[1], GreetingsStrip::width - 1);
    for (int x = 2; x < kScreenWidth; ++x) {
        EXPECT_EQ(columns[x], -1);
    }

    frameAt(109531);
    for (int r = 0; r < GreetingsStrip::height; ++r) {
        columns = stripColumnsOnRow(back, r);
        for (int x = 0; x < kScreenWidth; ++x) {
            ASSERT_EQ(columns[x], -1);
        }
    }
}

}  // namespace
