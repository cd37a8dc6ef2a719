// The browser's audio stream (platform/web/audio_stream.cpp), run natively:
// whatever the quantum, it plays the synthesiser's whole blocks through the
// upsampler sample for sample, silence only before the first block, no
// block late, and the residues of whole blocks only.
#include "platform/web/audio_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "synth/upsampler.h"

namespace {

struct Reference {
    std::vector<int16_t> output;                        // 44100 Hz, interleaved
    std::vector<std::pair<int32_t, int32_t>> residues;  // after each block
};

// Whole blocks from the synthesiser's start through one upsampler: what
// `queltravine-render --wav-rate 44100` writes.
Reference wholeBlocks(int blocks) {
    resetSynthesiser();
    Reference reference;
    Upsampler upsampler;
    resetUpsampler(upsampler);
    std::vector<int16_t> block(2 * static_cast<size_t>(kSynthBlockFrames));
    std::vector<int16_t> doubled(2 * block.size());
    for (int i = 0; i < blocks; ++i) {
        makeStereoFrames(block.data(), kSynthBlockFrames);
        reference.residues.emplace_back(stepResidueA.load(), stepResidueB.load());
        upsampleStereo(upsampler, block.data(), kSynthBlockFrames, doubled.data());
        reference.output.insert(reference.output.end(), doubled.begin(), doubled.end());
    }
    return reference;
}

struct Played {
    std::vector<int16_t> music;                         // from the first music frame on
    int silentCalls = 0;                                // calls before it
    int shortCalls = 0;                                 // calls after it with less than asked
    std::vector<std::pair<int32_t, int32_t>> residues;  // read as each block is made
    int64_t lateBlocks = 0;
    int64_t mostBlocksInOneCall = 0;
};

// Plays at least `frames` output frames, `quantum` frames a call.
Played play(int32_t quantum, size_t frames) {
    startAudioStream();
    Played played;
    std::vector<int16_t> out(2 * static_cast<size_t>(quantum));
    int64_t blocks = 0;
    while (played.music.size() < 2 * frames) {
        const int32_t music = playAudioStream(out.data(), quantum);
        if (played.music.empty() && music == 0) {
            ++played.silentCalls;
        } else {
            played.shortCalls += music < quantum ? 1 : 0;
            played.music.insert(played.music.end(), out.begin(), out.begin() + 2 * music);
        }
        if (audioStreamBlocksMade() != blocks) {
            played.mostBlocksInOneCall =
                std::max(played.mostBlocksInOneCall, audioStreamBlocksMade() - blocks);
            blocks = audioStreamBlocksMade();
            played.residues.emplace_back(stepResidueA.load(), stepResidueB.load());
        }
    }
    played.lateBlocks = audioStreamLateBlocks();
    return played;
}

TEST(WebAudioStream, EveryQuantumPlaysTheWholeBlocksThroughTheUpsampler) {
    const Reference reference = wholeBlocks(7);
    const size_t frames = 3 * 2 * static_cast<size_t>(kSynthBlockFrames) + 777;
    // The browser's quantum, odd ones (a frame carried between calls), and
    // one larger than a made-ahead slice.
    for (const int32_t quantum : {128, 1, 3, 441, 4096}) {
        const Played played = play(quantum, frames);
        ASSERT_GE(played.music.size(), 2 * frames);
        bool same = true;
        for (size_t i = 0; i < 2 * frames && same; ++i) {
            same = played.music[i] == reference.output[i];
            EXPECT_EQ(played.music[i], reference.output[i])
                << "quantum " << quantum << ", sample " << i;
        }
        EXPECT_EQ(played.shortCalls, 0) << "quantum " << quantum;
        EXPECT_EQ(played.lateBlocks, 0) << "quantum " << quantum;
        EXPECT_EQ(played.mostBlocksInOneCall, 1) << "quantum " << quantum;
        // The residues the page is given: those of whole blocks, in order.
        ASSERT_LE(played.residues.size(), reference.residues.size());
        ASSERT_GE(played.residues.size(), 4u) << "quantum " << quantum;
        for (size_t i = 0; i < played.residues.size(); ++i) {
            EXPECT_EQ(played.residues[i], reference.residues[i])
                << "quantum " << quantum << ", block " << i;
        }
    }
}

TEST(WebAudioStream, MusicStartsWithin60MillisecondsAndNeverWaitsAfter) {
    // 128-frame quanta for a minute: only the first calls, while the first
    // block is made, are silent, and every block was made ahead of its turn.
    const Played played = play(128, 60 * kAudioDeviceRate);
    EXPECT_GT(played.silentCalls, 0);
    EXPECT_LE(played.silentCalls * 128, kAudioDeviceRate * 60 / 1000);
    EXPECT_EQ(played.shortCalls, 0);
    EXPECT_EQ(played.lateBlocks, 0);
    // Made ahead by at most one block: the generator never runs away.
    const int64_t blocksPlayed =
        static_cast<int64_t>(played.music.size() / 2) / (2 * kSynthBlockFrames);
    EXPECT_LE(audioStreamBlocksMade(), blocksPlayed + 2);
}

TEST(WebAudioStream, ACallLongerThanABlockFinishesTheNextOneLateButLosesNothing) {
    // A call that plays more than a block cannot have the next one ready:
    // it is made in that call (counted), and the music stays whole.
    const Reference reference = wholeBlocks(8);
    const int32_t quantum = 2 * kSynthBlockFrames + 5000;
    const Played played = play(quantum, 3 * static_cast<size_t>(quantum));
    EXPECT_GT(played.lateBlocks, 0);
    EXPECT_EQ(played.shortCalls, 0);
    const std::vector<int16_t> want(reference.output.begin(),
                                    reference.output.begin() + 6 * quantum);
    const std::vector<int16_t> got(played.music.begin(), played.music.begin() + 6 * quantum);
    EXPECT_TRUE(got == want);
}

TEST(WebAudioStream, StartingAgainStartsTheStreamFromItsBeginning) {
    const Played first = play(128, 25000);
    const Played again = play(128, 25000);
    EXPECT_TRUE(first.music == again.music);
    EXPECT_EQ(first.silentCalls, again.silentCalls);
}

}  // namespace
