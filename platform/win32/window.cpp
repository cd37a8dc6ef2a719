// The application window over Win32: a registered class, a borderless
// popup and the message queue, handed to the shared window procedure. Win32
// only; nothing of it is emulated elsewhere.
#include "platform/win32/window.h"

#include <cstdio>
#include <cstdlib>

WindowHandle appWindow = nullptr;

namespace {

// Reused by every drain of the queue.
MSG message;

HWND win32Window(WindowHandle window) {
    return static_cast<HWND>(window);
}

void placeWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                 bool move) {
    SetWindowPos(win32Window(window), HWND_TOPMOST, x, y, width, height, move ? 0 : SWP_NOMOVE);
}

void captureMouse(WindowHandle window) {
    SetCapture(win32Window(window));
}

void releaseMouse(WindowHandle) {
    ReleaseCapture();
}

intptr_t defaultHandling(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    return DefWindowProcA(win32Window(window), msg, wParam, lParam);
}

LRESULT CALLBACK classWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    return windowProc(window, msg, wParam, lParam);
}

}  // namespace

HWND createAppWindow(HINSTANCE instance, int showCommand, DisplayMode mode) {
    // Creation already sends messages through the window procedure.
    windowActions = {quitDemo, placeWindow, captureMouse, releaseMouse, defaultHandling};

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = classWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kWindowClass;
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&windowClass);

    const bool windowed = mode == DisplayMode::windowed;
    const int width = windowed ? kScreenWidth : GetSystemMetrics(SM_CXSCREEN);
    const int height = windowed ? kScreenHeight : GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExA(0, kWindowClass, windowTitleFor(mode), WS_POPUP, 0, 0, width,
                                  height, nullptr, nullptr, instance, nullptr);
    appWindow = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    ShowCursor(FALSE);
    return window;
}

void pumpMessages() {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            endProcess(0);  // kept: not the window's quit, so the audio is not stopped first
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void showNativeMessageBox(WindowHandle owner, const char* text, const char* caption) {
    MessageBoxA(win32Window(owner), text, caption, MB_OK);
}

// ExitProcess, not exit: the C runtime's clean-up would run under the audio
// callbacks. Standard error is flushed first.
void endProcess(int status) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}

uint32_t millisecondClock() {
    return timeGetTime();
}
