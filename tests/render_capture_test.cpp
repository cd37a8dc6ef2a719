// What the renderer makes of frames for others to see: the 4:2:0 frames
// handed to the H.264 encoder, and the flash count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "render/flash_report.h"
#include "render/yuv_frame.h"
#include "scenes/flash_limiter.h"

namespace {

Pixel rgb(int r, int g, int b) {
    return 0xFF000000u | static_cast<Pixel>(r << 16 | g << 8 | b);
}

struct Yuv {
    std::vector<uint8_t> bytes;
    int width;
    int height;
    uint8_t luma(int x, int y) const { return bytes[static_cast<size_t>(y) * width + x]; }
    uint8_t cb(int x, int y) const {
        return bytes[static_cast<size_t>(width) * height + static_cast<size_t>(y) * (width / 2) +
                     x];
    }
    uint8_t cr(int x, int y) const {
        return bytes[static_cast<size_t>(width) * height * 5 / 4 +
                     static_cast<size_t>(y) * (width / 2) + x];
    }
};

Yuv convert(const std::vector<Pixel>& frame, int scale) {
    Yuv yuv{std::vector<uint8_t>(yuv420FrameBytes(scale)), kScreenWidth * scale,
            kScreenHeight * scale};
    convertFrameToYuv420(frame.data(), scale, yuv.bytes.data());
    return yuv;
}

// The BT.709 limited-range values every player expects for these colours.
TEST(YuvFrames, ColoursGetTheirBt709Values) {
    struct Case {
        Pixel colour;
        int y, cb, cr;
    };
    const Case cases[] = {{rgb(0, 0, 0), 16, 128, 128},        {rgb(255, 255, 255), 235, 128, 128},
                          {rgb(128, 128, 128), 126, 128, 128}, {rgb(255, 0, 0), 63, 102, 240},
                          {rgb(0, 255, 0), 173, 42, 26},       {rgb(0, 0, 255), 32, 240, 118}};
    for (const Case& c : cases) {
        for (int scale : {1, 2, 3}) {
            const Yuv yuv = convert(std::vector<Pixel>(kScreenPixels, c.colour), scale);
            EXPECT_EQ(yuv.luma(5, 7), c.y) << std::hex << c.colour << " scale " << scale;
            EXPECT_EQ(yuv.cb(5, 7), c.cb) << std::hex << c.colour << " scale " << scale;
            EXPECT_EQ(yuv.cr(5, 7), c.cr) << std::hex << c.colour << " scale " << scale;
        }
    }
}

// Enlarged by an even factor, neighbouring pixels of different colours
// keep their own chroma: nothing is mixed across a pixel's edge. At 1 and 3
// a block takes the average of the pixels it covers.
TEST(YuvFrames, ChromaComesFromEachBlockOnly) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x)
            frame[y * kScreenWidth + x] = (x + y) % 2 == 0 ? rgb(255, 0, 0) : rgb(0, 0, 255);
    }
    const Yuv two = convert(frame, 2);
    EXPECT_EQ(two.cr(0, 0), 240);  // red
    EXPECT_EQ(two.cr(1, 0), 118);  // blue
    EXPECT_EQ(two.cb(1, 1), 102);  // red again
    EXPECT_EQ(two.luma(2, 0), 32);
    EXPECT_EQ(two.luma(3, 1), 32);
    const Yuv four = convert(frame, 4);
    EXPECT_EQ(four.cr(0, 0), 240);
    EXPECT_EQ(four.cr(1, 1), 240);
    EXPECT_EQ(four.cr(2, 0), 118);

    // Two red and two blue pixels in every block: the average of the two.
    const Yuv one = convert(frame, 1);
    EXPECT_EQ(one.cb(10, 10), (102 + 240 + 1) / 2);
    EXPECT_EQ(one.cr(10, 10), (240 + 118 + 1) / 2);
    EXPECT_EQ(one.luma(0, 0), 63);
    EXPECT_EQ(one.luma(1, 0), 32);
}

// The fast path for even factors makes the same bytes as the per-pixel loop.
TEST(YuvFrames, FastPathMatchesThePerPixelLoop) {
    std::mt19937 random(7);
    std::vector<Pixel> frame(kScreenPixels);
    for (Pixel& p : frame)
        p = random();
    for (int scale = 1; scale <= 8; ++scale) {
        std::vector<uint8_t> fast(yuv420FrameBytes(scale), 0xAA);
        std::vector<uint8_t> plain(yuv420FrameBytes(scale), 0x55);
        convertFrameToYuv420(frame.data(), scale, fast.data());
        convertFrameToYuv420Straightforward(frame.data(), scale, plain.data());
        ASSERT_EQ(fast, plain) << "scale " << scale;
    }
}

