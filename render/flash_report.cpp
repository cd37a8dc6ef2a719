#include "render/flash_report.h"

#include "scenes/frame_workers.h"

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

// Which way a pixel last changed. Held as floats beside its values so that
// one pixel's whole step is a few compares and selects, with no branch:
// the changes of noise go either way at random and would defeat a branch
// predictor.
constexpr float kNone = 0.0f;
constexpr float kRising = 1.0f;
constexpr float kFalling = -1.0f;

// One pixel's course: the lowest and highest values since its last
// transition, and which way that transition went. A rising pixel looks for
// a fall from its peak, a falling one for a rise from its valley.
struct Course {
    std::vector<float> low;
    std::vector<float> high;
    std::vector<float> trend;
    std::vector<float> highSaturated;  // red: 1 when the peak was saturated red
};

struct Analysis {
    int32_t fps = 60;
    int64_t firstFrame = 0;
    int64_t next = 0;  // frames taken so far
    Course luminance;
    Course red;
    // The current frame's values: relative luminance, redness and whether
    // the pixel is saturated red (1 or 0).
    std::vector<float> frameLuminance;
    std::vector<float> frameRedness;
    std::vector<float> frameSaturated;
    // Which pixels changed which way in the current frame: general rise,
    // general fall, red rise, red fall.
    std::vector<uint8_t> changed[4];
    std::vector<int32_t> areaTable;  // summed-area table, (width + 1) x (height + 1)
    std::vector<uint8_t> windows;    // scratch for keepCoherent
    std::vector<uint8_t> generalPerFrame;
    std::vector<uint8_t> redPerFrame;
    const Pixel* framePixels = nullptr;  // the frame being taken, for its parts
    // Each channel's share of relative luminance after the sRGB transfer,
    // and its linear value.
    double lumaOfRed[256];
    double lumaOfGreen[256];
    double lumaOfBlue[256];
    double linear[256];
};

Analysis analysis;

void resetCourse(Course& course) {
    course.low.assign(kScreenPixels, 0.0f);
    course.high.assign(kScreenPixels, 0.0f);
    course.trend.assign(kScreenPixels, kNone);
    course.highSaturated.assign(kScreenPixels, 0.0f);
}

int32_t changedPixels(const uint8_t* mask) {
    int32_t total = 0;
    for (int i = 0; i < kScreenPixels; ++i)
        total += mask[i];
    return total;
}

// Keeps of the mask the pixels that change together with their
// neighbours: those inside some 3x3 square (0.14 degrees, the smallest odd
// square that covers 0.1 degrees) of which at least 7 pixels change the same
// way. A fine, balanced pattern (noise, a checkerboard of squares under 0.1
// degrees) never fills such a square, so it does not flash; an area of
// coarser squares or a solid one does. `windows` is scratch space.
void keepCoherent(uint8_t* mask, uint8_t* windows) {
    constexpr int w = kScreenWidth;
    std::memset(windows, 0, kScreenPixels);
    int32_t column[kScreenWidth];
    for (int y = 1; y + 1 < kScreenHeight; ++y) {
        const uint8_t* above = mask + (y - 1) * w;
        for (int x = 0; x < w; ++x)
            column[x] = above[x] + above[x + w] + above[x + 2 * w];
        uint8_t* centres = windows + y * w;
        for (int x = 1; x + 1 < w; ++x)
            centres[x] = column[x - 1] + column[x] + column[x + 1] >= 7 ? 1 : 0;
    }
    // A pixel stays when a qualifying square covers it: the centres spread
    // over 3x3 (rows first, into column, then across).
    uint8_t spread[kScreenWidth];
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t any = windows[y * w + x];
            if (y > 0)
                any |= windows[(y - 1) * w + x];
            if (y + 1 < kScreenHeight)
                any |= windows[(y + 1) * w + x];
            spread[x] = any;
        }
        uint8_t* row = mask + y * w;
        for (int x = 0; x < w; ++x) {
            const uint8_t near =
                spread[x] | (x > 0 ? spread[x - 1] : 0) | (x + 1 < w ? spread[x + 1] : 0);
            row[x] &= near;
        }
    }
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

