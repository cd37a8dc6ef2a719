#include "synth/synthesiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class SynthesiserTest : public ::testing::Test {
  protected:
    void SetUp() override { resetSynthesiser(); }

    static std::vector<uint8_t> fill(int32_t bytes) {
        std::vector<uint8_t> block(static_cast<size_t>(std::max(bytes, 0)), 0xAB);
        fillStereoBlock(nullptr, block.data(), bytes, 12345);
        return block;
    }

    static int16_t sample(const std::vector<uint8_t>& block, size_t frame, int channel) {
        const size_t at = frame * 4 + static_cast<size_t>(channel) * 2;
        return static_cast<int16_t>(block[at] | (block[at + 1] << 8));
    }
};

bool sameState(const SynthState& a, const SynthState& b) {
    return std::memcmp(&a, &b, sizeof(SynthState)) == 0;
}

TEST(ChannelInputs, WrapAtSixteenBits) {
    ChannelInputs in = channelInputs(32767, 0);
    EXPECT_EQ(in.left, 32767);
    EXPECT_EQ(in.right, -32762);  // 32767 + 7 wraps

    in = channelInputs(-5, 0);  // the remainder keeps the sign
    EXPECT_EQ(in.left, -5);
    EXPECT_EQ(in.right, -10);

    in = channelInputs(5, -1);
    EXPECT_EQ(in.left, -6);
    EXPECT_EQ(in.right, -1);

    in = channelInputs(-32767, 32767);  // XOR reaches bit 16 and above
    EXPECT_EQ(in.left, static_cast<int16_t>(static_cast<uint16_t>(-32767 ^ 32767)));
}

TEST_F(SynthesiserTest, FirstFrameIsSilentAndStepsTheState) {
    const std::vector<uint8_t> block = fill(4);
    EXPECT_EQ(sample(block, 0, 0), 0);
    EXPECT_EQ(sample(block, 0, 1), 0);

    const SynthState& st = synthState;
    EXPECT_EQ(st.modPhase1, 0.0002494331f);
    EXPECT_EQ(st.modPhase2, static_cast<float>(4.25 / 22050.0));
    EXPECT_EQ(st.phaseA, 0.0142f);
    EXPECT_EQ(st.phaseB, 0.01f);
    EXPECT_EQ(st.outL1, 0.0f);
    EXPECT_EQ(st.outR1, 0.0f);

    // Draws 41, 18467, 6334, 26500 in the order: the byte mask, the fraction
    // of stepB, the multiple of 100 for stepA, the fraction of stepA.
    const double f1 = 18467.0 / 25058.0;
    const double stepB =
        static_cast<float>((f1 + 4100.0) + std::sin(double{0.01f}) * double{0.02f});
    const double a2 = (1442.0 / 25058.0 + 100.0) + std::sin(double{0.0142f}) * double{0.02f};
    EXPECT_EQ(st.stepA, static_cast<float>(a2));
    EXPECT_EQ(st.stepB, static_cast<float>(a2 * stepB));
    EXPECT_EQ(synthRandom.state, [] {
        RandomGenerator g;
        for (int i = 0; i < 4; ++i)
            g.draw();
        return g.state;
    }());

    EXPECT_EQ(stepResidueA.load(), 100);
    EXPECT_EQ(stepResidueB.load(), truncToInt(st.stepB * 200.0) % 480);
}

TEST_F(SynthesiserTest, TinyAndNegativeBlocksOnlyRepublish) {
    synthState.stepA = 1000.75f;
    synthState.stepB = -3.25f;
    const SynthState before = synthState;
    for (int32_t bytes : {0, 1, 2, 3}) {
        stepResidueA = 999;
        stepResidueB = 999;
        const std::vector<uint8_t> block = fill(bytes);
        for (uint8_t byte : block) {
            EXPECT_EQ(byte, 0xAB);
        }
        EXPECT_TRUE(sameState(synthState, before));
        EXPECT_EQ(stepResidueA.load(), 40);    // 1000 rem 480
        EXPECT_EQ(stepResidueB.load(), -170);  // -650 rem 480 keeps the sign
    }
    for (int32_t bytes : {-1, -4, -40000, INT32_MIN}) {
        EXPECT_EQ(fillStereoBlock(nullptr, nullptr, bytes, 0), 1);
        EXPECT_TRUE(sameState(synthState, before));
    }
    EXPECT_EQ(synthRandom.state, 1u);
}

TEST_F(SynthesiserTest, TrailingPartialFrameIsLeftAlone) {
    for (int32_t bytes : {5, 6, 7, 10, 4003}) {
        SetUp();
        const std::vector<uint8_t> block = fill(bytes);
        const int32_t whole = bytes / 4 * 4;
        for (int32_t i = whole; i < bytes; ++i) {
            EXPECT_EQ(block[static_cast<size_t>(i)], 0xAB) << bytes;
        }
        EXPECT_EQ(synthRandom.state, [&] {
            RandomGenerator g;
            for (int i = 0; i < bytes / 4 * 4; ++i)
                g.draw();  // four draws a frame
            return g.state;
        }());
    }
}

