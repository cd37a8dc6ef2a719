#include "app/demo_sequence.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/demo_types.h"
#include "pictures/show_pictures.h"
#include "platform/app_window.h"
#include "platform/audio_output.h"
#include "platform/window_geometry.h"
#include "platform/window_proc.h"
#include "scenes/flash_limiter.h"
#include "scenes/scene_timeline.h"

namespace {

// QUELTRAVINE_REDUCE_FLASHES (any value but empty or "0") shows the show with
// at most three flashes a second, as the renderer's --reduce-flashes does;
// the frames composed, and so everything the scenes read back, are the same.
bool flashesReduced = false;  // asked for by the entry or the environment
uint32_t lastClockMs = 0;
int64_t shownMs = 0;  // the show's milliseconds, past the clock's wrap

bool flashReductionAsked() {
    const char* value = std::getenv("QUELTRAVINE_REDUCE_FLASHES");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// Every buffer lives until the process ends.
Pixel* allocatePixels(size_t bytes) {
    void* memory = std::malloc(bytes);
    if (memory == nullptr) {
        failWithMessage("Not enough memory for pictures", "error");
    }
    return static_cast<Pixel*>(memory);
}

}  // namespace

void askForReducedFlashes() {
    flashesReduced = true;
}

void startDemo(DisplayDevice* display) {
    // Kept: waitForFlip 0. Fullscreen is paced by the display all the same
    // (a flip waits for the vertical blank); the window is not (docs/quirks.md).
    display->init(displayMode, 0);
    startWindowGeometry();

    auto* backBuffer = static_cast<Pixel*>(std::malloc(VirtualBackBuffer::bytes));
    display->frameSource = backBuffer;
    // Kept: the allocation is checked only after the first drain of the
    // queue, so a quit there ends the demo before anything loads.
    pumpMessages();
    if (backBuffer == nullptr) {
        showOwnerlessMessageBox("Not enough memory for virtual backbuffer", "error");
        endProcess(1);
    }
    std::memset(backBuffer, 0, VirtualBackBuffer::bytes);
    SceneTimeline::useBackBuffer(backBuffer);

    Pixel* pictures[Picture::count];
    for (Pixel*& picture : pictures) {
        picture = allocatePixels(Picture::bytes);
    }
    Pixel* strip = allocatePixels(GreetingsStrip::bytes);
    // From the current folder, as the demo always has.
    if (!loadShowPictures("", pictures, strip).empty())
        endProcess(1);  // a missing picture is a failure, not a normal end

    // Kept: the audio is started twice; the second call leaves the stream
    // playing (platform/audio_output.h).
    startAudio();
    startAudio();

    // Kept: the time base is taken last, after both starts.

    SceneTimeline::useClock(millisecondClock);
    SceneTimeline::start();
    flashesReduced = flashesReduced || flashReductionAsked();
    if (flashesReduced) {
        startFlashLimiter(1000);  // milliseconds
        lastClockMs = millisecondClock();
    }
}

void runFrame(DisplayDevice* display) {
    SceneTimeline::composeFrame();
    if (flashesReduced) {
        const uint32_t now = millisecondClock();
        shownMs += static_cast<uint32_t>(now - lastClockMs);
        lastClockMs = now;
        display->frameSource = limitFlashes(SceneTimeline::inputs.backBuffer, shownMs, nullptr);
    }
    display->uploadFrame();
    display->present();
    pumpMessages();
}

void runDemo(WindowHandle window) {
    auto* display = new (std::nothrow) DisplayDevice(window);
    if (display == nullptr) {
        failWithMessage("Not enough memory for the display device", "error");
    }
    startDemo(display);
    // Kept: no frame limiter; the XOR pattern and the wave follow the frame
    // count, so they run faster on a faster display, and in the window on a
    // faster machine.
    for (;;) {
        runFrame(display);
    }
}
