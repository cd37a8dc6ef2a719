// What every display backend does alike: the upload of a frame and the
// report of a failed call.
#include "platform/display_device.h"

#include <cstdio>

#include "platform/app_window.h"
#include "platform/frame_copy.h"

void DisplayDevice::uploadFrame() {
    Pixel* destination = lock();
    if (destination == nullptr) {
        return;
    }
    copyFrameRows(frameSource, destination, pitchPixels);
    unlock();
}

void DisplayDevice::reportError(int32_t result) {
    if (result == 0) {
        return;
    }
    // The backend's text may live in a buffer the message box rewrites.
    char text[512];
    std::snprintf(text, sizeof text, "%s", displayErrorReason(result));
    failWithMessage(text, text);
}
