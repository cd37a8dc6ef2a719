#include "scenes/flash_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/show_maths.h"
#include "scenes/flash_courses.h"
#include "scenes/frame_workers.h"
#include "scenes/noise_wave.h"
#include "scenes/vector_lanes.h"

namespace {

struct Tracker {
    bool first = true;  // the next frame only sets where every pixel starts
    // Every pixel's courses as of the last frame shown, and the ones the
    // frame being classified would leave: classifying writes only these, and
    // taking the frame swaps the two, so that a frame with held pixels costs
    // no second pass (a held pixel keeps its courses).
    FlashCourses courses[2] = {};
    int shownCourses = 0;  // which of the two holds the courses as shown
    // Which pixels change which way in the current frame: general rise,
    // general fall, red rise, red fall.
    uint8_t* marks[4] = {};
    int32_t changedCount[4][kMaxFrameParts] = {};  // per kind and part
    uint8_t* heldPixels = nullptr;                 // of the frame classified, if any
    FlashTransitions holding;                      // the kinds whose pixels are held
    uint8_t* coherent = nullptr;                   // scratch: what a mask keeps
    uint8_t* windows = nullptr;                    // scratch: the squares' centres
    // Every array above in one allocation, each starting a different 192
    // bytes into a page: arrays read and written side by side at the same
    // place in their pages make the processor take stores for loads they
    // are not (4K aliasing).
    std::vector<uint8_t> arena;
    const Pixel* framePixels = nullptr;  // the frame being taken, for its parts
    FlashTransitions classified;         // what it holds as composed
    bool held = false;                   // some of its pixels are held
    KernelWidth width = KernelWidth::oneLane;
    float linear[256];  // each channel value after the sRGB transfer
};

Tracker tracker;

// Lays the arrays out in the arena, zeroed.
void allocateArrays() {
    constexpr size_t kPage = 4096;
    constexpr size_t kStagger = 192;
    constexpr size_t kWords = size_t{kScreenPixels} * 4;
    constexpr size_t kBytes = kScreenPixels;
    constexpr int kArrays = 2 * 5 + 4 + 3;
    static_assert(kArrays * kStagger < kPage);
    tracker.arena.assign(kPage + kArrays * (kWords + kPage), 0);
    uint8_t* next =
        tracker.arena.data() + (kPage - reinterpret_cast<uintptr_t>(tracker.arena.data()) % kPage);
    int index = 0;
    const auto take = [&](size_t bytes) {
        uint8_t* array = next + kStagger * index++;
        next += (bytes + kPage - 1) / kPage * kPage + kPage;
        return array;
    };
    for (FlashCourses& c : tracker.courses) {
        c.lumaLow = reinterpret_cast<float*>(take(kWords));
        c.lumaHigh = reinterpret_cast<float*>(take(kWords));
        c.redLow = reinterpret_cast<float*>(take(kWords));
        c.redHigh = reinterpret_cast<float*>(take(kWords));
        c.flags = take(kBytes);
    }
    for (uint8_t*& mask : tracker.marks)
        mask = take(kBytes);
    tracker.heldPixels = take(kBytes);
    tracker.coherent = take(kBytes);
    tracker.windows = take(kBytes);
}

int32_t changedPixels(const uint8_t* mask, int begin, int end) {
    int32_t total = 0;
    for (int i = begin; i < end; ++i)
        total += mask[i];
    return total;
}

int partBegin(int part, int parts) {
    return partFirstRow(part, parts) * kScreenWidth;
}

// Keeps of a mask the pixels that change together with their neighbours:
// those inside some 3x3 square (0.14 degrees, the smallest odd square that
// covers 0.1 degrees) of which at least 7 pixels change the same way. A
// fine, balanced pattern (noise, a checkerboard of squares under 0.1
// degrees) never fills such a square, so it does not flash; an area of
// coarser squares or a solid one does. In two passes over the frame's parts
// (the squares' centres, then each pixel's), bytes throughout, so that the
// loops run a register's width at a time.
struct CoherentJob {
    const uint8_t* mask;
    uint8_t* centres;  // 1 at the centre of each square that qualifies
    uint8_t* kept;
    int32_t keptCount[kMaxFrameParts];
};

void findCentresPart(void* context, int part, int parts) {
    auto& job = *static_cast<CoherentJob*>(context);
    constexpr int w = kScreenWidth;
    uint8_t column[kScreenWidth];
    for (int y = partFirstRow(part, parts); y < partFirstRow(part + 1, parts); ++y) {
        uint8_t* centres = job.centres + y * w;
        if (y == 0 || y + 1 == kScreenHeight) {
            std::memset(centres, 0, w);  // no square is centred on an edge
            continue;
        }
        const uint8_t* above = job.mask + (y - 1) * w;
        for (int x = 0; x < w; ++x)
            column[x] = static_cast<uint8_t>(above[x] + above[x + w] + above[x + 2 * w]);
        centres[0] = 0;
        centres[w - 1] = 0;
        for (int x = 1; x + 1 < w; ++x)
            centres[x] = column[x - 1] + column[x] + column[x + 1] >= 7 ? 1 : 0;
    }
}

// A pixel stays when a qualifying square covers it: the centres spread over
// 3x3, down the rows first, then across.
void keepCoveredPart(void* context, int part, int parts) {
    auto& job = *static_cast<CoherentJob*>(context);
    constexpr int w = kScreenWidth;
    uint8_t spread[kScreenWidth + 2] = {};
    int32_t count = 0;
    for (int y = partFirstRow(part, parts); y < partFirstRow(part + 1, parts); ++y) {
        const uint8_t* centres = job.centres + y * w;
        const uint8_t* above = y > 0 ? centres - w : centres;
        const uint8_t* below = y + 1 < kScreenHeight ? centres + w : centres;
        for (int x = 0; x < w; ++x)
            spread[x + 1] = centres[x] | above[x] | below[x];
        const uint8_t* row = job.mask + y * w;
        uint8_t* kept = job.kept + y * w;
        for (int x = 0; x < w; ++x) {
            kept[x] = row[x] & (spread[x] | spread[x + 1] | spread[x + 2]);
            count += kept[x];
        }
    }
    job.keptCount[part] = count;
}

// True when some 213x160 area of the mask holds at least a quarter-field of
// changed pixels. Each column's count over a band of 160 rows is moved down
// a row at a time; a band holding fewer changed pixels than a quarter field
// is passed over, the others are searched across.
bool coversQuarterField(const uint8_t* mask) {
    int32_t rowCount[kScreenHeight];
    for (int y = 0; y < kScreenHeight; ++y)
        rowCount[y] = changedPixels(mask, y * kScreenWidth, (y + 1) * kScreenWidth);
    int32_t column[kScreenWidth] = {};
    int32_t band = 0;
    for (int y = 0; y < kFlashFieldHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x)
            column[x] += mask[y * kScreenWidth + x];
        band += rowCount[y];
    }
    for (int top = 0;; ++top) {
        if (band >= kFlashMinArea) {
            int32_t area = 0;
            for (int x = 0; x < kFlashFieldWidth; ++x)
                area += column[x];
            for (int x = kFlashFieldWidth;; ++x) {
                if (area >= kFlashMinArea)
                    return true;
                if (x == kScreenWidth)
                    break;
                area += column[x] - column[x - kFlashFieldWidth];
            }
        }
        const int bottom = top + kFlashFieldHeight;
        if (bottom == kScreenHeight)
            return false;
        for (int x = 0; x < kScreenWidth; ++x)
            column[x] += mask[bottom * kScreenWidth + x] - mask[top * kScreenWidth + x];
        band += rowCount[bottom] - rowCount[top];
    }
}

