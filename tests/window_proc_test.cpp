#include "platform/window_proc.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/window_geometry.h"

namespace {

// What the window procedure asked of the platform, in order.
struct Call {
    enum Kind { quit, place, capture, release, fallback } kind;
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool move = false;
    bool operator==(const Call&) const = default;
};
std::vector<Call> calls;

WindowHandle const kWindow = reinterpret_cast<WindowHandle>(0x1234);

class WindowProcTest : public testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        windowActions.quit = [] { calls.push_back({Call::quit}); };
        windowActions.place = [](WindowHandle w, int32_t x, int32_t y, int32_t width,
                                 int32_t height, bool move) {
            EXPECT_EQ(w, kWindow);
            calls.push_back({Call::place, x, y, width, height, move});
        };
        windowActions.capture = [](WindowHandle) { calls.push_back({Call::capture}); };
        windowActions.releaseCapture = [](WindowHandle) { calls.push_back({Call::release}); };
        windowActions.defaultProc = [](WindowHandle, uint32_t message, uintptr_t,
                                       intptr_t) -> intptr_t {
            calls.push_back({Call::fallback, static_cast<int32_t>(message)});
            return 77;
        };
        displayMode = DisplayMode::windowed;
        startWindowGeometry();
    }

    static intptr_t key(uintptr_t code) {
        return windowProc(kWindow, WindowMessage::keyDown, code, 0);
    }
    static intptr_t move(int32_t x, int32_t y) {
        return windowProc(kWindow, WindowMessage::mouseMove, 0, pointerParam(x, y));
    }
    static intptr_t press(int32_t x, int32_t y) {
        return windowProc(kWindow, WindowMessage::leftButtonDown, 1, pointerParam(x, y));
    }
    static intptr_t release(int32_t x, int32_t y) {
        return windowProc(kWindow, WindowMessage::leftButtonUp, 0, pointerParam(x, y));
    }
};

TEST(PointerParam, RoundTripsSignedClientCoordinates) {
    for (int32_t v : {0, 1, 383, 384, 639, -1, -20, -32768, 32767}) {
        EXPECT_EQ(pointerX(pointerParam(v, 7)), v);
        EXPECT_EQ(pointerY(pointerParam(7, v)), v);
    }
}

TEST_F(WindowProcTest, StartValues) {
    const WindowGeometry& g = windowGeometry;
    EXPECT_EQ((std::vector<int32_t>{g.x, g.y, g.width, g.height, g.anchorX, g.anchorY, g.dragging}),
              (std::vector<int32_t>{0, 0, 640, 480, -1, -1, 0}));
}

TEST_F(WindowProcTest, EscapeAndDestroyQuitInBothModes) {
    for (DisplayMode mode : {DisplayMode::windowed, DisplayMode::fullscreen}) {
        displayMode = mode;
        calls.clear();
        EXPECT_EQ(key(VirtualKey::escape), 0);
        EXPECT_EQ(windowProc(kWindow, WindowMessage::destroy, 0, 0), 0);
        EXPECT_EQ(calls, (std::vector<Call>{{Call::quit}, {Call::quit}}));
    }
}

TEST_F(WindowProcTest, OtherKeysAreSwallowedWithoutDefaultHandling) {
    EXPECT_EQ(key(VirtualKey::other), 0);
    EXPECT_EQ(key('A'), 0);
    EXPECT_EQ(key(13), 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(WindowProcTest, UnhandledMessagesGetTheDefaultResult) {
    EXPECT_EQ(windowProc(kWindow, 0x000F, 0, 0), 77);  // a paint request
    EXPECT_EQ(windowProc(kWindow, 0x0203, 0, 0), 77);  // a double click
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, Call::fallback);
    EXPECT_EQ(calls[0].x, 0x000F);
}

TEST_F(WindowProcTest, ArrowsResizeByFourKeepingTheCornerAndRaise) {
    key(VirtualKey::right);
    key(VirtualKey::down);
    key(VirtualKey::left);
    key(VirtualKey::up);
    key(VirtualKey::up);
    EXPECT_EQ(calls, (std::vector<Call>{{Call::place, 0, 0, 644, 480, false},
                                        {Call::place, 0, 0, 644, 484, false},
                                        {Call::place, 0, 0, 640, 484, false},
                                        {Call::place, 0, 0, 640, 480, false},
                                        {Call::place, 0, 0, 640, 476, false}}));
}

TEST_F(WindowProcTest, TenAutoRepeatedRightsWidenTo680) {
    windowGeometry.x = 50;
    windowGeometry.y = 60;
    for (int i = 0; i < 10; ++i) {
        key(VirtualKey::right);
    }
    EXPECT_EQ(windowGeometry.width, 680);
    EXPECT_EQ(windowGeometry.height, 480);
    EXPECT_EQ(windowGeometry.x, 50);
    EXPECT_EQ(windowGeometry.y, 60);
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls.back(), (Call{Call::place, 0, 0, 680, 480, false}));
}