// 4:4:4 carries what 4:2:0 at an even scale carries, without the 2x2
// blocks: the same luma, and each pixel the chroma of its block.
TEST(YuvFrames, FourFourFourHasEveryPixelsOwnChroma) {
    std::vector<Pixel> frame(kScreenPixels);
    std::mt19937 random(7);
    for (Pixel& p : frame)
        p = random() | 0xFF000000u;
    std::vector<uint8_t> full(yuv444FrameBytes(2));
    std::vector<uint8_t> blocks(yuv420FrameBytes(2));
    convertFrameToYuv444(frame.data(), 2, full.data());
    convertFrameToYuv420(frame.data(), 2, blocks.data());
    const size_t width = 1280;
    const size_t plane = width * 960;
    ASSERT_TRUE(std::equal(blocks.begin(), blocks.begin() + plane, full.begin()));
    for (size_t y = 0; y < 960; ++y) {
        for (size_t x = 0; x < width; ++x) {
            const size_t block = plane + (y / 2) * (width / 2) + x / 2;
            ASSERT_EQ(full[plane + y * width + x], blocks[block]) << x << "," << y;
            ASSERT_EQ(full[2 * plane + y * width + x], blocks[block + plane / 4]) << x << "," << y;
        }
    }
}

// A run of frames for the flash count: `frameAt(k)` gives frame k.
template <typename FrameAt>
std::vector<FlashSecond> countFlashes(int fps, int64_t frames, FrameAt frameAt,
                                      int64_t firstFrame = 0) {
    startFlashAnalysis(fps, firstFrame, frames);
    std::vector<Pixel> frame(kScreenPixels);
    for (int64_t k = 0; k < frames; ++k) {
        frameAt(k, frame);
        analyseFlashFrame(frame.data());
    }
    return flashSeconds();
}

// Frames of `off` with a rectangle of `on` in the frames where lit(k) holds.
auto blinking(Pixel off, Pixel on, int width, int height, bool (*lit)(int64_t)) {
    return [=](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), off);
        if (!lit(k))
            return;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                frame[(y + 100) * kScreenWidth + x + 200] = on;
        }
    };
}

// Three full-frame flashes in the first second, four in the second: the
// first passes, the second does not.
bool threeThenFour(int64_t k) {
    const int64_t f = k % 60;
    if (k < 60)
        return (f >= 10 && f < 15) || (f >= 30 && f < 35) || (f >= 50 && f < 55);
    return (f >= 5 && f < 10) || (f >= 20 && f < 25) || (f >= 35 && f < 40) || (f >= 50 && f < 55);
}

TEST(FlashReport, CountsFullFrameFlashesPerSecond) {
    const auto seconds = countFlashes(60, 120, [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), threeThenFour(k) ? rgb(255, 255, 255) : rgb(0, 0, 0));
    });
    ASSERT_EQ(seconds.size(), 2u);
    EXPECT_EQ(seconds[0].generalTransitions, 6);
    EXPECT_TRUE(seconds[0].passes);
    EXPECT_EQ(seconds[1].generalTransitions, 8);
    EXPECT_FALSE(seconds[1].passes);
    EXPECT_EQ(seconds[0].redTransitions, 0);

    const std::string report = formatFlashReport(seconds);
    EXPECT_NE(report.find("\n0 3 0 pass\n1 4 0 fail\n"), std::string::npos) << report;
    EXPECT_NE(report.find("# 1 of 2 seconds fail"), std::string::npos) << report;
}

// A report from a later frame (--from) says of each second it covers what
// the whole report says, though its first frame is itself a change.
TEST(FlashReport, StartingLaterGivesTheWholeReportsSeconds) {
    const auto frameAt = [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), threeThenFour(k) ? rgb(255, 255, 255) : rgb(0, 0, 0));
    };
    const auto whole = countFlashes(60, 180, frameAt);
    const auto part = countFlashes(60, 180, frameAt, 65);
    ASSERT_EQ(whole.size(), 3u);
    ASSERT_EQ(part.size(), 2u);
    EXPECT_EQ(formatFlashReport(part), formatFlashReport({whole[1], whole[2]}));
}

// Flashing every frame at 60 frames a second: 59 transitions in the first
// second (the first frame only sets the start), 60 in every other.
TEST(FlashReport, FrameRateFlickerFailsEverySecond) {
    const auto seconds = countFlashes(60, 180, [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), k % 2 == 0 ? rgb(0, 0, 0) : rgb(200, 200, 200));
    });
    ASSERT_EQ(seconds.size(), 3u);
    EXPECT_EQ(seconds[0].generalTransitions, 59);
    EXPECT_EQ(seconds[2].generalTransitions, 60);
    for (const FlashSecond& s : seconds)
        EXPECT_FALSE(s.passes);
    EXPECT_NE(formatFlashReport(seconds).find("\n0 29.5 0 fail\n"), std::string::npos);
}

