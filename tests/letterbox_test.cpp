#include "platform/letterbox.h"

#include <gtest/gtest.h>

namespace {

TEST(Letterbox, FitsTheFrameAndRoundsTheWholeFactorUp) {
    struct Case {
        int32_t width, height;
        Letterbox wanted;
    };
    const Case cases[] = {
        {640, 480, {0, 0, 640, 480, 1}},        // the demo's own mode: copied as is
        {1024, 768, {0, 0, 1024, 768, 2}},      // x1.6: doubled, then filtered down
        {1920, 1080, {240, 0, 1440, 1080, 3}},  // x2.25 between bars
        {1280, 720, {160, 0, 960, 720, 2}},     // x1.5
        {1280, 960, {0, 0, 1280, 960, 2}},      // a whole factor: plain copies
        {1280, 1024, {0, 32, 1280, 960, 2}},    // bars above and below
        {320, 240, {0, 0, 320, 240, 1}},        // smaller than the frame: filtered only
        {1, 1, {0, 0, 1, 0, 1}},                // degenerate, but no division by zero
    };
    for (const Case& c : cases) {
        const Letterbox got = letterboxFor(c.width, c.height);
        EXPECT_EQ(got.x, c.wanted.x) << c.width << "x" << c.height;
        EXPECT_EQ(got.y, c.wanted.y) << c.width << "x" << c.height;
        EXPECT_EQ(got.width, c.wanted.width) << c.width << "x" << c.height;
        EXPECT_EQ(got.height, c.wanted.height) << c.width << "x" << c.height;
        EXPECT_EQ(got.wholeFactor, c.wanted.wholeFactor) << c.width << "x" << c.height;
    }
}

}  // namespace