void followCourses(FlashCourseSpan& span) {
#if defined(__x86_64__) || defined(_M_X64)
    switch (tracker.width) {
        case KernelWidth::sixteenLanes:
            return followFlashCoursesAvx512(span);
        case KernelWidth::eightLanes:
            return followFlashCoursesAvx2(span);
        case KernelWidth::fourLanes:
            return followFlashCoursesSse2(span);
        default:
            return followFlashCoursesPortable(span);
    }
#elif defined(QUELTRAVINE_WASM_SIMD)
    if (tracker.width == KernelWidth::oneLane)
        return followFlashCoursesPortable(span);
    return followFlashCoursesWasm(span);
#else
    return followFlashCoursesPortable(span);
#endif
}

// Part of the frame being classified: measured, its courses followed from
// the shown ones into the others, and its marks counted.
void classifyPart(void*, int part, int parts) {
    FlashCourseSpan span{tracker.framePixels,
                         tracker.linear,
                         &tracker.courses[tracker.shownCourses],
                         &tracker.courses[1 - tracker.shownCourses],
                         tracker.marks,
                         partBegin(part, parts),
                         partBegin(part + 1, parts),
                         {}};
    followCourses(span);
    for (int which = 0; which < 4; ++which)
        tracker.changedCount[which][part] = span.marked[which];
}

