#include "scenes/flash_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "core/show_maths.h"
#include "scenes/frame_workers.h"

namespace {

constexpr double kLuminanceChange = 0.1;
constexpr double kDarkerBelow = 0.8;
constexpr double kRedChange = 20.0;
constexpr double kSaturatedRed = 0.8;

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

// A frame's values: relative luminance, redness and whether the pixel is
// saturated red (1 or 0).
struct FrameValues {
    std::vector<float> luminance;
    std::vector<float> redness;
    std::vector<float> saturated;
};

struct Tracker {
    bool first = true;  // the next frame only sets where every pixel starts
    Course luminance;
    Course red;
    FrameValues current;   // of the frame being classified
    FrameValues previous;  // of the frame before it, as shown
    // Which pixels change which way in the current frame: general rise,
    // general fall, red rise, red fall.
    std::vector<uint8_t> changed[4];
    std::vector<uint8_t> either[2];      // general and red, either way
    std::vector<uint8_t> coherent;       // scratch: a mask being judged
    std::vector<uint8_t> windows;        // scratch for keepCoherent
    std::vector<int32_t> areaTable;      // summed-area table, (width + 1) x (height + 1)
    const Pixel* framePixels = nullptr;  // the frame being taken, for its parts
    FlashTransitions classified;         // what it holds as composed
    bool held = false;                   // some of its pixels are held
    // Each channel's share of relative luminance after the sRGB transfer,
    // and its linear value.
    double lumaOfRed[256];
    double lumaOfGreen[256];
    double lumaOfBlue[256];
    double linear[256];
};

Tracker tracker;

void resetCourse(Course& course) {
    course.low.assign(kScreenPixels, 0.0f);
    course.high.assign(kScreenPixels, 0.0f);
    course.trend.assign(kScreenPixels, kNone);
    course.highSaturated.assign(kScreenPixels, 0.0f);
}

void resetValues(FrameValues& values) {
    values.luminance.assign(kScreenPixels, 0.0f);
    values.redness.assign(kScreenPixels, 0.0f);
    values.saturated.assign(kScreenPixels, 0.0f);
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
    int32_t* table = tracker.areaTable.data();
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
    FrameValues& values = tracker.current;
    for (int i = begin; i < end; ++i) {
        const Pixel p = frame[i];  // the top byte is never shown
        const unsigned r8 = (p >> 16) & 0xFF;
        const unsigned g8 = (p >> 8) & 0xFF;
        const unsigned b8 = p & 0xFF;
        values.luminance[i] = static_cast<float>(tracker.lumaOfRed[r8] + tracker.lumaOfGreen[g8] +
                                                 tracker.lumaOfBlue[b8]);
        const double r = tracker.linear[r8];
        const double g = tracker.linear[g8];
        const double b = tracker.linear[b8];
        const double redness = (r - g - b) * 320.0;
        // Only a pixel whose red outweighs green and blue together can be
        // saturated red (R / (R + G + B) of 0.8 or more).
        const bool saturated = redness > 0.0 && r / (r + g + b) >= kSaturatedRed;
        values.redness[i] = static_cast<float>(std::max(0.0, redness));
        values.saturated[i] = saturated ? 1.0f : 0.0f;
    }
}

// Follows pixels [begin, end) of one course; marks the transitions in
// `rises` and `falls`, and with kAdvance moves the course on. A change
// counts from `minimum` on; for luminance the darker state must also be
// below 0.8, for red the redder state must be saturated. A pixel seen again
// with the same value keeps its course.
template <bool kIsRed, bool kAdvance>
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
        if (kAdvance) {
            trends[i] = rise ? kRising : (fall ? kFalling : trend);
            highs[i] = rise ? value : high;
            highSaturations[i] = rise ? saturated : highSaturated;
            lows[i] = fall ? value : low;
        }
        rises[i] = rise;
        falls[i] = fall;
    }
}

// Red needs a change of more than 20: the next double up from 20.
const double kRedMinimum = std::nextafter(kRedChange, 1e9);

template <bool kAdvance>
void followCourses(int begin, int end) {
    followCourse<false, kAdvance>(tracker.luminance, tracker.current.luminance.data(), nullptr,
                                  kLuminanceChange, begin, end, tracker.changed[0].data(),
                                  tracker.changed[1].data());
    followCourse<true, kAdvance>(tracker.red, tracker.current.redness.data(),
                                 tracker.current.saturated.data(), kRedMinimum, begin, end,
                                 tracker.changed[2].data(), tracker.changed[3].data());
}

// Rows cut evenly between the parts.
int partBegin(int part, int parts) {
    return kScreenHeight * part / parts * kScreenWidth;
}

void classifyPart(void*, int part, int parts) {
    const int begin = partBegin(part, parts);
    const int end = partBegin(part + 1, parts);
    measurePixels(tracker.framePixels, begin, end);
    followCourses<false>(begin, end);
}

