#include "platform/letterbox.h"

#include "core/demo_types.h"

Letterbox letterboxFor(int32_t screenWidth, int32_t screenHeight) {
    Letterbox box;
    // The larger 4:3 rectangle that fits; integer arithmetic, so the same
    // screen gives the same pixels everywhere.
    if (static_cast<int64_t>(screenWidth) * kScreenHeight <=
        static_cast<int64_t>(screenHeight) * kScreenWidth) {
        box.width = screenWidth;
        box.height =
            static_cast<int32_t>(static_cast<int64_t>(screenWidth) * kScreenHeight / kScreenWidth);
    } else {
        box.height = screenHeight;
        box.width =
            static_cast<int32_t>(static_cast<int64_t>(screenHeight) * kScreenWidth / kScreenHeight);
    }
    box.x = (screenWidth - box.width) / 2;
    box.y = (screenHeight - box.height) / 2;
    // Round the scale up: the filter then only shrinks by less than a whole
    // pixel, which blends edges without ever dropping a source pixel.
    const int32_t whole = (box.width + kScreenWidth - 1) / kScreenWidth;
    box.wholeFactor = whole < 1 ? 1 : whole;
    return box;
}
