// The flash tracker's per-pixel step (flash_tracker.cpp), in one call per
// stretch of pixels: every pixel's luminance and red courses moved on by one
// frame's values, and the pixels that make a transition marked. Written once
// for W lanes (flash_course_kernel.h) and built once per instruction set;
// every width gives the same courses and marks as the one-lane copy.
#pragma once

#include <cstdint>

// A pixel's relative luminance, redness ((R - G - B) x 320, at least 0) and
// whether it is saturated red (R / (R + G + B) of 0.8 or more: -1, else 0),
// from `linear`, the sRGB transfer of each channel value kept as float.
// Every kernel measures exactly this way, a register's width at a time.
inline void measureFlashPixel(uint32_t pixel, const float* linear, float* luminance, float* redness,
                              int32_t* saturated) {
    const double r = linear[(pixel >> 16) & 0xFF];  // the top byte is never shown
    const double g = linear[(pixel >> 8) & 0xFF];
    const double b = linear[pixel & 0xFF];
    *luminance = static_cast<float>(0.2126 * r + 0.7152 * g + 0.0722 * b);
    const double red = (r - g - b) * 320.0;
    *redness = static_cast<float>(red > 0.0 ? red : 0.0);
    *saturated = red > 0.0 && r / (r + g + b) >= 0.8 ? -1 : 0;
}

// Which way each course last changed, and whether the red peak is saturated.
inline constexpr uint8_t kLumaRising = 1;
inline constexpr uint8_t kLumaFalling = 2;
inline constexpr uint8_t kRedRising = 4;
inline constexpr uint8_t kRedFalling = 8;
inline constexpr uint8_t kRedPeakSaturated = 16;

// Every pixel's courses: the lowest and highest values since its last
// transition of each kind, and its flags above. A rising course looks for a
// fall from its peak, a falling one for a rise from its valley.
struct FlashCourses {
    float* lumaLow;
    float* lumaHigh;
    float* redLow;
    float* redHigh;
    uint8_t* flags;
};

// Pixels [begin, end) (a whole number of 16) of `frame`, measured, and
// their courses followed: `before` is read, `after` written (they never
// overlap); the marks are 1 where a pixel makes a transition (general rise,
// general fall, red rise, red fall) and `marked` gets how many of each.
struct FlashCourseSpan {
    const uint32_t* frame;
    const float* linear;
    const FlashCourses* before;
    const FlashCourses* after;
    uint8_t* const* marks;
    int begin;
    int end;
    int32_t marked[4];
};

void followFlashCoursesPortable(FlashCourseSpan& span);
void followFlashCoursesSse2(FlashCourseSpan& span);
void followFlashCoursesWasm(FlashCourseSpan& span);
void followFlashCoursesAvx2(FlashCourseSpan& span);
void followFlashCoursesAvx512(FlashCourseSpan& span);
