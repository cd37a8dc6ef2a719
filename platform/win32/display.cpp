// The display device over DirectDraw 7 (Win32 only): flips or blits the
// back surface. A display that refuses 640x480x32 cannot be letterboxed:
// the refusal is shown by its DirectDraw name and the demo ends.
#include "platform/win32/display.h"

#include <cstdio>
#include <cstring>

#include "platform/display_errors.h"
#include "platform/frame_copy.h"

namespace {

constexpr DWORD kWindowedBackCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
constexpr DWORD kFlipChainCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;

// Every description handed to DirectDraw starts zeroed with its size set.
DDSURFACEDESC2 emptyDescription() {
    DDSURFACEDESC2 description;
    std::memset(&description, 0, sizeof description);
    description.dwSize = sizeof description;
    return description;
}

}  // namespace

DisplayDevice::DisplayDevice(HWND appWindow) : window(appWindow) {}

void DisplayDevice::tolerate(HRESULT result) {
    if (result != DDERR_SURFACEBUSY) {
        reportError(result);
    }
}

void DisplayDevice::created(HRESULT result, const void* object) {
    if (result == DDERR_SURFACEBUSY && object == nullptr) {
        reportError(result);
    }
    tolerate(result);
}

bool DisplayDevice::init(DisplayMode displayMode, uint8_t waitForFlipByte) {
    mode = displayMode;
    waitForFlip = waitForFlipByte;
    directDraw = nullptr;

    reportError(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7,
                                   nullptr));

    if (mode == DisplayMode::windowed) {
        reportError(directDraw->SetCooperativeLevel(window, DDSCL_NORMAL));

        DDSURFACEDESC2 primary = emptyDescription();
        primary.dwFlags = DDSD_CAPS;
        primary.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        created(directDraw->CreateSurface(&primary, &frontSurface, nullptr), frontSurface);

        // The client area in desktop coordinates: the back surface's size.
        GetClientRect(window, &screenRect);
        ClientToScreen(window, reinterpret_cast<POINT*>(&screenRect.left));
        ClientToScreen(window, reinterpret_cast<POINT*>(&screenRect.right));

        DDSURFACEDESC2 back = emptyDescription();
        back.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
        back.ddsCaps.dwCaps = kWindowedBackCaps;
        back.dwWidth = static_cast<DWORD>(screenRect.right - screenRect.left);
        back.dwHeight = static_cast<DWORD>(screenRect.bottom - screenRect.top);
        created(directDraw->CreateSurface(&back, &backSurface, nullptr), backSurface);

        IDirectDrawClipper* clipper = nullptr;
        created(directDraw->CreateClipper(0, &clipper, nullptr), clipper);
        // The primary surface keeps the clipper alive.
        clipper->SetHWnd(0, window);
        frontSurface->SetClipper(clipper);
        clipper->Release();

        DDSURFACEDESC2 desktop = emptyDescription();
        directDraw->GetDisplayMode(&desktop);
        if (desktop.ddpfPixelFormat.dwRGBBitCount != 32) {
            std::fputs("Error: 32bpp desktop please ;)\n", stderr);
            MessageBoxA(window, "32bpp desktop please ;)", "Error", MB_OK);
            ExitProcess(1);
        }
    } else if (mode == DisplayMode::fullscreen) {
        reportError(directDraw->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN));
        reportError(directDraw->SetDisplayMode(kScreenWidth, kScreenHeight, 32, 0, 0));

        DDSURFACEDESC2 chain = emptyDescription();
        chain.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        chain.ddsCaps.dwCaps = kFlipChainCaps;
        chain.dwBackBufferCount = 1;
        created(directDraw->CreateSurface(&chain, &frontSurface, nullptr), frontSurface);

        DDSCAPS2 backCaps{};
        backCaps.dwCaps = DDSCAPS_BACKBUFFER;
        created(frontSurface->GetAttachedSurface(&backCaps, &backSurface), backSurface);
    }

    frontDesc = emptyDescription();
    tolerate(frontSurface->GetSurfaceDesc(&frontDesc));
    backDesc = emptyDescription();
    tolerate(backSurface->GetSurfaceDesc(&backDesc));
    pitchPixels = backDesc.lPitch >> 2;
    return true;
}

void DisplayDevice::present() {
    HRESULT result = DD_OK;
    if (mode == DisplayMode::fullscreen) {
        result = frontSurface->Flip(nullptr, waitForFlip != 0 ? DDFLIP_WAIT : 0);
    } else if (mode == DisplayMode::windowed) {
        GetWindowRect(window, &screenRect);
        result = frontSurface->Blt(&screenRect, backSurface, nullptr, DDBLT_WAIT, nullptr);
    }
    if (result == DDERR_SURFACELOST) {
        // The frame is dropped; the next one rewrites the back surface whole.
        result = frontSurface->Restore();
    }
    tolerate(result);
}

Pixel* DisplayDevice::lock() {
    DDSURFACEDESC2 description = emptyDescription();
    const HRESULT result = backSurface->Lock(nullptr, &description, DDLOCK_WAIT, nullptr);
    if (result != DD_OK) {
        reportError(result);
        return nullptr;
    }
    return static_cast<Pixel*>(description.lpSurface);
}

void DisplayDevice::unlock() {
    reportError(backSurface->Unlock(nullptr));
}

void DisplayDevice::uploadFrame() {
    Pixel* destination = lock();
    if (destination == nullptr) {
        return;
    }
    copyFrameRows(frameSource, destination, pitchPixels);
    unlock();
}

void DisplayDevice::reportError(HRESULT result) {
    if (result == DD_OK) {
        return;
    }
    char text[512];
    std::snprintf(text, sizeof text, "%s", displayErrorText(static_cast<uint32_t>(result)));
    std::fprintf(stderr, "%s: %s\n", text, text);
    MessageBoxA(window, text, text, MB_OK);
    // A failure is not a normal end.
    ExitProcess(1);
}
