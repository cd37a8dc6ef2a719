#include "platform/frame_copy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FrameCopy, RowsLandAtThePitchAndTheGapIsLeftAlone) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int i = 0; i < kScreenPixels; ++i) {
        frame[i] = 0xFF000000u | static_cast<Pixel>(i);
    }
    constexpr int32_t kPitch = 1024;  // a 4,096-byte surface row
    std::vector<Pixel> surface(static_cast<size_t>(kPitch) * kScreenHeight, 0xDEADBEEFu);
    copyFrameRows(frame.data(), surface.data(), kPitch);
    for (int row : {0, 1, 240, 479}) {
        for (int x : {0, 1, 639}) {
            EXPECT_EQ(surface[row * kPitch + x], frame[row * kScreenWidth + x]);
        }
        for (int x : {640, 700, 1023}) {
            EXPECT_EQ(surface[row * kPitch + x], 0xDEADBEEFu);
        }
    }
}

TEST(FrameCopy, TightPitchIsTheFrameItself) {
    std::vector<Pixel> frame(kScreenPixels);
    for (int i = 0; i < kScreenPixels; ++i) {
        frame[i] = static_cast<Pixel>(i * 2654435761u);
    }
    std::vector<Pixel> surface(kScreenPixels, 0);
    copyFrameRows(frame.data(), surface.data(), kScreenWidth);
    EXPECT_EQ(surface, frame);
}

}  // namespace
