#include "render/flash_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kLuminanceChange = 0.1;
constexpr double kDarkerBelow = 0.8;
constexpr double kRedChange = 20.0;
constexpr double kSaturatedRed = 0.8;
constexpr int kTransitionsAllowed = 6;  // three flashes

enum Trend : int8_t { kNone = 0, kRising = 1, kFalling = -1 };

// One pixel's course: the lowest and highest values since its last
// transition, and which way that transition went. A rising pixel looks for
// a fall from its peak, a falling one for a rise from its valley.
struct Course {
    std::vector<float> low;
    std::vector<float> high;
    std::vector<int8_t> trend;
    std::vector<uint8_t> highSaturated;  // red: whether the peak was saturated red
};

struct Analysis {
    int32_t fps = 60;
    int64_t firstFrame = 0;
    int64_t next = 0;  // frames taken so far
    Course luminance;
    Course red;
    std::vector<Pixel> previous;
    // Which pixels changed which way in the current frame: general rise,
    // general fall, red rise, red fall.
    std::vector<uint8_t> changed[4];
    std::vector<int32_t> areaTable;  // summed-area table, (width + 1) x (height + 1)
    std::vector<uint8_t> generalPerFrame;
    std::vector<uint8_t> redPerFrame;
    float linear[256];
};

Analysis analysis;

void resetCourse(Course& course) {
    course.low.assign(kScreenPixels, 0.0f);
    course.high.assign(kScreenPixels, 0.0f);
    course.trend.assign(kScreenPixels, kNone);
    course.highSaturated.assign(kScreenPixels, 0);
}

// True when some 213x160 area of the mask holds at least a quarter-field
// of changed pixels.
bool coversQuarterField(const uint8_t* mask) {
    constexpr int stride = kScreenWidth + 1;
    int32_t* table = analysis.areaTable.data();
    for (int y = 0; y < kScreenHeight; ++y) {
        int32_t rowSum = 0;
        for (int x = 0; x < kScreenWidth; ++x) {
            rowSum += mask[y * kScreenWidth + x];
            table[(y + 1) * stride + x + 1] = table[y * stride + x + 1] + rowSum;
        }
    }
    for (int y = 0; y + kFlashFieldHeight <= kScreenHeight; ++y) {
        const int32_t* top = table + y * stride;
        const int32_t* bottom = table + (y + kFlashFieldHeight) * stride;
        for (int x = 0; x + kFlashFieldWidth <= kScreenWidth; ++x) {
            const int32_t area =
                bottom[x + kFlashFieldWidth] - bottom[x] - top[x + kFlashFieldWidth] + top[x];
            if (area >= kFlashMinArea)
                return true;
        }
    }
    return false;
}

// Follows one pixel's value; returns the transition it makes, if any.
// `minimum` is the change that counts. For luminance the darker state must
// be below 0.8; for red the redder state must be saturated.
template <bool kIsRed>
Trend follow(Course& course, int i, float value, bool saturated, double minimum) {
    const double v = value;
    float& low = course.low[i];
    float& high = course.high[i];
    int8_t& trend = course.trend[i];
    const auto rises = [&] {
        if (v - low < minimum)
            return false;
        return kIsRed ? saturated : low < kDarkerBelow;
    };
    const auto falls = [&] {
        if (high - v < minimum)
            return false;
        return kIsRed ? course.highSaturated[i] != 0 : v < kDarkerBelow;
    };
    const auto raisePeak = [&] {
        if (value > high) {
            high = value;
            course.highSaturated[i] = saturated;
        }
    };
    if (trend != kFalling)
        raisePeak();
    if (trend != kRising)
        low = std::min(low, value);
    if (trend != kRising && rises()) {
        trend = kRising;
        high = value;
        course.highSaturated[i] = saturated;
        return kRising;
    }
    if (trend != kFalling && falls()) {
        trend = kFalling;
        low = value;
        return kFalling;
    }
    return kNone;
}

void startCourse(Course& course, int i, float value, bool saturated) {
    course.low[i] = value;
    course.high[i] = value;
    course.highSaturated[i] = saturated;
}

}  // namespace

void startFlashAnalysis(int32_t fps, int64_t firstFrame, int64_t frames) {
    analysis.fps = fps;
    analysis.firstFrame = firstFrame;
    analysis.next = 0;
    resetCourse(analysis.luminance);
    resetCourse(analysis.red);
    analysis.previous.assign(kScreenPixels, 0);
    for (std::vector<uint8_t>& mask : analysis.changed)
        mask.assign(kScreenPixels, 0);
    analysis.areaTable.assign(static_cast<size_t>(kScreenWidth + 1) * (kScreenHeight + 1), 0);
    const size_t count = static_cast<size_t>(std::max<int64_t>(frames - firstFrame, 0));
    analysis.generalPerFrame.assign(count, 0);
    analysis.redPerFrame.assign(count, 0);
    // The sRGB transfer function, as relative luminance is defined on it.
    for (int c = 0; c < 256; ++c) {
        const double encoded = c / 255.0;
        analysis.linear[c] = static_cast<float>(
            encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4));
    }
}

