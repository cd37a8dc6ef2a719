#include "render/schedule.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "render/audio_blocks.h"
#include "render/frame_log.h"
#include "render/frame_writers.h"
#include "render/options.h"
#include "render/output_files.h"
#include "render/video_encoder.h"
#include "render/wav_output.h"
#include "tests/render_files.h"

namespace {

TEST(RenderSchedule, ClockStepsByWholeMilliseconds) {
    RenderSchedule schedule;
    schedule.fps = 60;
    EXPECT_EQ(frameClockMs(schedule, 0), 0u);
    EXPECT_EQ(frameClockMs(schedule, 1), 16u);
    EXPECT_EQ(frameClockMs(schedule, 2), 33u);
    EXPECT_EQ(frameClockMs(schedule, 3), 50u);
    EXPECT_EQ(frameClockMs(schedule, 60), 1000u);
    EXPECT_EQ(frameClockMs(schedule, 6599), 109983u);

    schedule.startMs = 1'000'000;
    EXPECT_EQ(frameClockMs(schedule, 1), 1'000'016u);
    // The counter wraps like the system's.
    schedule.startMs = 4'294'967'295u;
    EXPECT_EQ(frameClockMs(schedule, 1), 15u);

    schedule.fps = 7;
    schedule.startMs = 0;
    EXPECT_EQ(frameClockMs(schedule, 1), 142u);
    EXPECT_EQ(frameClockMs(schedule, 7), 1000u);
}

TEST(RenderSchedule, AudioRunsAheadOfEachFrame) {
    RenderSchedule schedule;
    schedule.fps = 60;
    EXPECT_EQ(audioFramesBefore(schedule, 0), 367);  // 22050 / 60 = 367.5
    EXPECT_EQ(audioFramesBefore(schedule, 1), 735);
    EXPECT_EQ(audioFramesBefore(schedule, 59), 22050);
    schedule.frames = 6600;
    EXPECT_EQ(wavFrames(schedule), 2'425'500);
    // The last frame needs exactly the audio that the WAV keeps.
    EXPECT_EQ(audioFramesBefore(schedule, schedule.frames - 1), wavFrames(schedule));
    schedule.fps = 7;
    schedule.frames = 10;
    EXPECT_EQ(wavFrames(schedule), 31500);
    EXPECT_EQ(audioFramesBefore(schedule, 9), 31500);
}

TEST(RenderSchedule, FrameCountRoundsDown) {
    EXPECT_EQ(frameCountFor(110'000'000, 60), 6600);
    EXPECT_EQ(frameCountFor(1'500'000, 25), 37);
    EXPECT_EQ(frameCountFor(16'667, 60), 1);
    EXPECT_EQ(frameCountFor(16'666, 60), 0);
    EXPECT_EQ(frameCountFor(4'350'000, 100), 435);  // 4.35 x 100 exactly
}

TEST(RenderOptions, SecondsAreExactDecimals) {
    int64_t micros = -1;
    EXPECT_TRUE(parseSeconds("110", &micros));
    EXPECT_EQ(micros, 110'000'000);
    EXPECT_TRUE(parseSeconds("2.5", &micros));
    EXPECT_EQ(micros, 2'500'000);
    EXPECT_TRUE(parseSeconds("0.000001", &micros));
    EXPECT_EQ(micros, 1);
    EXPECT_TRUE(parseSeconds(".5", &micros));
    EXPECT_EQ(micros, 500'000);
    EXPECT_TRUE(parseSeconds("10000000", &micros));
    for (const char* bad : {"", ".", "-1", "+1", "1e3", "1.1234567", "10000000.5", "10000001",
                            "99999999999999999999", "abc", "1,5", "2 "}) {
        micros = -1;
        EXPECT_FALSE(parseSeconds(bad, &micros)) << bad;
    }
}

TEST(RenderOptions, IntegersAreWholeAndInRange) {
    int64_t value = 0;
    EXPECT_TRUE(parseInteger("0", 0, 10, &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(parseInteger("4294967295", 0, 4'294'967'295, &value));
    EXPECT_EQ(value, 4'294'967'295);
    for (const char* bad :
         {"", "-5", "12x", "4294967296", "99999999999999999999999", " 1", "0x10"}) {
        EXPECT_FALSE(parseInteger(bad, 0, 4'294'967'295, &value)) << bad;
    }
    EXPECT_FALSE(parseInteger("3", 4, 100, &value));
}

TEST(WavHeader, DescribesTheStream) {
    uint8_t header[44];
    ASSERT_TRUE(makeWavHeader(10, header));
    const uint8_t expected[44] = {'R',  'I',  'F',  'F', 76,  0,   0,   0,   'W', 'A', 'V', 'E',
                                  'f',  'm',  't',  ' ', 16,  0,   0,   0,   1,   0,   2,   0,
                                  0x22, 0x56, 0,    0,  // 22050 Hz
                                  0x88, 0x58, 0x01, 0,  // 88200 bytes a second
                                  4,    0,    16,   0,   'd', 'a', 't', 'a', 40,  0,   0,   0};
    EXPECT_EQ(std::memcmp(header, expected, 44), 0);
    EXPECT_TRUE(makeWavHeader(0, header));
    EXPECT_FALSE(makeWavHeader(int64_t{1} << 30, header));  // 4 GiB of data
    EXPECT_FALSE(makeWavHeader(-1, header));
}

TEST(FrameFiles, NamesKeepTheFrameIndex) {
    EXPECT_EQ(frameFileName(0), "frame-000000.png");
    EXPECT_EQ(frameFileName(6599), "frame-006599.png");
    EXPECT_EQ(frameFileName(1234567), "frame-1234567.png");
}

TEST(VideoSettings, CodecArgumentsFollowTheChoices) {
    VideoSettings settings;
    settings.path = "show.MP4";
    const std::vector<std::string> h264 = videoCodecArguments(settings);
    const auto has = [](const std::vector<std::string>& args, const std::string& name,
                        const std::string& value) {
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == name)
                return args[i + 1] == value;
        }
        return false;
    };
    EXPECT_TRUE(has(h264, "-c:v", "libx264"));
    EXPECT_TRUE(has(h264, "-crf", std::to_string(kDefaultVideoCrf)));
    EXPECT_TRUE(has(h264, "-preset", kDefaultVideoPreset));
    EXPECT_TRUE(has(h264, "-ar", "48000"));
    EXPECT_TRUE(has(h264, "-refs", "3"));
    EXPECT_TRUE(has(h264, "-bf", "0"));
    EXPECT_TRUE(has(h264, "-colorspace", "bt709"));
    EXPECT_TRUE(has(h264, "-color_range", "tv"));
    // H.264 is handed 4:2:0 made by the renderer, 1280x960 by default.
    const std::vector<std::string> input = videoInputArguments(settings);
    EXPECT_TRUE(has(input, "-pix_fmt", "yuv420p"));
    EXPECT_TRUE(has(input, "-video_size", "1280x960"));
    EXPECT_TRUE(has(input, "-color_primaries", "bt709"));

    settings.crf = 0;
    settings.preset = "veryslow";
    EXPECT_TRUE(has(videoCodecArguments(settings), "-crf", "0"));
    EXPECT_TRUE(has(videoCodecArguments(settings), "-preset", "veryslow"));

    // Other extensions: ffmpeg's own codecs, still at 48 kHz.
    settings.path = "show.webm";
    EXPECT_EQ(videoCodecArguments(settings), (std::vector<std::string>{"-ar", "48000"}));
    EXPECT_TRUE(has(videoInputArguments(settings), "-pix_fmt", "bgr0"));

    // The master keeps the RGB frames and the 22050 Hz samples.
    settings.path = "show.mkv";
    settings.lossless = true;
    const std::vector<std::string> master = videoCodecArguments(settings);
    EXPECT_TRUE(has(master, "-c:v", "ffv1"));
    EXPECT_TRUE(has(master, "-pix_fmt", "bgr0"));
    EXPECT_TRUE(has(master, "-c:a", "flac"));
    EXPECT_FALSE(has(master, "-ar", "48000"));
    EXPECT_TRUE(has(videoInputArguments(settings), "-pix_fmt", "bgr0"));
}

TEST(FrameFiles, ScaleRepeatsEachPixel) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int i = 0; i < kScreenPixels; ++i)
        frame[i] = static_cast<Pixel>(i);
    std::vector<Pixel> scaled(static_cast<size_t>(kScreenPixels) * 9);
    scaleFrame(frame.data(), 3, scaled.data());
    const int width = kScreenWidth * 3;
    for (int y : {0, 1, 239, 479}) {
        for (int x : {0, 1, 320, 639}) {
            for (int dy = 0; dy < 3; ++dy) {
                for (int dx = 0; dx < 3; ++dx) {
                    ASSERT_EQ(scaled[static_cast<size_t>(y * 3 + dy) * width + x * 3 + dx],
                              frame[y * kScreenWidth + x]);
                }
            }
        }
    }
}

TEST(FrameFiles, PngDropsTheTopByte) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int i = 0; i < kScreenPixels; ++i)
        frame[i] = 0x9E000000u ^ static_cast<Pixel>(i * 2654435761u);
    const std::string path = ::testing::TempDir() + "png_roundtrip.png";
    std::string error;
    ASSERT_TRUE(writeFramePng(path, frame.data(), &error)) << error;
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<Pixel> back = readPng(path, &width, &height);
    ASSERT_EQ(width, 640u);
    ASSERT_EQ(height, 480u);
    for (int i = 0; i < kScreenPixels; ++i) {
        ASSERT_EQ(back[i], frame[i] & 0xFFFFFFu) << i;
    }
    std::filesystem::remove(path);

    EXPECT_FALSE(writeFramePng("/nonexistent-folder/x.png", frame.data(), &error));
    EXPECT_FALSE(error.empty());
}

// The renderer encodes frames on several threads at once: no frame may pick up
// rows of another.
TEST(FrameFiles, PngsWrittenAtOnceKeepTheirOwnPixels) {
    constexpr int kThreads = 4;
    std::vector<std::vector<Pixel>> frames(kThreads, std::vector<Pixel>(kScreenPixels));
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kScreenPixels; ++i)
            frames[t][i] = static_cast<Pixel>((i + 1) * 2654435761u * (t + 1)) & 0xFFFFFFu;
    }
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> threads;
        bool ok[kThreads] = {};
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::string error;
                ok[t] =
                    writeFramePng(::testing::TempDir() + "concurrent" + std::to_string(t) + ".png",
                                  frames[t].data(), &error);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_TRUE(ok[t]);
            const std::string path =
                ::testing::TempDir() + "concurrent" + std::to_string(t) + ".png";
            uint32_t width = 0;
            uint32_t height = 0;
            ASSERT_EQ(readPng(path, &width, &height), frames[t]) << "frame " << t;
            std::filesystem::remove(path);
        }
    }
}

// The writer skips work twice over: a frame equal to the one before is not
// encoded again, and a band of rows equal to the same band of either of the
// two frames before is not compressed again. Every file must still be, byte
// for byte, what a fresh encode of its own frame gives, and decode to it.
TEST(FrameFiles, RepeatedFramesAndBandsGiveTheFreshEncoding) {
    auto patterned = [](uint32_t seed) {
        std::vector<Pixel> frame(kScreenPixels);
        for (int i = 0; i < kScreenPixels; ++i)
            frame[i] = static_cast<Pixel>((i + seed) * 2654435761u) >> (i % 7 == 0 ? 0 : 9);
        return frame;
    };
    const std::vector<Pixel> a = patterned(1);
    const std::vector<Pixel> b = patterned(2);
    std::vector<Pixel> aWithNewStrip = a;  // a with rows 420 to 468 changed, as in scene 4
    for (int i = 420 * kScreenWidth; i < 469 * kScreenWidth; ++i)
        aWithNewStrip[i] ^= 0x00FF00FFu;
    std::vector<Pixel> bWithOneLine = b;  // one pixel in the first band and one in the last
    bWithOneLine[5] ^= 1;
    bWithOneLine[kScreenPixels - 1] ^= 0x100;
    const std::vector<const std::vector<Pixel>*> frames = {
        &a, &a, &b, &a, &aWithNewStrip, &b, &bWithOneLine, &bWithOneLine, &a, &b, &a};

    const std::string folder = ::testing::TempDir() + "png_writer_repeats/";
    std::filesystem::create_directories(folder);
    PngWriter writer;
    writer.start();
    for (size_t k = 0; k < frames.size(); ++k)
        writer.submit(folder + frameFileName(static_cast<int64_t>(k)), frames[k]->data());
    writer.finish();

    for (size_t k = 0; k < frames.size(); ++k) {
        const std::string path = folder + frameFileName(static_cast<int64_t>(k));
        std::vector<uint8_t> fresh;
        std::string error;
        ASSERT_TRUE(encodeFramePng(frames[k]->data(), &fresh, &error)) << error;
        EXPECT_EQ(readFile(path), std::string(fresh.begin(), fresh.end())) << "frame " << k;
        uint32_t width = 0;
        uint32_t height = 0;
        std::vector<Pixel> expected = *frames[k];
        for (Pixel& pixel : expected)
            pixel &= 0xFFFFFFu;
        EXPECT_EQ(readPng(path, &width, &height), expected) << "frame " << k;
    }
    std::filesystem::remove_all(folder);
}

// The frame checksum is zlib's CRC-32 of the frame's bytes in memory order,
// so that a browser build's checksums can be compared with the native ones.
TEST(FrameFiles, FrameCrcIsZlibsOverTheLittleEndianBytes) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int i = 0; i < kScreenPixels; ++i)
        frame[i] = static_cast<Pixel>(i * 2654435761u);
    std::vector<uint8_t> bytes(VirtualBackBuffer::bytes);
    for (int i = 0; i < kScreenPixels; ++i) {
        for (int b = 0; b < 4; ++b)
            bytes[static_cast<size_t>(i) * 4 + b] = static_cast<uint8_t>(frame[i] >> (8 * b));
    }
    const uLong expected =
        crc32(crc32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size()));
    EXPECT_EQ(frameCrc32(frame.data()), expected);
    char line[40];
    formatFrameCrcLine(line, sizeof line, 12, frame.data());
    char want[40];
    std::snprintf(want, sizeof want, "12 %08lx\n", expected);
    EXPECT_STREQ(line, want);
    frame[kScreenPixels - 1] ^= 0x80000000u;  // the top byte counts too
    EXPECT_NE(frameCrc32(frame.data()), expected);
}

}  // namespace