void advancePart(void*, int part, int parts) {
    followCourses<true>(partBegin(part, parts), partBegin(part + 1, parts));
}

void trackPart(void*, int part, int parts) {
    const int begin = partBegin(part, parts);
    const int end = partBegin(part + 1, parts);
    measurePixels(tracker.framePixels, begin, end);
    followCourses<true>(begin, end);
}

// A frame holds at most one transition of each kind: an area rising while
// another falls is a change of each area, not two of one.
FlashTransitions countTransitions() {
    bool found[2] = {};
    for (int which = 0; which < 4; ++which) {
        const uint8_t* mask = tracker.changed[which].data();
        if (found[which / 2] || changedPixels(mask) < kFlashMinArea)
            continue;
        uint8_t* kept = tracker.coherent.data();
        std::memcpy(kept, mask, kScreenPixels);
        keepCoherent(kept, tracker.windows.data());
        found[which / 2] = changedPixels(kept) >= kFlashMinArea && coversQuarterField(kept);
    }
    return {found[0], found[1]};
}

}  // namespace

void startFlashTracker() {
    tracker.first = true;
    resetCourse(tracker.luminance);
    resetCourse(tracker.red);
    resetValues(tracker.current);
    resetValues(tracker.previous);
    for (std::vector<uint8_t>& mask : tracker.changed)
        mask.assign(kScreenPixels, 0);
    for (std::vector<uint8_t>& mask : tracker.either)
        mask.assign(kScreenPixels, 0);
    tracker.coherent.assign(kScreenPixels, 0);
    tracker.windows.assign(kScreenPixels, 0);
    tracker.areaTable.assign(static_cast<size_t>(kScreenWidth + 1) * (kScreenHeight + 1), 0);
    // The sRGB transfer function, as relative luminance is defined on it;
    // the show's own pow, so that every platform counts the same flashes.
    for (int c = 0; c < 256; ++c) {
        const double encoded = c / 255.0;
        // Kept as float, like every stored value here.
        const float linear = static_cast<float>(
            encoded <= 0.04045 ? encoded / 12.92 : maths::pow((encoded + 0.055) / 1.055, 2.4));
        tracker.linear[c] = linear;
        tracker.lumaOfRed[c] = 0.2126 * linear;
        tracker.lumaOfGreen[c] = 0.7152 * linear;
        tracker.lumaOfBlue[c] = 0.0722 * linear;
    }
}

FlashTransitions classifyFlashFrame(const Pixel* frame) {
    tracker.held = false;
    if (tracker.first) {
        measurePixels(frame, 0, kScreenPixels);
        for (std::vector<uint8_t>& mask : tracker.changed)
            std::fill(mask.begin(), mask.end(), 0);
        tracker.classified = {};
    } else {
        tracker.framePixels = frame;
        runFrameParts(classifyPart, nullptr);
        tracker.classified = countTransitions();
    }
    return tracker.classified;
}

FlashTransitions trackFlashFrame(const Pixel* frame) {
    if (tracker.first) {
        classifyFlashFrame(frame);
        advanceFlashTracker();
        return {};
    }
    tracker.framePixels = frame;
    runFrameParts(trackPart, nullptr);
    const FlashTransitions found = countTransitions();
    std::swap(tracker.current, tracker.previous);
    return found;
}

const uint8_t* flashChangingPixels(bool red) {
    const uint8_t* rises = tracker.changed[red ? 2 : 0].data();
    const uint8_t* falls = tracker.changed[red ? 3 : 1].data();
    uint8_t* either = tracker.either[red ? 1 : 0].data();
    for (int i = 0; i < kScreenPixels; ++i)
        either[i] = rises[i] | falls[i];
    return either;
}

void holdFlashPixels(const uint8_t* held) {
    tracker.held = true;
    FrameValues& now = tracker.current;
    const FrameValues& before = tracker.previous;
    for (int i = 0; i < kScreenPixels; ++i) {
        if (held[i] != 0) {
            now.luminance[i] = before.luminance[i];
            now.redness[i] = before.redness[i];
            now.saturated[i] = before.saturated[i];
        }
    }
}

FlashTransitions advanceFlashTracker() {
    FlashTransitions found = tracker.classified;
    if (tracker.first) {
        tracker.first = false;
        for (int i = 0; i < kScreenPixels; ++i) {
            tracker.luminance.low[i] = tracker.luminance.high[i] = tracker.current.luminance[i];
            tracker.red.low[i] = tracker.red.high[i] = tracker.current.redness[i];
            tracker.red.highSaturated[i] = tracker.current.saturated[i];
        }
    } else {
        runFrameParts(advancePart, nullptr);
        // Held pixels make no change: what is left of the frame's is counted
        // again. Without them the count is the classification's.
        if (tracker.held)
            found = countTransitions();
    }
    std::swap(tracker.current, tracker.previous);
    return found;
}
