// The failure and quit paths of every platform: a line on standard error, the
// backend's message box, the end of the process with a status. A backend
// supplies only the native box and the native end.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/app_window.h"
#include "platform/audio_output.h"

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

void failAudio(const char* format, ...) {
    std::fputs("queltravine: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    endProcess(1);
}
