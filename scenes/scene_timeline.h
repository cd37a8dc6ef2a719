// The scene timeline: once per frame it reads the clock, advances the frame
// accumulator and composes one of five scenes into the back buffer.
#pragma once

#include <cstdint>

#include "core/demo_types.h"
#include "core/show_maths.h"

// A millisecond counter that wraps at 2^32: the system's in the player, a
// virtual one in tests and in the offline renderer.
using MillisecondClock = uint32_t (*)();

namespace SceneTimeline {

// Scene numbers by elapsed seconds: 0 up to 5 s, 1 up to 15 s, 2 up to 35 s,
// 3 up to 55 s, 4 for ever after. A value equal to a threshold stays below it.
inline constexpr int kSceneCount = 5;

// What the timeline reads and writes; it owns none of it.
struct Inputs {
    Pixel* backBuffer = nullptr;
    const Pixel* pictures[Picture::count] = {};
    const Pixel* strip = nullptr;
    MillisecondClock clock = nullptr;
};

struct State {
    float startSeconds = 0;
    float startCentiseconds = 0;
    float elapsedSeconds = 0;       // chooses the scene
    float elapsedCentiseconds = 0;  // positions the greetings strip
    float frameAccumulator = 0;     // grows once per frame, not with the clock
    // What the last frame saw, for logs and tests.
    int32_t residueA = 0;
    int32_t residueB = 0;
    int scene = 0;
};

// Module state of the timeline, main thread only. Its inputs are read
// anywhere and written only through the calls below.
extern Inputs inputs;

// The pictures and the greetings strip the scenes are made of.
void usePictures(const Pixel* const pictures[Picture::count], const Pixel* strip);
// Where frames are composed, and the clock they are timed by.
void useBackBuffer(Pixel* backBuffer);
void useClock(MillisecondClock clock);
extern State state;
extern RandomGenerator random;  // the noise of scene 3

// Takes the two start readings of the clock and resets the accumulator.
void start();
// Back to the state before the first start, noise included: for a process
// that shows the timeline more than once (the tests).
void reset();

// Composes one frame into inputs.backBuffer.
void composeFrame();

// The scene for an elapsed time in seconds.
int sceneFor(float elapsedSeconds);

// The scenes' kernels. Each *Straightforward one is a single pass over the
// pixels in order, exactly as the effect is defined: the reference that the
// fast kernels composeFrame uses are tested and measured against. Both
// versions of a kernel write the same pixels and leave the generator in the
// same state.
void copyPictureStraightforward(Pixel* back, const Pixel* picture);
void copyPicture(Pixel* back, const Pixel* picture);
// n is truncToInt(frameAccumulator).
void xorPatternStraightforward(Pixel* back, const Pixel* picture, uint32_t n);
void xorPattern(Pixel* back, const Pixel* picture, uint32_t n);
void noiseAndWaveStraightforward(Pixel* back, const Pixel* picture, double accumulator,
                                 RandomGenerator* random);
void noiseAndWave(Pixel* back, const Pixel* picture, double accumulator, RandomGenerator* random);
void flickerAndScrollerStraightforward(Pixel* back, const Pixel* picture, const Pixel* strip,
                                       double elapsedCentiseconds);
void flickerAndScroller(Pixel* back, const Pixel* picture, const Pixel* strip,
                        double elapsedCentiseconds);

// Per-pixel rules of the effects, shared by the frame loops and the tests.

// Scene 2: the row XOR a counter that starts at n + 1 for pixel 1 and wraps.
inline Pixel xorPatternPixel(uint32_t i, uint32_t n, Pixel picture) {
    return ((i / kScreenWidth) ^ (n + i)) | picture;
}

// Scene 3: the wave's height at pixel i, -1000 to 1000, truncated toward zero.
inline int32_t waveAt(int i, double accumulator) {
    return truncToInt(maths::sin(i * 0.001 + accumulator) * -1000.0);
}

// Scene 3: two draws make the noise (the first the divisor, the second the
// dividend); noise minus wave wraps as a 32-bit word before the OR.
inline Pixel noiseWavePixel(int32_t firstDraw, int32_t secondDraw, int32_t wave, Pixel picture) {
    const int32_t divisor = firstDraw % 240 + 10;
    const int32_t noise = secondDraw % divisor;
    return (static_cast<uint32_t>(noise) - static_cast<uint32_t>(wave)) | picture;
}

}  // namespace SceneTimeline
