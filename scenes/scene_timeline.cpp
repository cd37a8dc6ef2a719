#include "scenes/scene_timeline.h"

namespace SceneTimeline {

Inputs inputs;
State state;
RandomGenerator random;

namespace {

// Scratch for the scroller, filled anew every frame of scene 4.
int16_t visibleStripColumn[GreetingsStrip::width];
int16_t visibleScreenColumn[GreetingsStrip::width];

// The time-base factors are float constants widened to double.
constexpr double kMillisToSeconds = static_cast<double>(0.001f);
constexpr double kMillisToCentiseconds = static_cast<double>(0.1f);

// The counter is unsigned: widening it through int64 keeps every reading positive.
double readClock() {
    return static_cast<double>(static_cast<int64_t>(inputs.clock()));
}

void copyPicture(const Pixel* picture) {
    Pixel* back = inputs.backBuffer;
    for (int i = 0; i < kScreenPixels; ++i) {
        back[i] = picture[i];
    }
}

// Row number XOR a per-pixel counter, ORed over the picture. Pixel 0 is left
// alone and keeps what the previous frame put there.
void composeXorPattern(const Pixel* picture) {
    Pixel* back = inputs.backBuffer;
    const auto n = static_cast<uint32_t>(truncToInt(state.frameAccumulator));
    for (uint32_t i = 1; i < kScreenPixels; ++i) {
        back[i] = xorPatternPixel(i, n, picture[i]);
    }
}

// Random noise minus a sine wave, ORed over the picture. A negative
// difference sets the high bits and lights the pixel up.
void composeNoiseAndWave(const Pixel* picture) {
    Pixel* back = inputs.backBuffer;
    const double accumulator = state.frameAccumulator;
    for (int i = 0; i < kScreenPixels; ++i) {
        const int32_t firstDraw = random.draw();
        const int32_t secondDraw = random.draw();
        back[i] = noiseWavePixel(firstDraw, secondDraw, waveAt(i, accumulator), picture[i]);
    }
}

// Picture 4 XORed on and off every frame, then the greetings strip scrolling
// left one column per centisecond over screen rows 420 to 468.
void composeFlickerAndScroller(const Pixel* picture) {
    Pixel* back = inputs.backBuffer;
    for (int i = 0; i < kScreenPixels; ++i) {
        back[i] ^= picture[i];
    }

    // Every strip row uses the same columns, so the visible strip columns and
    // their screen columns are worked out once per frame, in strip order.
    const double offset = state.elapsedCentiseconds - 5500.0;
    int visible = 0;
    for (int k = 0; k < GreetingsStrip::width; ++k) {
        const int32_t x = truncToInt(k - offset);
        if (x > 0 && x < kScreenWidth) {
            visibleStripColumn[visible] = static_cast<int16_t>(k);
            visibleScreenColumn[visible] = static_cast<int16_t>(x);
            ++visible;
        }
    }

    constexpr int kStripTop = 420;
    for (int r = 0; r < GreetingsStrip::height; ++r) {
        Pixel* row = back + (kStripTop + r) * kScreenWidth;
        const Pixel* stripRow = inputs.strip + r * GreetingsStrip::width;
        for (int j = 0; j < visible; ++j) {
            row[visibleScreenColumn[j]] = stripRow[visibleStripColumn[j]];
        }
    }
}

}  // namespace

int sceneFor(float elapsedSeconds) {
    const double t = elapsedSeconds;
    return int{t > 5.0} + int{t > 15.0} + int{t > 35.0} + int{t > 55.0};
}

void start() {
    state.startSeconds = static_cast<float>(readClock() * kMillisToSeconds);
    state.startCentiseconds = static_cast<float>(readClock() * kMillisToCentiseconds);
    state.frameAccumulator = 0.0f;
}

void composeFrame() {
    // Products stay in double; only the differences are stored as float.
    state.elapsedSeconds = static_cast<float>(readClock() * kMillisToSeconds - state.startSeconds);
    state.elapsedCentiseconds =
        static_cast<float>(readClock() * kMillisToCentiseconds - state.startCentiseconds);

    state.residueA = stepResidueA.load(std::memory_order_relaxed);
    state.residueB = stepResidueB.load(std::memory_order_relaxed);
    state.frameAccumulator = static_cast<float>(static_cast<double>(state.frameAccumulator) + 1.0 +
                                                state.residueA + state.residueB);

    state.scene = sceneFor(state.elapsedSeconds);
    const Pixel* const* pictures = inputs.pictures;
    switch (state.scene) {
        case 0:
            copyPicture(pictures[0]);
            break;
        case 1:
            copyPicture(pictures[1]);
            break;
        case 2:
            composeXorPattern(pictures[2]);
            break;
        case 3:
            composeNoiseAndWave(pictures[3]);
            break;
        default:
            composeFlickerAndScroller(pictures[4]);
            break;
    }
}

}  // namespace SceneTimeline
