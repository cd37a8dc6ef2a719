// An hour of the renderer's audio: a well-formed WAV whose every sample is
// what the synthesiser gives when called directly, block after block.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "render/audio_blocks.h"
#include "render/wav_output.h"
#include "synth/synthesiser.h"

namespace fs = std::filesystem;

TEST(RenderHour, AnHourOfAudioIsWellFormedAndMatchesTheSynthesiser) {
    const fs::path wav = fs::path(::testing::TempDir()) / "render-hour.wav";
    fs::remove(wav);
    const std::string command = std::string(RENDER_EXE) + " --pictures " + DATA_DIR +
                                " --seconds 3600 --fps 1 --wav " + wav.string() + " 2>/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;

    constexpr int64_t kFrames = int64_t{3600} * 22050;
    ASSERT_EQ(fs::file_size(wav), 44u + kFrames * 4);
    FILE* file = std::fopen(wav.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    uint8_t header[44];
    uint8_t expectedHeader[44];
    ASSERT_EQ(std::fread(header, 1, 44, file), 44u);
    ASSERT_TRUE(makeWavHeader(kFrames, expectedHeader));
    EXPECT_EQ(std::memcmp(header, expectedHeader, 44), 0);

    // The renderer's default block, 40,000 bytes, made one after another.
    resetSynthesiser();
    std::vector<uint8_t> expected(40000);
    std::vector<uint8_t> got(40000);
    int64_t left = kFrames * 4;
    int64_t offset = 0;
    while (left > 0) {
        fillStereoBlock(nullptr, expected.data(), 40000, 0);
        const size_t bytes = static_cast<size_t>(std::min<int64_t>(left, 40000));
        ASSERT_EQ(std::fread(got.data(), 1, bytes, file), bytes) << offset;
        ASSERT_EQ(std::memcmp(got.data(), expected.data(), bytes), 0) << "block at byte " << offset;
        left -= static_cast<int64_t>(bytes);
        offset += static_cast<int64_t>(bytes);
    }
    EXPECT_EQ(std::fgetc(file), EOF);
    std::fclose(file);
    fs::remove(wav);
}
