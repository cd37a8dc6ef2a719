// Copying the composed frame into a display surface whose rows may be
// longer than the frame's.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/demo_types.h"

// Copies 480 rows of 640 pixels from the back buffer to destination, whose
// rows start pitchPixels apart; what lies past each row is left alone.
inline void copyFrameRows(const Pixel* source, Pixel* destination, int32_t pitchPixels) {
    for (int row = 0; row < kScreenHeight; ++row) {
        std::memcpy(destination, source, kScreenWidth * sizeof(Pixel));
        source += kScreenWidth;
        destination += pitchPixels;
    }
}
