// The application window, its message drain and the quit path. One window
// exists; every call here runs on the main thread.
#pragma once

#include <cstdint>

#include "core/demo_types.h"
#include "platform/window_proc.h"

// The window's class name and its titles, windowed and fullscreen.
inline constexpr const char* kWindowClass = "QUELTRAVINE";
constexpr const char* windowTitleFor(DisplayMode mode) {
    return mode == DisplayMode::windowed ? "BWAHAHHAHAHAHAHHAHAHAHAHAH" : "BWAHAHAHAHAHAHAH";
}

// The window once created, set by the backend's createAppWindow, which owns
// it; null before (message boxes then have no owner).
extern WindowHandle appWindow;

// Creates and shows the borderless window for the mode (windowed: 640x480,
// fullscreen: the size of the screen) with the mouse cursor hidden, and
// installs the window actions the window procedure uses.
WindowHandle createAppWindow(DisplayMode mode);

// Empties the event queue, handing window events to windowProc. A quit
// request that is not the window's (a signal) ends the process with 0 at once.
void pumpMessages();

// Stops the audio and ends the process with exit status 0.
[[noreturn]] void quitDemo();

// Writes "CAPTION: TEXT" to standard error, then shows a message box owned
// by the window (if there is one yet) and waits until it is dismissed.
void showMessageBox(const char* text, const char* caption);

// The same with no owner window: for start-up failures that are not the
// window's (a missing picture, no memory for the back buffer).
void showOwnerlessMessageBox(const char* text, const char* caption);

// Shows the message box, then ends the process with exit status 1.
[[noreturn]] void failWithMessage(const char* text, const char* caption);

// Supplied by each backend (platform/failure.cpp does the rest): the
// native message box, which waits until it is dismissed, and the end of the
// process with a status.
void showNativeMessageBox(WindowHandle owner, const char* text, const char* caption);
[[noreturn]] void endProcess(int status);

// Milliseconds from a steady clock, wrapping at 2^32.
uint32_t millisecondClock();