// The values of pixels [begin, end) of the frame.
void measurePixels(const Pixel* frame, int begin, int end) {
    for (int i = begin; i < end; ++i) {
        const Pixel p = frame[i];  // the top byte is never shown
        const unsigned r8 = (p >> 16) & 0xFF;
        const unsigned g8 = (p >> 8) & 0xFF;
        const unsigned b8 = p & 0xFF;
        analysis.frameLuminance[i] = static_cast<float>(
            analysis.lumaOfRed[r8] + analysis.lumaOfGreen[g8] + analysis.lumaOfBlue[b8]);
        const double r = analysis.linear[r8];
        const double g = analysis.linear[g8];
        const double b = analysis.linear[b8];
        const double redness = (r - g - b) * 320.0;
        // Only a pixel whose red outweighs green and blue together can be
        // saturated red (R / (R + G + B) of 0.8 or more).
        const bool saturated = redness > 0.0 && r / (r + g + b) >= kSaturatedRed;
        analysis.frameRedness[i] = static_cast<float>(std::max(0.0, redness));
        analysis.frameSaturated[i] = saturated ? 1.0f : 0.0f;
    }
}

// Follows pixels [begin, end) of one course; marks the transitions in
// `rises` and `falls`. A change counts from `minimum` on; for luminance the
// darker state must also be below 0.8, for red the redder state must be
// saturated. A pixel seen again with the same value keeps its course.
template <bool kIsRed>
void followCourse(Course& course, const float* values, const float* saturation, double minimum,
                  int begin, int end, uint8_t* rises, uint8_t* falls) {
    float* lows = course.low.data();
    float* highs = course.high.data();
    float* trends = course.trend.data();
    float* highSaturations = course.highSaturated.data();
    for (int i = begin; i < end; ++i) {
        const float value = values[i];
        const float saturated = kIsRed ? saturation[i] : 0.0f;
        const float trend = trends[i];
        const bool mayRise = trend != kRising;
        const bool mayFall = trend != kFalling;
        const bool newPeak = mayFall & (value > highs[i]);
        const float high = newPeak ? value : highs[i];
        const float highSaturated = newPeak ? saturated : highSaturations[i];
        const float low = mayRise ? std::min(lows[i], value) : lows[i];
        const double v = value;
        const bool rise =
            mayRise & (v - low >= minimum) & (kIsRed ? saturated != 0.0f : low < kDarkerBelow);
        const bool fall = !rise & mayFall & (high - v >= minimum) &
                          (kIsRed ? highSaturated != 0.0f : v < kDarkerBelow);
        trends[i] = rise ? kRising : (fall ? kFalling : trend);
        highs[i] = rise ? value : high;
        highSaturations[i] = rise ? saturated : highSaturated;
        lows[i] = fall ? value : low;
        rises[i] = rise;
        falls[i] = fall;
    }
}

// One part of the frame: rows cut evenly between the parts.
void analysePart(void*, int part, int parts) {
    const int begin = kScreenHeight * part / parts * kScreenWidth;
    const int end = kScreenHeight * (part + 1) / parts * kScreenWidth;
    measurePixels(analysis.framePixels, begin, end);
    followCourse<false>(analysis.luminance, analysis.frameLuminance.data(), nullptr,
                        kLuminanceChange, begin, end, analysis.changed[0].data(),
                        analysis.changed[1].data());
    // Red needs a change of more than 20: the next double up from 20.
    followCourse<true>(analysis.red, analysis.frameRedness.data(), analysis.frameSaturated.data(),
                       std::nextafter(kRedChange, 1e9), begin, end, analysis.changed[2].data(),
                       analysis.changed[3].data());
}

}  // namespace

void startFlashAnalysis(int32_t fps, int64_t firstFrame, int64_t frames) {
    analysis.fps = fps;
    analysis.firstFrame = firstFrame;
    analysis.next = 0;
    resetCourse(analysis.luminance);
    resetCourse(analysis.red);
    analysis.frameLuminance.assign(kScreenPixels, 0.0f);
    analysis.frameRedness.assign(kScreenPixels, 0.0f);
    analysis.frameSaturated.assign(kScreenPixels, 0.0f);
    for (std::vector<uint8_t>& mask : analysis.changed)
        mask.assign(kScreenPixels, 0);
    analysis.windows.assign(kScreenPixels, 0);
    analysis.areaTable.assign(static_cast<size_t>(kScreenWidth + 1) * (kScreenHeight + 1), 0);
    // Every frame from the show's start is followed (a pixel's course and the
    // one-second stretches reach back before --from); a byte each.
    const size_t count = static_cast<size_t>(std::max<int64_t>(frames, 0));
    analysis.generalPerFrame.assign(count, 0);
    analysis.redPerFrame.assign(count, 0);
    // The sRGB transfer function, as relative luminance is defined on it.
    for (int c = 0; c < 256; ++c) {
        const double encoded = c / 255.0;
        // Kept as float, like every stored value here.
        const float linear = static_cast<float>(
            encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4));
        analysis.linear[c] = linear;
        analysis.lumaOfRed[c] = 0.2126 * linear;
        analysis.lumaOfGreen[c] = 0.7152 * linear;
        analysis.lumaOfBlue[c] = 0.0722 * linear;
    }
}

