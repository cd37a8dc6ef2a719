// The audio output on SDL's disk driver, which writes what the device plays
// to a file as fast as the callback fills it. Also run under ThreadSanitizer:
// the device thread fills while this thread reads the published residues.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/audio_output.h"
#include "synth/synthesiser.h"

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the device should play: the synthesiser's stream from the start, in
// whole blocks, converted to the device rate.
std::vector<uint8_t> expectedDeviceBytes(size_t atLeast,
                                         std::set<std::pair<int32_t, int32_t>>& published) {
    synthState = {};
    synthRandom = {};
    SDL_AudioStream* converter =
        SDL_NewAudioStream(AUDIO_S16LSB, 2, kAudioRate, AUDIO_S16LSB, 2, kAudioDeviceRate);
    std::vector<uint8_t> block(kAudioBlockBytes);
    std::vector<uint8_t> out;
    while (out.size() < atLeast) {
        fillStereoBlock(nullptr, block.data(), kAudioBlockBytes, kAudioUserValue);
        published.emplace(stepResidueA.load(), stepResidueB.load());
        SDL_AudioStreamPut(converter, block.data(), kAudioBlockBytes);
        const int available = SDL_AudioStreamAvailable(converter);
        const size_t old = out.size();
        out.resize(old + static_cast<size_t>(available));
        SDL_AudioStreamGet(converter, out.data() + old, available);
    }
    SDL_FreeAudioStream(converter);
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
    // A device plays silence until it is unpaused.
    const auto sound = std::find_if(played.begin(), played.end(), [](uint8_t b) { return b != 0; });
    played.erase(played.begin(), played.begin() + (sound - played.begin()) / 4 * 4);
    // A device being closed may write one last buffer of silence after the
    // final fill; what matters is the sound before it.
    const auto lastSound =
        std::find_if(played.rbegin(), played.rend(), [](uint8_t b) { return b != 0; });
    played.resize((played.size() - static_cast<size_t>(lastSound - played.rbegin()) + 3) / 4 * 4);
    ASSERT_GT(played.size(), 200000u);
    std::set<std::pair<int32_t, int32_t>> published;
    const std::vector<uint8_t> expected = expectedDeviceBytes(played.size() + 400000, published);
    // Residues change only at the ends of whole 40,000-byte blocks.
    for (const auto& pair : seen) {
        EXPECT_TRUE(published.contains(pair)) << pair.first << ", " << pair.second;
    }
    const auto head = played.begin() + 4096;
    auto at = expected.begin();
    for (;;) {
        at = std::search(at, expected.end(), played.begin(), head);
        ASSERT_NE(at, expected.end()) << "the device's sound is not the synthesiser's stream";
        if ((at - expected.begin()) % 4 == 0) {
            break;
        }
        ++at;
    }
    const size_t offset = static_cast<size_t>(at - expected.begin());
    ASSERT_LE(offset + played.size(), expected.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), expected.begin() + offset))
        << "the stream broke off after " << offset << " bytes";
    const auto loud = std::count_if(played.begin(), played.end(), [](uint8_t b) { return b != 0; });
    EXPECT_GT(loud, static_cast<long>(played.size() / 4));
}

}  // namespace