TEST_F(SynthesiserTest, BlockSizeDoesNotChangeTheMusic) {
    // One block of 40,000 bytes against the same audio in uneven blocks:
    // the sine carried between frames must equal the one computed afresh.
    const std::vector<uint8_t> whole = fill(40000);
    const SynthState wholeState = synthState;
    const int32_t wholeA = stepResidueA;
    const int32_t wholeB = stepResidueB;

    SetUp();
    std::vector<uint8_t> pieces;
    const int32_t sizes[] = {4, 8, 12, 400, 3996, 4, 20000, 15576};
    for (int32_t size : sizes) {
        const std::vector<uint8_t> block = fill(size);
        pieces.insert(pieces.end(), block.begin(), block.end());
    }
    ASSERT_EQ(pieces.size(), whole.size());
    EXPECT_EQ(pieces, whole);
    EXPECT_TRUE(sameState(synthState, wholeState));
    EXPECT_EQ(stepResidueA.load(), wholeA);
    EXPECT_EQ(stepResidueB.load(), wholeB);
}

TEST_F(SynthesiserTest, KeepsPlayingAfterStepBTurnsNaN) {
    int framesToInfinity = -1;
    for (int frame = 0; frame < 200 && framesToInfinity < 0; ++frame) {
        fill(4);
        if (std::isinf(synthState.stepB))
            framesToInfinity = frame + 1;
    }
    ASSERT_GT(framesToInfinity, 0) << "stepB should overflow within a few dozen frames";
    EXPECT_LT(framesToInfinity, 100);

    fill(4);
    EXPECT_TRUE(std::isinf(synthState.phaseB));
    EXPECT_TRUE(std::isnan(synthState.stepB));

    // From now on b is 0, so the left input is the noise alone.
    const std::vector<uint8_t> block = fill(40000);
    EXPECT_TRUE(std::isnan(synthState.stepB));
    EXPECT_TRUE(std::isnan(synthState.phaseB));
    EXPECT_EQ(stepResidueB.load(), 0);
    int nonzero = 0;
    for (size_t frame = 0; frame < 10000; ++frame) {
        nonzero += sample(block, frame, 0) != 0;
    }
    EXPECT_GT(nonzero, 5000) << "the music must go on";
    EXPECT_TRUE(std::isfinite(synthState.outL1));
    EXPECT_TRUE(std::isfinite(synthState.outR1));
}

TEST_F(SynthesiserTest, ResiduesStayInRangeOverFifteenSecondsOfAudio) {
    std::vector<uint8_t> block(40000);
    for (int i = 0; i < 33; ++i) {  // 33 blocks of 10,000 frames: about 15 s
        fillStereoBlock(nullptr, block.data(), 40000, 12345);
        EXPECT_LE(std::abs(stepResidueA.load()), 479);
        EXPECT_LE(std::abs(stepResidueB.load()), 479);
    }
    EXPECT_GT(synthState.stepA, 1e6f);
    EXPECT_GT(std::abs(synthState.phaseA), 1e9f);
}

TEST_F(SynthesiserTest, SinglePrecisionBoundsTheLongRun) {
    // Where hours of audio leave the state: the modulation phases and stepA
    // stop advancing, and the residue of stepA reads its low 32 bits.
    synthState.modPhase1 = 8192.0f;
    synthState.modPhase2 = 4096.0f;
    synthState.stepA = 4294967296.0f;  // 2^32
    synthState.phaseA = 1.0e20f;
    synthState.stepB = std::numeric_limits<float>::quiet_NaN();
    synthState.phaseB = std::numeric_limits<float>::quiet_NaN();
    fill(40000);
    EXPECT_EQ(synthState.modPhase1, 8192.0f);
    EXPECT_EQ(synthState.modPhase2, 4096.0f);
    EXPECT_EQ(synthState.stepA, 4294967296.0f);
    EXPECT_EQ(synthState.phaseA, 1.0e20f);  // each step is below half a float step
    EXPECT_EQ(stepResidueA.load(), 0);
    EXPECT_EQ(stepResidueB.load(), 0);

    // Between 2^31 and 2^32 the low 32 bits read as a negative number.
    synthState.stepA = 3.0e9f;
    fill(4000);
    EXPECT_GE(stepResidueA.load(), -479);
    EXPECT_LE(stepResidueA.load(), 0);
    EXPECT_EQ(stepResidueA.load(), truncToInt(synthState.stepA) % 480);
}

}  // namespace
