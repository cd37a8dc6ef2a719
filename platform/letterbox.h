// Where a 640x480 frame goes on a screen of another size, and how it gets
// there sharply: enlarged by a whole factor with every pixel copied, then
// filtered linearly by what remains (a fraction above or below 1). Each
// source pixel then covers the same area to within one screen pixel, and
// only that one pixel at its edge is blended; a whole-factor screen gets
// plain copies.
#pragma once

#include <cstdint>

struct Letterbox {
    int32_t x = 0;  // the frame's rectangle on the screen, 4:3 and centred
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t wholeFactor = 1;  // the nearest-neighbour enlargement before the filter
};

Letterbox letterboxFor(int32_t screenWidth, int32_t screenHeight);
