// The native players' feed of the 44100 Hz device (platform/audio_feed) and
// the retry policy for a device lost while playing (platform/device_retry.h).
// That the feed equals the renderer's 44100 Hz WAV is checked in
// render_cli_test.cpp, against the real program.
#include "platform/audio_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/device_retry.h"
#include "synth/synthesiser.h"

namespace {

// The stream from its start, doubled block by block as the renderer does it.
std::vector<int16_t> wholeBlocksDoubled(int blocks) {
    resetSynthesiser();
    Upsampler upsampler;
    resetUpsampler(upsampler);
    std::vector<int16_t> block(2 * static_cast<size_t>(kSynthBlockFrames));
    std::vector<int16_t> out(2 * static_cast<size_t>(kAudioFeedBlockFrames) * blocks);
    for (int b = 0; b < blocks; ++b) {
        makeStereoFrames(block.data(), kSynthBlockFrames);
        upsampleStereo(upsampler, block.data(), kSynthBlockFrames,
                       out.data() + 2 * static_cast<size_t>(kAudioFeedBlockFrames) * b);
    }
    return out;
}

bool sameSynthState(const SynthState& a, const SynthState& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(AudioFeed, RequestsOfAnySizeGiveTheStreamDoubledFromItsStart) {
    const std::vector<int16_t> expected = wholeBlocksDoubled(4);
    resetSynthesiser();
    auto feed = std::make_unique<AudioFeed>();
    resetAudioFeed(*feed);
    std::vector<int16_t> got(expected.size());
    // Odd sizes, the devices' 1024 and 2048, and more than a block at once.
    const int32_t sizes[] = {1, 1024, 2048, 25001, 7};
    size_t done = 0;  // frames
    const size_t total = expected.size() / 2;
    for (int call = 0; done < total; ++call) {
        const int32_t frames =
            static_cast<int32_t>(std::min<size_t>(sizes[call % 5], total - done));
        feedAudio(*feed, got.data() + 2 * done, frames);
        done += static_cast<size_t>(frames);
    }
    EXPECT_EQ(got, expected);
    // The lag of the upsampler is played from the stream's start: the first
    // stream frame comes out as device frame 2 x kUpsamplerHalfTaps.
    resetSynthesiser();
    std::vector<int16_t> block(2 * static_cast<size_t>(kSynthBlockFrames));
    makeStereoFrames(block.data(), kSynthBlockFrames);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(got[2 * (2 * kUpsamplerHalfTaps + 2 * i)], block[2 * i]) << i;
        ASSERT_EQ(got[2 * (2 * kUpsamplerHalfTaps + 2 * i) + 1], block[2 * i + 1]) << i;
    }
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[1], 0);
}

TEST(AudioFeed, MakesABlockOnlyWhenTheDeviceAsksBeyondTheLast) {
    // The state after one and after two blocks.
    resetSynthesiser();
    std::vector<int16_t> scratch(2 * static_cast<size_t>(kSynthBlockFrames));
    makeStereoFrames(scratch.data(), kSynthBlockFrames);
    const SynthState afterOne = synthState;
    const int32_t residueA = stepResidueA.load();
    const int32_t residueB = stepResidueB.load();
    makeStereoFrames(scratch.data(), kSynthBlockFrames);
    const SynthState afterTwo = synthState;

    resetSynthesiser();
    auto feed = std::make_unique<AudioFeed>();
    resetAudioFeed(*feed);
    EXPECT_TRUE(sameSynthState(synthState, SynthState{}));  // nothing made ahead
    std::vector<int16_t> out(2 * static_cast<size_t>(kAudioFeedBlockFrames));
    feedAudio(*feed, out.data(), 1);
    EXPECT_TRUE(sameSynthState(synthState, afterOne));
    EXPECT_EQ(stepResidueA.load(), residueA);
    EXPECT_EQ(stepResidueB.load(), residueB);
    // The rest of the block's 20,000 device frames come from it.
    feedAudio(*feed, out.data(), kAudioFeedBlockFrames - 1);
    EXPECT_TRUE(sameSynthState(synthState, afterOne));
    feedAudio(*feed, out.data(), 1);
    EXPECT_TRUE(sameSynthState(synthState, afterTwo));
}

TEST(DeviceRetry, NothingIsDueWhileTheDevicePlays) {
    DeviceRetry retry(5000);
    EXPECT_FALSE(retry.missing());
    EXPECT_FALSE(retry.due(5000));
    EXPECT_FALSE(retry.due(100000));
    EXPECT_EQ(retry.waitMs(100000), 0u);
}

TEST(DeviceRetry, ALostDeviceIsTriedAgainAboutOnceASecond) {
    DeviceRetry retry(1000);  // opened at 1 s
    retry.lost();
    // Long after the open: the first attempt is due at once.
    ASSERT_TRUE(retry.due(60000));
    retry.attempted(60000, false);
    EXPECT_TRUE(retry.missing());
    EXPECT_FALSE(retry.due(60001));
    EXPECT_FALSE(retry.due(60999));
    EXPECT_EQ(retry.waitMs(60250), 750u);
    EXPECT_TRUE(retry.due(61000));
    EXPECT_EQ(retry.waitMs(61000), 0u);
    // A late wake-up still tries once, then waits a second from then.
    retry.attempted(61700, false);
    EXPECT_FALSE(retry.due(62600));
    EXPECT_TRUE(retry.due(62700));
    retry.attempted(62700, true);
    EXPECT_FALSE(retry.missing());
    EXPECT_FALSE(retry.due(70000));
    EXPECT_EQ(retry.attempts(), 3);
}

TEST(DeviceRetry, ADeviceThatComesAndGoesIsNotOpenedInATightLoop) {
    DeviceRetry retry(1000);
    retry.lost();
    // Lost within a second of being opened: the attempt waits for the second.
    EXPECT_FALSE(retry.due(1200));
    EXPECT_EQ(retry.waitMs(1200), 800u);
    ASSERT_TRUE(retry.due(2000));
    retry.attempted(2000, true);
    retry.lost();  // gone again at once
    EXPECT_EQ(retry.attempts(), 0);
    EXPECT_FALSE(retry.due(2010));
    EXPECT_TRUE(retry.due(3000));
}

TEST(DeviceRetry, ADeviceThatHandsNothingBackForTwoSecondsIsStalled) {
    EXPECT_FALSE(deviceStalled(10000, 10000));
    EXPECT_FALSE(deviceStalled(10000, 11999));
    EXPECT_TRUE(deviceStalled(10000, 12000));
}

}  // namespace
