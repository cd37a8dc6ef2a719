#include "scenes/scene_timeline.h"

#include <cstring>

#include "scenes/frame_workers.h"
#include "scenes/noise_wave.h"
#include "synth/synthesiser.h"

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

// Strip column k lands on screen column truncToInt(k - offset) when that is
// 1 to 639 (kept: screen column 0 never gets the strip). Every strip row uses the same columns, so
// they are worked out once per frame, in strip order.
int visibleStripColumns(double elapsedCentiseconds) {
    const double offset = elapsedCentiseconds - 5500.0;
    int visible = 0;
    for (int k = 0; k < GreetingsStrip::width; ++k) {
        const int32_t x = truncToInt(k - offset);
        if (x > 0 && x < kScreenWidth) {
            visibleStripColumn[visible] = static_cast<int16_t>(k);
            visibleScreenColumn[visible] = static_cast<int16_t>(x);
            ++visible;
        }
    }
    return visible;
}

constexpr int kStripTop = 420;

// Whole-word loops that the compiler vectorises by itself: on Linux x86-64
// they are built three times and the loader picks the widest the processor
// runs (the Windows loader cannot pick, so there they stay at SSE2). Not
// under ThreadSanitizer, whose instrumented resolver would run before its
// runtime is up.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define QUELTRAVINE_WIDEST_CLONE __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define QUELTRAVINE_WIDEST_CLONE
#endif

QUELTRAVINE_WIDEST_CLONE void xorSpanOnto(Pixel* back, const Pixel* picture, int count) {
    for (int i = 0; i < count; ++i) {
        back[i] ^= picture[i];
    }
}

// Scene 4's fast frame: a band of rows, each XORed and then given its strip
// pixels, while the row is still in the cache. Strip pixels replace what is
// under them, so those are not XORed at all.
struct ScrollerFrame {
    Pixel* back;
    const Pixel* picture;
    const Pixel* strip;
    int firstColumn;
    int firstX;
    int visible;
};

void flickerAndScrollerPart(void* context, int part, int parts) {
    const ScrollerFrame& f = *static_cast<const ScrollerFrame*>(context);
    const int firstRow = partFirstRow(part, parts);
    const int endRow = partFirstRow(part + 1, parts);
    for (int y = firstRow; y < endRow; ++y) {
        Pixel* row = f.back + y * kScreenWidth;
        const Pixel* pictureRow = f.picture + y * kScreenWidth;
        const int r = y - kStripTop;
        if (f.visible == 0 || r < 0 || r >= GreetingsStrip::height) {
            xorSpanOnto(row, pictureRow, kScreenWidth);
            continue;
        }
        const int endX = f.firstX + f.visible;
        xorSpanOnto(row, pictureRow, f.firstX);
        std::memcpy(row + f.firstX, f.strip + r * GreetingsStrip::width + f.firstColumn,
                    sizeof(Pixel) * f.visible);
        xorSpanOnto(row + endX, pictureRow + endX, kScreenWidth - endX);
    }
}

}  // namespace

void copyPictureStraightforward(Pixel* back, const Pixel* picture) {
    for (int i = 0; i < kScreenPixels; ++i) {
        back[i] = picture[i];
    }
}

void copyPicture(Pixel* back, const Pixel* picture) {
    std::memcpy(back, picture, VirtualBackBuffer::bytes);
}

// Row number XOR a per-pixel counter, ORed over the picture. Pixel 0 is left
// alone and keeps what the previous frame put there.
void xorPatternStraightforward(Pixel* back, const Pixel* picture, uint32_t n) {
    for (uint32_t i = 1; i < kScreenPixels; ++i) {
        back[i] = xorPatternPixel(i, n, picture[i]);
    }
}

// Row by row, so the row is a constant and the division goes.
QUELTRAVINE_WIDEST_CLONE void xorPattern(Pixel* back, const Pixel* picture, uint32_t n) {
    for (uint32_t y = 0; y < kScreenHeight; ++y) {
        const uint32_t rowStart = y * kScreenWidth;
        const uint32_t counter = n + rowStart;
        Pixel* out = back + rowStart;
        const Pixel* in = picture + rowStart;
        for (uint32_t x = y == 0 ? 1 : 0; x < kScreenWidth; ++x) {
            out[x] = (y ^ (counter + x)) | in[x];
        }
    }
}

// Random noise minus a sine wave, ORed over the picture. A negative
// difference sets the high bits and lights the pixel up.
void noiseAndWaveStraightforward(Pixel* back, const Pixel* picture, double accumulator,
                                 RandomGenerator* random) {
    for (int i = 0; i < kScreenPixels; ++i) {
        const int32_t firstDraw = random->draw();
        const int32_t secondDraw = random->draw();
        back[i] = noiseWavePixel(firstDraw, secondDraw, waveAt(i, accumulator), picture[i]);
    }
}

