#include "app/demo_sequence.h"

#include <cstdlib>
#include <cstring>

#include "core/demo_types.h"
#include "pictures/picture_loader.h"
#include "platform/app_window.h"
#include "platform/audio_output.h"
#include "platform/window_geometry.h"
#include "platform/window_proc.h"
#include "scenes/scene_timeline.h"

namespace {

// Every buffer lives until the process ends.
Pixel* allocatePixels(size_t bytes) {
    void* memory = std::malloc(bytes);
    if (memory == nullptr) {
        failWithMessage("Not enough memory for pictures", "error");
    }
    return static_cast<Pixel*>(memory);
}

}  // namespace

void startDemo(DisplayDevice* display) {
    display->init(displayMode, 0);
    startWindowGeometry();

    auto* backBuffer = static_cast<Pixel*>(std::malloc(VirtualBackBuffer::bytes));
    display->frameSource = backBuffer;
    pumpMessages();
    if (backBuffer == nullptr) {
        showOwnerlessMessageBox("Not enough memory for virtual backbuffer", "error");
        std::exit(1);
    }
    std::memset(backBuffer, 0, VirtualBackBuffer::bytes);
    SceneTimeline::inputs.backBuffer = backBuffer;

    Pixel* pictures[Picture::count];
    for (Pixel*& picture : pictures) {
        picture = allocatePixels(Picture::bytes);
    }
    Pixel* strip = allocatePixels(GreetingsStrip::bytes);

    // Each buffer is zeroed first, so a picture that fails to decode shows
    // black rather than whatever the memory held. (Zeroing right after the
    // allocation would let the compiler turn malloc into calloc.)
    for (int i = 0; i < Picture::count; ++i) {
        std::memset(pictures[i], 0, Picture::bytes);
        loadPicture(kPictureFiles[i], pictures[i], Picture::pixels);
        SceneTimeline::inputs.pictures[i] = pictures[i];
    }
    std::memset(strip, 0, GreetingsStrip::bytes);
    loadPicture(kStripFile, strip, GreetingsStrip::pixels);
    SceneTimeline::inputs.strip = strip;

    startAudio();
    startAudio();

    SceneTimeline::inputs.clock = millisecondClock;
    SceneTimeline::start();
}

void runFrame(DisplayDevice* display) {
    SceneTimeline::composeFrame();
    display->uploadFrame();
    display->present();
    pumpMessages();
}

void runDemo(DisplayDevice* display) {
    startDemo(display);
    for (;;) {
        runFrame(display);
    }
}
