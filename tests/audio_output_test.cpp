// The audio output on SDL's disk driver, which writes what the device plays
// to a file as fast as the callback fills it. Also run under ThreadSanitizer:
// the device thread fills while this thread reads the published residues.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/audio_feed.h"
#include "platform/audio_output.h"
#include "synth/synthesiser.h"

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the device should play: the synthesiser's stream from the start, in
// whole blocks, doubled by the project's upsampler from the stream's start.
std::vector<uint8_t> expectedDeviceBytes(size_t atLeast,
                                         std::set<std::pair<int32_t, int32_t>>& published) {
    synthState = {};
    synthRandom = {};
    auto feed = std::make_unique<AudioFeed>();
    resetAudioFeed(*feed);
    std::vector<uint8_t> out;
    while (out.size() < atLeast) {
        const size_t old = out.size();
        out.resize(old + kAudioFeedBlockFrames * 4);
        // One block a call.
        feedAudio(*feed, reinterpret_cast<int16_t*>(out.data() + old), kAudioFeedBlockFrames);
        published.emplace(stepResidueA.load(), stepResidueB.load());
    }
    return out;
}

TEST(AudioOutput, TwoStartsPlayOneContinuousStreamInWholeBlocks) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("queltravine-audio-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "device.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    synthState = {};
    synthRandom = {};

    startAudio();
    startAudio();  // finds the stream playing and leaves it
    // Read what the fills publish while they run, as the frame loop does.
    std::set<std::pair<int32_t, int32_t>> seen;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until) {
        seen.emplace(stepResidueA.load(std::memory_order_relaxed),
                     stepResidueB.load(std::memory_order_relaxed));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stopAudio();
    seen.erase({0, 0});
    EXPECT_GT(seen.size(), 3u);

    // One device played throughout: the file is one unbroken stream.
    std::vector<uint8_t> played = readFile(file);
    std::filesystem::remove_all(folder);
    // A device being closed may write one last buffer of silence after the
    // final fill; what matters is the sound before it.
    const auto lastSound =
        std::find_if(played.rbegin(), played.rend(), [](uint8_t b) { return b != 0; });
    played.resize((played.size() - static_cast<size_t>(lastSound - played.rbegin()) + 3) / 4 * 4);
    std::set<std::pair<int32_t, int32_t>> published;
    const std::vector<uint8_t> expected = expectedDeviceBytes(played.size() + 400000, published);
    // Residues change only at the ends of whole 40,000-byte blocks.
    for (const auto& pair : seen) {
        EXPECT_TRUE(published.contains(pair)) << pair.first << ", " << pair.second;
    }
    // A device plays whole buffers of silence (1024 frames) until it is
    // unpaused; then the stream from its very start, the upsampler's lag
    // included, as the renderer's 44100 Hz WAV has it.
    const auto firstSound = [](const std::vector<uint8_t>& bytes) {
        return static_cast<size_t>(
            std::find_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }) -
            bytes.begin());
    };
    ASSERT_GE(firstSound(played), firstSound(expected));
    const size_t silence = firstSound(played) - firstSound(expected);
    EXPECT_EQ(silence % 4096, 0u) << silence;
    played.erase(played.begin(), played.begin() + static_cast<std::ptrdiff_t>(silence));
    ASSERT_GT(played.size(), 200000u);
    ASSERT_LE(played.size(), expected.size());
    size_t same = 0;
    while (same < played.size() && played[same] == expected[same]) {
        ++same;
    }
    EXPECT_EQ(same, played.size()) << "the device's sound left the stream after " << same << " of "
                                   << played.size() << " bytes";
    const auto loud = std::count_if(played.begin(), played.end(), [](uint8_t b) { return b != 0; });
    EXPECT_GT(loud, static_cast<long>(played.size() / 4));
}

}  // namespace
