#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/demo_types.h"

TEST(DemoTypes, BufferSizes) {
    EXPECT_EQ(VirtualBackBuffer::bytes, 1'228'800u);
    EXPECT_EQ(Picture::bytes, 1'228'800u);
    EXPECT_EQ(GreetingsStrip::pixels, 267'295);
    EXPECT_EQ(GreetingsStrip::bytes, 1'069'180u);
    EXPECT_EQ(sizeof(DisplayMode), 1u);
    EXPECT_EQ(static_cast<int>(DisplayMode::fullscreen), 0);
    EXPECT_EQ(static_cast<int>(DisplayMode::windowed), 3);
}

TEST(TruncToInt, TruncatesTowardZero) {
    EXPECT_EQ(truncToInt(0.0), 0);
    EXPECT_EQ(truncToInt(-0.0), 0);
    EXPECT_EQ(truncToInt(2.9999), 2);
    EXPECT_EQ(truncToInt(-2.9999), -2);
    EXPECT_EQ(truncToInt(-0.5), 0);
    // A sine just below 1 scaled by -1000 gives -999, never -1000.
    EXPECT_EQ(truncToInt(0.999999999999999 * -1000.0), -999);
    EXPECT_EQ(truncToInt(2147483647.9), 2147483647);
    EXPECT_EQ(truncToInt(-2147483648.9), std::numeric_limits<int32_t>::min());
}

TEST(TruncToInt, KeepsLow32BitsOfWideValues) {
    EXPECT_EQ(truncToInt(2147483648.0), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(truncToInt(4294967296.0), 0);
    EXPECT_EQ(truncToInt(4294967296.0 + 7.5), 7);
    EXPECT_EQ(truncToInt(3221225472.0), -1073741824);  // 2^31 + 2^30
    EXPECT_EQ(truncToInt(-4294967297.0), -1);
    // The largest value below 2^63 (2^63 - 1024) still converts.
    EXPECT_EQ(truncToInt(std::nextafter(9223372036854775808.0, 0.0)), -1024);
    EXPECT_EQ(truncToInt(std::ldexp(1.0, 62) + std::ldexp(1.0, 33) + std::ldexp(1.0, 31)),
              std::numeric_limits<int32_t>::min());
}

TEST(TruncToInt, OutOfRangeAndNonFiniteGiveZero) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(truncToInt(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(truncToInt(-std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(truncToInt(inf), 0);
    EXPECT_EQ(truncToInt(-inf), 0);
    EXPECT_EQ(truncToInt(9223372036854775808.0), 0);
    EXPECT_EQ(truncToInt(-9223372036854775808.0), 0);
    EXPECT_EQ(truncToInt(1e300), 0);
    EXPECT_EQ(truncToInt(-1e300), 0);
    EXPECT_EQ(truncToInt(static_cast<double>(std::numeric_limits<float>::max())), 0);
}

TEST(RandomGenerator, ClassicSequenceFromStateOne) {
    // The first draws of the classic C-runtime generator, unseeded.
    RandomGenerator generator;
    const int32_t expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int32_t value : expected) {
        EXPECT_EQ(generator.draw(), value);
    }
}

TEST(RandomGenerator, InstancesAreIndependentAndBounded) {
    RandomGenerator first;
    RandomGenerator second;
    first.draw();
    EXPECT_EQ(second.draw(), 41);
    int32_t lowest = 32767;
    int32_t highest = 0;
    for (int i = 0; i < 100000; ++i) {
        const int32_t value = first.draw();
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    EXPECT_GE(lowest, 0);
    EXPECT_LE(highest, 32767);
    EXPECT_GT(highest, 32000);
}