void analyseFlashFrame(const Pixel* frame) {
    const bool first = analysis.next == 0;
    for (std::vector<uint8_t>& mask : analysis.changed)
        std::memset(mask.data(), 0, mask.size());
    int32_t totals[4] = {};
    for (int i = 0; i < kScreenPixels; ++i) {
        const Pixel p = frame[i] & 0xFFFFFFu;  // the top byte is never shown
        if (!first && p == analysis.previous[i])
            continue;  // the same value again moves no course
        analysis.previous[i] = p;
        const double r = analysis.linear[(p >> 16) & 0xFF];
        const double g = analysis.linear[(p >> 8) & 0xFF];
        const double b = analysis.linear[p & 0xFF];
        const float luminance = static_cast<float>(0.2126 * r + 0.7152 * g + 0.0722 * b);
        const float redness = static_cast<float>(std::max(0.0, (r - g - b) * 320.0));
        const double sum = r + g + b;
        const bool saturated = sum > 0.0 && r / sum >= kSaturatedRed;
        if (first) {
            startCourse(analysis.luminance, i, luminance, false);
            startCourse(analysis.red, i, redness, saturated);
            continue;
        }
        const Trend general =
            follow<false>(analysis.luminance, i, luminance, false, kLuminanceChange);
        if (general != kNone) {
            const int which = general == kRising ? 0 : 1;
            analysis.changed[which][i] = 1;
            ++totals[which];
        }
        // Red needs a change of more than 20: the next float up from 20.
        const Trend red =
            follow<true>(analysis.red, i, redness, saturated, std::nextafter(kRedChange, 1e9));
        if (red != kNone) {
            const int which = red == kRising ? 2 : 3;
            analysis.changed[which][i] = 1;
            ++totals[which];
        }
    }
    int transitions[2] = {};
    for (int which = 0; which < 4; ++which) {
        if (totals[which] >= kFlashMinArea && coversQuarterField(analysis.changed[which].data()))
            ++transitions[which / 2];
    }
    const size_t at = static_cast<size_t>(analysis.next);
    if (at < analysis.generalPerFrame.size()) {
        analysis.generalPerFrame[at] = static_cast<uint8_t>(transitions[0]);
        analysis.redPerFrame[at] = static_cast<uint8_t>(transitions[1]);
    }
    ++analysis.next;
}

std::vector<FlashSecond> flashSeconds() {
    std::vector<FlashSecond> seconds;
    const int64_t taken =
        std::min<int64_t>(analysis.next, static_cast<int64_t>(analysis.generalPerFrame.size()));
    int windowGeneral = 0;
    int windowRed = 0;
    for (int64_t j = 0; j < taken; ++j) {
        const int64_t k = analysis.firstFrame + j;
        const int64_t second = k / analysis.fps;
        if (seconds.empty() || seconds.back().second != second)
            seconds.push_back({second, 0, 0, true});
        FlashSecond& current = seconds.back();
        current.generalTransitions += analysis.generalPerFrame[j];
        current.redTransitions += analysis.redPerFrame[j];
        // The one-second stretch ending at frame k.
        windowGeneral += analysis.generalPerFrame[j];
        windowRed += analysis.redPerFrame[j];
        if (j >= analysis.fps) {
            windowGeneral -= analysis.generalPerFrame[j - analysis.fps];
            windowRed -= analysis.redPerFrame[j - analysis.fps];
        }
        if (windowGeneral > kTransitionsAllowed || windowRed > kTransitionsAllowed)
            current.passes = false;
    }
    return seconds;
}

std::string formatFlashReport(const std::vector<FlashSecond>& seconds) {
    std::string text =
        "# Flashes per second (WCAG 2.3.1): a flash is two opposing changes, in relative\n"
        "# luminance of 0.1 or more with the darker state below 0.8 (general), or of more\n"
        "# than 20 in (R-G-B)x320 to or from saturated red (red), over at least 8525 pixels\n"
        "# of some 213x160 area: a quarter of a 10-degree field with the frame shown 1024\n"
        "# pixels wide (1024x768 at 22 to 26 inches). A second passes when no one-second\n"
        "# stretch ending in it holds more than three flashes of either kind.\n"
        "# second general_flashes red_flashes limit\n";
    const auto flashes = [](int transitions) {
        return std::to_string(transitions / 2) + (transitions % 2 != 0 ? ".5" : "");
    };
    int failing = 0;
    int mostGeneral = 0;
    int mostRed = 0;
    for (const FlashSecond& s : seconds) {
        text += std::to_string(s.second) + " " + flashes(s.generalTransitions) + " " +
                flashes(s.redTransitions) + (s.passes ? " pass\n" : " fail\n");
        failing += s.passes ? 0 : 1;
        mostGeneral = std::max(mostGeneral, s.generalTransitions);
        mostRed = std::max(mostRed, s.redTransitions);
    }
    text += "# " + std::to_string(failing) + " of " + std::to_string(seconds.size()) +
            " seconds fail; most in one second: " + flashes(mostGeneral) + " general, " +
            flashes(mostRed) + " red\n";
    return text;
}