// The pixels making a transition of the kinds held are held. A held pixel
// is seen again at its last value, which moves neither of its courses and
// makes no transition: it keeps the courses it had. Held pixels come in
// areas, so the courses are put back a vector of 16 pixels at a time, only
// where one is held.
void holdPart(void*, int part, int parts) {
    const int begin = partBegin(part, parts);
    const int end = partBegin(part + 1, parts);
    const uint8_t generalMask = tracker.holding.general ? 1 : 0;
    const uint8_t redMask = tracker.holding.red ? 1 : 0;
    // Locals, restricted: a byte stored may otherwise be any array's pointer.
    uint8_t* __restrict held = tracker.heldPixels;
    const uint8_t* __restrict lumaRises = tracker.marks[0];
    const uint8_t* __restrict lumaFalls = tracker.marks[1];
    const uint8_t* __restrict redRises = tracker.marks[2];
    const uint8_t* __restrict redFalls = tracker.marks[3];
    for (int i = begin; i < end; ++i) {
        held[i] = static_cast<uint8_t>(((lumaRises[i] | lumaFalls[i]) & generalMask) |
                                       ((redRises[i] | redFalls[i]) & redMask));
    }
    const FlashCourses& before = tracker.courses[tracker.shownCourses];
    const FlashCourses& after = tracker.courses[1 - tracker.shownCourses];
    const float* __restrict keptValues[] = {before.lumaLow, before.lumaHigh, before.redLow,
                                            before.redHigh};
    float* __restrict values[] = {after.lumaLow, after.lumaHigh, after.redLow, after.redHigh};
    const uint8_t* __restrict keptFlags = before.flags;
    uint8_t* __restrict flags = after.flags;
    constexpr int kVector = 16;  // a row is a whole number of them
    using Vector = Lanes<kVector>;
    for (int start = begin; start < end; start += kVector) {
        Vector::U8 heldBytes;
        std::memcpy(&heldBytes, held + start, sizeof heldBytes);
        uint64_t any[2];
        std::memcpy(any, &heldBytes, sizeof any);
        if ((any[0] | any[1]) == 0)
            continue;
        // Chosen by masks, bits and all, a vector at a time: no branch.
        const Vector::U8 keepBytes = 0 - heldBytes;
        const Vector::U32 keep = 0 - __builtin_convertvector(heldBytes, Vector::U32);
        for (int which = 0; which < 4; ++which) {
            Vector::U32 old;
            Vector::U32 made;
            std::memcpy(&old, keptValues[which] + start, sizeof old);
            std::memcpy(&made, values[which] + start, sizeof made);
            made = (old & keep) | (made & ~keep);
            std::memcpy(values[which] + start, &made, sizeof made);
        }
        Vector::U8 oldFlags;
        Vector::U8 madeFlags;
        std::memcpy(&oldFlags, keptFlags + start, sizeof oldFlags);
        std::memcpy(&madeFlags, flags + start, sizeof madeFlags);
        madeFlags = (oldFlags & keepBytes) | (madeFlags & ~keepBytes);
        std::memcpy(flags + start, &madeFlags, sizeof madeFlags);
    }
}

// What is left of the marks of a kind not held, once the held pixels are
// taken out, counted again.
struct UnheldJob {
    int kind;  // 0 general, 1 red
};

void takeOutHeldPart(void* context, int part, int parts) {
    const int kind = static_cast<UnheldJob*>(context)->kind;
    const int begin = partBegin(part, parts);
    const int end = partBegin(part + 1, parts);
    const uint8_t* __restrict held = tracker.heldPixels;
    for (int which = 2 * kind; which < 2 * kind + 2; ++which) {
        uint8_t* __restrict mask = tracker.marks[which];
        int32_t count = 0;
        for (int i = begin; i < end; ++i) {
            mask[i] &= static_cast<uint8_t>(held[i] ^ 1);
            count += mask[i];
        }
        tracker.changedCount[which][part] = count;
    }
}