// A flashing area counts only when a quarter of a 10-degree field (8525
// pixels within some 213x160 area) changes together.
TEST(FlashReport, SmallAreasAreNotCounted) {
    const auto every10 = [](int64_t k) { return k % 20 >= 10; };
    const Pixel black = rgb(0, 0, 0);
    const Pixel white = rgb(255, 255, 255);
    auto small = countFlashes(60, 60, blinking(black, white, 92, 92, every10));  // 8,464
    EXPECT_EQ(small[0].generalTransitions, 0);
    EXPECT_TRUE(small[0].passes);
    auto large = countFlashes(60, 60, blinking(black, white, 93, 93, every10));  // 8,649
    EXPECT_EQ(large[0].generalTransitions, 5);

    // Two areas of 6,000 pixels each, too far apart to share a field.
    auto apart = countFlashes(60, 60, [&](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), black);
        if (!every10(k))
            return;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 100; ++x) {
                frame[y * kScreenWidth + x] = white;
                frame[(y + 400) * kScreenWidth + x + 520] = white;
            }
        }
    });
    EXPECT_EQ(apart[0].generalTransitions, 0);
}

// Patterns finer than 0.1 degree flash for no one however they change;
// coarse ones do, and an area rising while another falls is one transition.
TEST(FlashReport, FinePatternsDoNotFlashCoarseOnesDo) {
    const Pixel black = rgb(0, 0, 0);
    const Pixel white = rgb(255, 255, 255);
    const auto checkerboard = [=](int square) {
        return [=](int64_t k, std::vector<Pixel>& frame) {
            for (int y = 0; y < kScreenHeight; ++y) {
                for (int x = 0; x < kScreenWidth; ++x)
                    frame[y * kScreenWidth + x] =
                        (x / square + y / square + k) % 2 == 0 ? white : black;
            }
        };
    };
    uint32_t seed = 12345;
    const auto noise = [&](int64_t, std::vector<Pixel>& frame) {
        for (Pixel& p : frame) {
            seed = seed * 1664525u + 1013904223u;
            p = (seed >> 31) != 0 ? white : black;
        }
    };
    const auto halves = [=](int64_t k, std::vector<Pixel>& frame) {
        for (int i = 0; i < kScreenPixels; ++i)
            frame[i] = ((i % kScreenWidth < kScreenWidth / 2) == (k % 2 == 0)) ? white : black;
    };
    struct Case {
        const char* name;
        std::function<void(int64_t, std::vector<Pixel>&)> frameAt;
        int transitionsInSecondOne;
    };
    const Case cases[] = {
        {"white noise, new every frame", noise, 0},
        {"one-pixel checkerboard inverting every frame", checkerboard(1), 0},
        {"two-pixel checkerboard (0.09 degrees)", checkerboard(2), 0},
        {"32-pixel checkerboard inverting", checkerboard(32), 10},
        {"left half rising as the right falls", halves, 10},
    };
    // At 10 frames a second: every frame of the second second changes.
    for (const Case& c : cases) {
        const auto seconds = countFlashes(10, 20, c.frameAt);
        EXPECT_EQ(seconds[1].generalTransitions, c.transitionsInSecondOne) << c.name;
    }
}

// The limited show passes the report, counted afresh over the frames it
// shows; frames within the budget are shown as composed, byte for byte.
TEST(FlashLimiter, ShownFramesPassAndFramesWithinTheBudgetAreUntouched) {
    const Pixel black = rgb(0, 0, 0);
    const Pixel white = rgb(255, 255, 255);
    const auto fill = [](Pixel colour) {
        return [=](int64_t, std::vector<Pixel>& frame) {
            std::fill(frame.begin(), frame.end(), colour);
        };
    };
    struct Case {
        const char* name;
        std::function<void(int64_t, std::vector<Pixel>&)> frameAt;
        int64_t untouchedFrames;  // from the start
    };
    const Case cases[] = {
        {"full-frame flicker every frame",
         [&](int64_t k, std::vector<Pixel>& f) { fill(k % 2 == 0 ? black : white)(k, f); }, 7},
        {"a flash a second, within the budget",
         [&](int64_t k, std::vector<Pixel>& f) { fill(k % 10 == 0 ? white : black)(k, f); }, 30},
        {"saturated red against grey every other frame",
         [&](int64_t k, std::vector<Pixel>& f) {
             fill(k % 2 == 0 ? rgb(255, 0, 0) : rgb(127, 127, 127))(k, f);
         },
         7},
        // Once the general budget is spent, the red flashes that start later
        // are still counted against their own.
        {"flicker on the left, red against grey on the right from frame 9",
         [&](int64_t k, std::vector<Pixel>& f) {
             const Pixel red = k >= 9 && k % 2 == 1 ? rgb(255, 0, 0) : rgb(127, 127, 127);
             for (int i = 0; i < kScreenPixels; ++i)
                 f[static_cast<size_t>(i)] =
                     i % kScreenWidth < kScreenWidth / 2 ? (k % 2 == 0 ? black : white) : red;
         },
         7},
    };
    constexpr int kFps = 10;
    for (const Case& c : cases) {
        startFlashLimiter(kFps);
        std::vector<std::vector<Pixel>> shown;
        std::vector<Pixel> frame(kScreenPixels);
        for (int64_t k = 0; k < 3 * kFps; ++k) {
            c.frameAt(k, frame);
            const Pixel* out = limitFlashes(frame.data(), k, nullptr);
            shown.emplace_back(out, out + kScreenPixels);
            if (k < c.untouchedFrames) {
                EXPECT_EQ(shown.back(), frame) << c.name << ", frame " << k;
            }
        }
        const auto seconds = countFlashes(kFps, 3 * kFps, [&](int64_t k, std::vector<Pixel>& f) {
            f = shown[static_cast<size_t>(k)];
        });
        for (const FlashSecond& s : seconds)
            EXPECT_TRUE(s.passes) << c.name << ", second " << s.second;
    }
}

