#include "platform/frame_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A clock that moves only when the loop works, presents or sleeps; every
// sleep oversleeps a little, as a real one does.
int64_t fakeTime = 0;
int sleeps = 0;
constexpr int64_t kOversleep = 80'000;

const PacerClock fakeClock{[] { return fakeTime; },
                           [](int64_t nanos) {
                               ASSERT_GT(nanos, 0);
                               fakeTime += nanos + kOversleep;
                               ++sleeps;
                           }};

struct Case {
    const char* name;
    int32_t reportedHertz;
    int64_t displayPeriod;  // the present waits for a multiple of it; 0: it returns at once
    int64_t work;           // compose and upload, each frame
    int64_t presentTakes;   // a slow renderer's present, waiting for nothing
    int64_t stall;          // one frame this much longer, at frame 300
    int64_t wantedPeriod;   // the steady interval between presents
    bool sleepsExpected;
};

constexpr int64_t k60 = 1'000'000'000 / 60;
constexpr int64_t kMs = 1'000'000;

const Case kCases[] = {
    {"present that waits gives no sleeps", 60, k60, 3 * kMs, 0, 0, k60, false},
    {"display a little faster than reported", 60, 1'000'000'000 / 61, 3 * kMs, 0, 0,
     1'000'000'000 / 61, false},
    {"instant present converges to the period", 60, 0, 2 * kMs, 0, 0, k60, true},
    {"a slow present that waits for nothing is paced", 60, 0, 1 * kMs, 9 * kMs, 0, k60, true},
    {"stall resyncs without a burst", 60, 0, 2 * kMs, 0, 500 * kMs, k60, true},
    {"stall with a waiting present", 60, k60, 2 * kMs, 0, 500 * kMs, k60, false},
    {"refresh 0 falls back to 60", 0, 0, 1 * kMs, 0, 0, k60, true},
    {"144 Hz paces at 144", 144, 0, 1 * kMs, 0, 0, 1'000'000'000 / 144, true},
    {"frames slower than the period are not slowed", 60, 0, 20 * kMs, 0, 0, 20 * kMs, false},
};

TEST(FramePacer, Table) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        fakeTime = 5 * kMs;
        sleeps = 0;
        FramePacer pacer = framePacerFor(c.reportedHertz);
        std::vector<int64_t> presents;
        for (int frame = 0; frame < 900; ++frame) {
            fakeTime += c.work + (frame == 300 ? c.stall : 0);
            paceBeforePresent(pacer, fakeClock);
            fakeTime += c.presentTakes;
            if (c.displayPeriod > 0) {
                fakeTime = (fakeTime / c.displayPeriod + 1) * c.displayPeriod;
            }
            presents.push_back(fakeTime);
            notePresented(pacer, fakeClock);
        }
        EXPECT_EQ(sleeps > 0, c.sleepsExpected) << sleeps << " sleeps";
        // Every interval after the first frames and away from the stall is
        // the period (to within one oversleep), and the average is exact.
        for (size_t i = 10; i < presents.size(); ++i) {
            if (c.stall > 0 && i == 300) {
                continue;
            }
            const int64_t interval = presents[i] - presents[i - 1];
            ASSERT_GE(interval, c.wantedPeriod - kOversleep - 1) << "frame " << i;
            ASSERT_LE(interval, c.wantedPeriod + kOversleep + 1) << "frame " << i;
        }
        const int64_t span = presents.back() - presents[400];
        EXPECT_NEAR(static_cast<double>(span) / 499.0, static_cast<double>(c.wantedPeriod),
                    static_cast<double>(kOversleep) / 499.0 + 1.0);
    }
}

}  // namespace