void analyseFlashFrame(const Pixel* frame) {
    if (analysis.next == 0) {
        // The first frame only sets where every pixel starts.
        measurePixels(frame, 0, kScreenPixels);
        for (int i = 0; i < kScreenPixels; ++i) {
            analysis.luminance.low[i] = analysis.luminance.high[i] = analysis.frameLuminance[i];
            analysis.red.low[i] = analysis.red.high[i] = analysis.frameRedness[i];
            analysis.red.highSaturated[i] = analysis.frameSaturated[i];
        }
    } else {
        analysis.framePixels = frame;
        runFrameParts(analysePart, nullptr);
        // A frame holds at most one transition of each kind: an area rising
        // while another falls is a change of each area, not two of one.
        int transitions[2] = {};
        for (int which = 0; which < 4; ++which) {
            uint8_t* mask = analysis.changed[which].data();
            if (transitions[which / 2] != 0 || changedPixels(mask) < kFlashMinArea)
                continue;
            keepCoherent(mask, analysis.windows.data());
            if (changedPixels(mask) >= kFlashMinArea && coversQuarterField(mask))
                transitions[which / 2] = 1;
        }
        const size_t at = static_cast<size_t>(analysis.next);
        if (at < analysis.generalPerFrame.size()) {
            analysis.generalPerFrame[at] = static_cast<uint8_t>(transitions[0]);
            analysis.redPerFrame[at] = static_cast<uint8_t>(transitions[1]);
        }
    }
    ++analysis.next;
}

std::vector<FlashSecond> flashSeconds() {
    std::vector<FlashSecond> seconds;
    const int64_t taken =
        std::min<int64_t>(analysis.next, static_cast<int64_t>(analysis.generalPerFrame.size()));
    int windowGeneral = 0;
    int windowRed = 0;
    // The report starts with the second that holds the first frame written,
    // and says of it what the whole render says.
    const int64_t firstSecond = analysis.firstFrame / analysis.fps;
    for (int64_t k = 0; k < taken; ++k) {
        // The one-second stretch ending at frame k.
        windowGeneral += analysis.generalPerFrame[k];
        windowRed += analysis.redPerFrame[k];
        if (k >= analysis.fps) {
            windowGeneral -= analysis.generalPerFrame[k - analysis.fps];
            windowRed -= analysis.redPerFrame[k - analysis.fps];
        }
        const int64_t second = k / analysis.fps;
        if (second < firstSecond)
            continue;
        if (seconds.empty() || seconds.back().second != second)
            seconds.push_back({second, 0, 0, true});
        FlashSecond& current = seconds.back();
        current.generalTransitions += analysis.generalPerFrame[k];
        current.redTransitions += analysis.redPerFrame[k];
        if (windowGeneral > kTransitionsAllowed || windowRed > kTransitionsAllowed)
            current.passes = false;
    }
    return seconds;
}

std::string formatFlashReport(const std::vector<FlashSecond>& seconds) {
    std::string text =
        "# Flashes per second (WCAG 2.3.1): a flash is two opposing changes, in relative\n"
        "# luminance of 0.1 or more with the darker state below 0.8 (general), or of more\n"
        "# than 20 in (R-G-B)x320 to or from saturated red (red, WCAG 2.0), over at least\n"
        "# 8525 pixels of some 213x160 area: a quarter of a 10-degree field with the frame\n"
        "# shown 1024 pixels wide (1024x768 at 22 to 26 inches). A pixel's change counts\n"
        "# when it lies in a 3x3 square of which 7 pixels change the same way: patterns\n"
        "# finer than 0.1 degree (noise, pixel checkerboards) do not flash. One frame\n"
        "# holds at most one change of each kind. A second passes when no one-second\n"
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
