// The display device over DirectDraw 7 (Win32 only): flips or blits the
// back surface. A display that refuses 640x480x32 cannot be letterboxed:
// the refusal is shown by its DirectDraw name and the demo ends.
#include <windows.h>

#include <ddraw.h>

#include <cstring>

#include "platform/app_window.h"
#include "platform/display_device.h"
#include "platform/win32/display_errors.h"

struct DisplaySurfaces {
    RECT screenRect{};
    IDirectDraw7* directDraw = nullptr;
    IDirectDrawSurface7* frontSurface = nullptr;
    DDSURFACEDESC2 frontDesc{};
    IDirectDrawSurface7* backSurface = nullptr;
    DDSURFACEDESC2 backDesc{};
};

namespace {

DisplaySurfaces directDrawSurfaces;

constexpr DWORD kWindowedBackCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
constexpr DWORD kFlipChainCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;

// Every description handed to DirectDraw starts zeroed with its size set.
DDSURFACEDESC2 emptyDescription() {
    DDSURFACEDESC2 description;
    std::memset(&description, 0, sizeof description);
    description.dwSize = sizeof description;
    return description;
}

// Results a call may return without ending the demo: 0 and DDERR_SURFACEBUSY
// (kept: a busy surface is not a failure).
void tolerate(DisplayDevice& device, HRESULT result) {
    if (result != DDERR_SURFACEBUSY) {
        device.reportError(result);
    }
}

// A creation call: tolerant, except that "busy" with no object made is a
// failure, so no null interface is ever used.
void created(DisplayDevice& device, HRESULT result, const void* object) {
    if (result == DDERR_SURFACEBUSY && object == nullptr) {
        device.reportError(result);
    }
    tolerate(device, result);
}

}  // namespace

DisplayDevice::DisplayDevice(WindowHandle appWindow)
    : window(appWindow), surfaces(&directDrawSurfaces) {}

const char* displayErrorReason(int32_t result) {
    return displayErrorText(static_cast<uint32_t>(result));
}

void DisplayDevice::init(DisplayMode displayMode, uint8_t waitForFlipByte) {
    mode = displayMode;
    waitForFlip = waitForFlipByte;
    HWND hwnd = static_cast<HWND>(window);
    IDirectDraw7*& directDraw = surfaces->directDraw;
    IDirectDrawSurface7*& frontSurface = surfaces->frontSurface;
    IDirectDrawSurface7*& backSurface = surfaces->backSurface;
    RECT& screenRect = surfaces->screenRect;
    directDraw = nullptr;

    reportError(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7,
                                   nullptr));

    if (mode == DisplayMode::windowed) {
        reportError(directDraw->SetCooperativeLevel(hwnd, DDSCL_NORMAL));

        DDSURFACEDESC2 primary = emptyDescription();
        primary.dwFlags = DDSD_CAPS;
        primary.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        created(*this, directDraw->CreateSurface(&primary, &frontSurface, nullptr), frontSurface);

        // The client area in desktop coordinates: the back surface's size.
        GetClientRect(hwnd, &screenRect);
        ClientToScreen(hwnd, reinterpret_cast<POINT*>(&screenRect.left));
        ClientToScreen(hwnd, reinterpret_cast<POINT*>(&screenRect.right));

        DDSURFACEDESC2 back = emptyDescription();
        back.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
        back.ddsCaps.dwCaps = kWindowedBackCaps;
        back.dwWidth = static_cast<DWORD>(screenRect.right - screenRect.left);
        back.dwHeight = static_cast<DWORD>(screenRect.bottom - screenRect.top);
        created(*this, directDraw->CreateSurface(&back, &backSurface, nullptr), backSurface);

        IDirectDrawClipper* clipper = nullptr;
        created(*this, directDraw->CreateClipper(0, &clipper, nullptr), clipper);
        // The primary surface keeps the clipper alive.
        clipper->SetHWnd(0, hwnd);
        frontSurface->SetClipper(clipper);
        clipper->Release();

        DDSURFACEDESC2 desktop = emptyDescription();
        directDraw->GetDisplayMode(&desktop);
        if (desktop.ddpfPixelFormat.dwRGBBitCount != 32) {
            failWithMessage("32bpp desktop please ;)", "Error");
        }
    } else if (mode == DisplayMode::fullscreen) {
        reportError(directDraw->SetCooperativeLevel(hwnd, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN));
        reportError(directDraw->SetDisplayMode(kScreenWidth, kScreenHeight, 32, 0, 0));

        DDSURFACEDESC2 chain = emptyDescription();
        chain.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        chain.ddsCaps.dwCaps = kFlipChainCaps;
        chain.dwBackBufferCount = 1;
        created(*this, directDraw->CreateSurface(&chain, &frontSurface, nullptr), frontSurface);

        DDSCAPS2 backCaps{};
        backCaps.dwCaps = DDSCAPS_BACKBUFFER;
        created(*this, frontSurface->GetAttachedSurface(&backCaps, &backSurface), backSurface);
    }

    surfaces->frontDesc = emptyDescription();
    tolerate(*this, frontSurface->GetSurfaceDesc(&surfaces->frontDesc));
    surfaces->backDesc = emptyDescription();
    tolerate(*this, backSurface->GetSurfaceDesc(&surfaces->backDesc));
    pitchPixels = surfaces->backDesc.lPitch >> 2;
}

void DisplayDevice::present() {
    IDirectDrawSurface7* frontSurface = surfaces->frontSurface;
    RECT& screenRect = surfaces->screenRect;
    HRESULT result = DD_OK;
    if (mode == DisplayMode::fullscreen) {
        result = frontSurface->Flip(nullptr, waitForFlip != 0 ? DDFLIP_WAIT : 0);
    } else if (mode == DisplayMode::windowed) {
        GetWindowRect(static_cast<HWND>(window), &screenRect);
        result =
            frontSurface->Blt(&screenRect, surfaces->backSurface, nullptr, DDBLT_WAIT, nullptr);
    }
    if (result == DDERR_SURFACELOST) {
        // The frame is dropped; the next one rewrites the back surface whole.
        result = frontSurface->Restore();
    }
    tolerate(*this, result);
}

Pixel* DisplayDevice::lock() {
    DDSURFACEDESC2 description = emptyDescription();
    const HRESULT result = surfaces->backSurface->Lock(nullptr, &description, DDLOCK_WAIT, nullptr);
    if (result != DD_OK) {
        reportError(result);
        return nullptr;
    }
    return static_cast<Pixel*>(description.lpSurface);
}

void DisplayDevice::unlock() {
    reportError(surfaces->backSurface->Unlock(nullptr));
}
