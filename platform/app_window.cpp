// The failure and quit paths of every platform: a line on standard error, the
// backend's message box, the end of the process with a status.
#include "platform/app_window.h"

#include <cstdio>

#include "platform/audio_output.h"

WindowHandle appWindow = nullptr;

const char* windowTitleFor(DisplayMode mode) {
    return mode == DisplayMode::windowed ? "BWAHAHHAHAHAHAHHAHAHAHAHAH" : "BWAHAHAHAHAHAHAH";
}

void quitDemo() {
    stopAudio();
    endProcess(0);
}

void showMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    showNativeMessageBox(appWindow, text, caption);
}

void showOwnerlessMessageBox(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    showNativeMessageBox(nullptr, text, caption);
}

void failWithMessage(const char* text, const char* caption) {
    showMessageBox(text, caption);
    endProcess(1);
}