void noiseAndWave(Pixel* back, const Pixel* picture, double accumulator, RandomGenerator* random) {
    composeNoiseAndWaveFast(back, picture, accumulator, random);
}

// Picture 4 XORed on and off every frame, then the greetings strip scrolling
// left one column per centisecond over screen rows 420 to 468.
void flickerAndScrollerStraightforward(Pixel* back, const Pixel* picture, const Pixel* strip,
                                       double elapsedCentiseconds) {
    for (int i = 0; i < kScreenPixels; ++i) {
        back[i] ^= picture[i];
    }
    const int visible = visibleStripColumns(elapsedCentiseconds);
    for (int r = 0; r < GreetingsStrip::height; ++r) {
        Pixel* row = back + (kStripTop + r) * kScreenWidth;
        const Pixel* stripRow = strip + r * GreetingsStrip::width;
        for (int j = 0; j < visible; ++j) {
            row[visibleScreenColumn[j]] = stripRow[visibleStripColumn[j]];
        }
    }
}

// The visible strip columns are consecutive, and so are their screen
// columns, whenever k - offset is exact (any clock reading): each strip row
// is then one copy. Otherwise pixel by pixel.
void flickerAndScroller(Pixel* back, const Pixel* picture, const Pixel* strip,
                        double elapsedCentiseconds) {
    const int visible = visibleStripColumns(elapsedCentiseconds);
    const int firstColumn = visible > 0 ? visibleStripColumn[0] : 0;
    const int firstX = visible > 0 ? visibleScreenColumn[0] : 0;
    for (int j = 0; j < visible; ++j) {
        if (visibleStripColumn[j] != firstColumn + j || visibleScreenColumn[j] != firstX + j) {
            flickerAndScrollerStraightforward(back, picture, strip, elapsedCentiseconds);
            return;
        }
    }
    ScrollerFrame frame{back, picture, strip, firstColumn, firstX, visible};
    runFrameParts(flickerAndScrollerPart, &frame);
}

// Kept: a time equal to a threshold stays in the earlier scene.
int sceneFor(float elapsedSeconds) {
    const double t = elapsedSeconds;
    return int{t > 5.0} + int{t > 15.0} + int{t > 35.0} + int{t > 55.0};
}

void usePictures(const Pixel* const pictures[Picture::count], const Pixel* strip) {
    for (int i = 0; i < Picture::count; ++i)
        inputs.pictures[i] = pictures[i];
    inputs.strip = strip;
}

void useBackBuffer(Pixel* backBuffer) {
    inputs.backBuffer = backBuffer;
}

void useClock(MillisecondClock clock) {
    inputs.clock = clock;
}

void start() {
    state.startSeconds = static_cast<float>(readClock() * kMillisToSeconds);
    state.startCentiseconds = static_cast<float>(readClock() * kMillisToCentiseconds);
    state.frameAccumulator = 0.0f;
    startFrameWorkers();
}

void reset() {
    state = {};
    random = {};
}

void composeFrame() {
    // Products stay in double; only the differences are stored as float.
    state.elapsedSeconds = static_cast<float>(readClock() * kMillisToSeconds - state.startSeconds);
    state.elapsedCentiseconds =
        static_cast<float>(readClock() * kMillisToCentiseconds - state.startCentiseconds);

    // Kept: the music steers the pictures, and the sum may go negative.
    state.residueA = stepResidueA.load(std::memory_order_relaxed);
    state.residueB = stepResidueB.load(std::memory_order_relaxed);
    state.frameAccumulator = static_cast<float>(static_cast<double>(state.frameAccumulator) + 1.0 +
                                                state.residueA + state.residueB);

    state.scene = sceneFor(state.elapsedSeconds);
    Pixel* back = inputs.backBuffer;
    const Pixel* const* pictures = inputs.pictures;
    switch (state.scene) {
        case 0:
            copyPicture(back, pictures[0]);
            break;
        case 1:
            copyPicture(back, pictures[1]);
            break;
        case 2:
            xorPattern(back, pictures[2],
                       static_cast<uint32_t>(truncToInt(state.frameAccumulator)));
            break;
        case 3:
            noiseAndWave(back, pictures[3], state.frameAccumulator, &random);
            break;
        default:
            flickerAndScroller(back, pictures[4], inputs.strip, state.elapsedCentiseconds);
            break;
    }
}

}  // namespace SceneTimeline