// The closeness of a reduced render: one frame in a second shown 10 levels
// off in every channel is a sixth of the pixels changed at 6 fps, and at
// 60 fps, averaged over its 10-frame stretch, a mean difference of 1.
TEST(FlashReport, ClosenessAveragesOverASixthOfASecond) {
    struct Case {
        int fps;
        double psnr;  // 10 log10(255^2 / (the stretch's error / 6 stretches))
    } const cases[] = {{6, 10.0 * std::log10(65025.0 * 6.0 / 100.0)},
                       {60, 10.0 * std::log10(65025.0 * 6.0 / 1.0)}};
    for (const Case& c : cases) {
        startFlashAnalysis(c.fps, 0, 2 * c.fps);
        const std::vector<Pixel> composed(kScreenPixels, rgb(100, 100, 100));
        const std::vector<Pixel> off(kScreenPixels, rgb(110, 110, 110));
        for (int k = 0; k < 2 * c.fps; ++k) {
            recordFlashFrame({});
            recordShownFrame(composed.data(), k == 2 ? off.data() : composed.data());
        }
        const auto seconds = flashSeconds();
        ASSERT_EQ(seconds.size(), 2u);
        EXPECT_NEAR(seconds[0].changedShare, 1.0 / c.fps, 1e-12) << c.fps;
        EXPECT_NEAR(seconds[0].psnr, c.psnr, 1e-9) << c.fps;
        EXPECT_EQ(seconds[1].changedShare, 0.0);
        EXPECT_TRUE(std::isinf(seconds[1].psnr));
        const std::string report = formatFlashReport(seconds, true);
        EXPECT_NE(report.find("\n1 0 0 pass 0.00 inf\n"), std::string::npos) << report;
    }
}

// Changes between light states (the darker one at 0.8 or above) are no
// general flash, however large.
TEST(FlashReport, LightStatesDoNotFlash) {
    // sRGB 240 is a relative luminance of 0.87.
    auto light = countFlashes(60, 60, [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), k % 2 == 0 ? rgb(255, 255, 255) : rgb(240, 240, 240));
    });
    EXPECT_EQ(light[0].generalTransitions, 0);
}

// Saturated red against a grey of the same luminance: no general flash, but
// red flashes. A pink that is not saturated (R / (R + G + B) below 0.8)
// makes neither.
TEST(FlashReport, SaturatedRedFlashes) {
    // sRGB 127 grey is a relative luminance of 0.212, pure red of 0.2126.
    auto red = countFlashes(60, 60, [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(), k % 15 == 0 ? rgb(255, 0, 0) : rgb(127, 127, 127));
    });
    EXPECT_EQ(red[0].generalTransitions, 0);
    EXPECT_EQ(red[0].redTransitions, 7);  // red at 0, 15, 30 and 45: seven changes
    EXPECT_FALSE(red[0].passes);
    EXPECT_NE(formatFlashReport(red).find("\n0 0 3.5 fail\n"), std::string::npos);

    // Pink (255, 100, 100) against the grey of its luminance, sRGB 151.
    auto pink = countFlashes(60, 60, [](int64_t k, std::vector<Pixel>& frame) {
        std::fill(frame.begin(), frame.end(),
                  k % 15 == 0 ? rgb(255, 100, 100) : rgb(151, 151, 151));
    });
    EXPECT_EQ(pink[0].generalTransitions, 0);
    EXPECT_EQ(pink[0].redTransitions, 0);
    EXPECT_TRUE(pink[0].passes);
}

}  // namespace