// A frame holds at most one transition of each kind: an area rising while
// another falls is a change of each area, not two of one.
FlashTransitions countTransitions(const int32_t* totals, FlashTransitions possible) {
    bool found[2] = {};
    const bool kinds[2] = {possible.general, possible.red};
    for (int which = 0; which < 4; ++which) {
        const uint8_t* mask = tracker.marks[which];
        if (!kinds[which / 2] || found[which / 2] || totals[which] < kFlashMinArea)
            continue;
        CoherentJob job{mask, tracker.windows, tracker.coherent, {}};
        runFrameParts(findCentresPart, &job);
        runFrameParts(keepCoveredPart, &job);
        int32_t kept = 0;
        for (int part = 0; part < frameParts(); ++part)
            kept += job.keptCount[part];
        found[which / 2] = kept >= kFlashMinArea && coversQuarterField(job.kept);
    }
    return {found[0], found[1]};
}

// Each kind's marks over the whole frame, from the parts' counts.
const int32_t* partTotals() {
    static int32_t totals[4];
    for (int which = 0; which < 4; ++which) {
        totals[which] = 0;
        for (int part = 0; part < frameParts(); ++part)
            totals[which] += tracker.changedCount[which][part];
    }
    return totals;
}

}  // namespace

void startFlashTracker() {
    tracker.first = true;
    tracker.width = activeKernelWidth();
    allocateArrays();
    tracker.shownCourses = 0;
    // The sRGB transfer function, as relative luminance is defined on it;
    // the show's own pow, so that every platform counts the same flashes.
    for (int c = 0; c < 256; ++c) {
        const double encoded = c / 255.0;
        // Kept as float, like every stored value here.
        tracker.linear[c] = static_cast<float>(
            encoded <= 0.04045 ? encoded / 12.92 : maths::pow((encoded + 0.055) / 1.055, 2.4));
    }
}

FlashTransitions classifyFlashFrame(const Pixel* frame) {
    tracker.held = false;
    if (tracker.first) {
        // Every pixel starts where it is, with no course yet.
        const FlashCourses& c = tracker.courses[1 - tracker.shownCourses];
        for (int i = 0; i < kScreenPixels; ++i) {
            int32_t saturated;
            measureFlashPixel(frame[i], tracker.linear, &c.lumaLow[i], &c.redLow[i], &saturated);
            c.lumaHigh[i] = c.lumaLow[i];
            c.redHigh[i] = c.redLow[i];
            c.flags[i] = static_cast<uint8_t>(saturated & kRedPeakSaturated);
        }
        for (uint8_t* mask : tracker.marks)
            std::memset(mask, 0, kScreenPixels);
        tracker.classified = {};
    } else {
        tracker.framePixels = frame;
        runFrameParts(classifyPart, nullptr);
        tracker.classified = countTransitions(partTotals(), {true, true});
    }
    return tracker.classified;
}

FlashTransitions trackFlashFrame(const Pixel* frame) {
    classifyFlashFrame(frame);
    return advanceFlashTracker();
}

const uint8_t* holdFlashChanges(bool general, bool red) {
    tracker.holding = {general, red};
    runFrameParts(holdPart, nullptr);
    tracker.held = true;
    return tracker.heldPixels;
}

FlashTransitions advanceFlashTracker() {
    FlashTransitions found = tracker.classified;
    if (tracker.first) {
        tracker.first = false;
    } else if (tracker.held) {
        // A kind held has no change left. Another keeps what is left of its
        // changes, which are fewer: where it held no transition, it holds
        // none now (neither the squares nor the area can grow).
        found.general = found.general && !tracker.holding.general;
        found.red = found.red && !tracker.holding.red;
        for (int kind = 0; kind < 2; ++kind) {
            UnheldJob job{kind};
            if (kind == 0 ? found.general : found.red)
                runFrameParts(takeOutHeldPart, &job);
        }
        if (found.general || found.red)
            found = countTransitions(partTotals(), found);
    }
    tracker.shownCourses = 1 - tracker.shownCourses;
    return found;
}