TEST_F(WindowProcTest, SizeNeverGoesBelowOneStep) {
    for (int i = 0; i < 200; ++i) {
        key(VirtualKey::left);
        key(VirtualKey::up);
    }
    EXPECT_EQ(windowGeometry.width, kResizeStep);
    EXPECT_EQ(windowGeometry.height, kResizeStep);
    EXPECT_EQ(calls.back(), (Call{Call::place, 0, 0, 4, 4, false}));
    key(VirtualKey::right);
    EXPECT_EQ(windowGeometry.width, 8);
}

TEST_F(WindowProcTest, FullscreenIgnoresArrowsAndMouse) {
    displayMode = DisplayMode::fullscreen;
    for (uintptr_t k : {VirtualKey::left, VirtualKey::up, VirtualKey::right, VirtualKey::down}) {
        EXPECT_EQ(key(k), 0);
    }
    EXPECT_EQ(press(100, 50), 0);
    EXPECT_EQ(move(100, 50), 0);
    EXPECT_EQ(move(130, 40), 0);
    EXPECT_EQ(release(130, 40), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(windowGeometry.width, 640);
    EXPECT_EQ(windowGeometry.dragging, 0);
    EXPECT_EQ(windowGeometry.anchorX, -1);
}

TEST_F(WindowProcTest, DragMovesByThePointerOffsetAndKeepsTheAnchor) {
    press(100, 50);
    move(100, 50);  // records the grab point
    move(130, 40);
    EXPECT_EQ(calls, (std::vector<Call>{{Call::capture}, {Call::place, 30, -10, 640, 480, true}}));
    EXPECT_EQ(windowGeometry.anchorX, 100);
    EXPECT_EQ(windowGeometry.anchorY, 50);
    // The window moved under the pointer: the same client point means no move.
    move(100, 50);
    EXPECT_EQ(calls.back(), (Call{Call::place, 30, -10, 640, 480, true}));
}

TEST_F(WindowProcTest, PointerLeftOfTheWindowMovesItLeft) {
    windowGeometry.x = 300;
    press(100, 50);
    move(100, 50);
    move(-20, 50);
    EXPECT_EQ(windowGeometry.x, 180);
    EXPECT_EQ(calls.back(), (Call{Call::place, 180, 0, 640, 480, true}));
}

TEST_F(WindowProcTest, DragKeepsTheResizedSize) {
    key(VirtualKey::right);
    press(10, 10);
    move(10, 10);
    move(15, 12);
    EXPECT_EQ(calls.back(), (Call{Call::place, 5, 2, 644, 480, true}));
}

TEST_F(WindowProcTest, OnlyTheTop384RowsAreAHandle) {
    press(10, 383);
    EXPECT_EQ(windowGeometry.dragging, 1);
    EXPECT_EQ(windowGeometry.anchorX, -1);
    release(10, 383);
    EXPECT_EQ(windowGeometry.dragging, 0);

    calls.clear();
    press(10, 384);
    EXPECT_EQ(windowGeometry.dragging, 0);
    move(10, 384);
    move(50, 300);
    release(50, 300);  // still clears the drag and releases the capture
    EXPECT_EQ(calls, (std::vector<Call>{{Call::release}}));
    EXPECT_EQ(windowGeometry.x, 0);
    EXPECT_EQ(windowGeometry.y, 0);
}

TEST_F(WindowProcTest, PressAndReleaseWithoutMoveNeverMoves) {
    move(200, 100);  // idle moves only record the anchor
    press(200, 100);
    release(200, 100);
    move(250, 150);
    EXPECT_EQ(calls, (std::vector<Call>{{Call::capture}, {Call::release}}));
    EXPECT_EQ(windowGeometry.anchorX, 250);
    EXPECT_EQ(windowGeometry.anchorY, 150);
}

}  // namespace
