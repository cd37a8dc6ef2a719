// Frames for H.264: the 640x480 frame enlarged by nearest neighbour and
// converted to BT.709 limited-range YCbCr 4:2:0 (or 4:4:4). Each chroma sample is the
// average of its own 2x2 block of enlarged pixels and of nothing else, so at
// an even factor every source pixel keeps its own colour exactly; at an odd
// factor the blocks on a pixel's edge mix two pixels' colours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/demo_types.h"

// Bytes of one converted frame at `scale`: the luma plane, then Cb, then Cr
// (ffmpeg's yuv420p).
size_t yuv420FrameBytes(int scale);

// Converts frame, enlarged `scale` times (1 to 8), into out. Fast at even
// factors; odd factors take the per-pixel loop.
void convertFrameToYuv420(const Pixel* frame, int scale, uint8_t* out);

// Bytes of one 4:4:4 frame at `scale`: three full planes (ffmpeg's yuv444p).
size_t yuv444FrameBytes(int scale);

// Converts frame, enlarged `scale` times (1 to 8), into 4:4:4: every
// enlarged pixel gets its source pixel's luma and chroma, the chroma
// computed as the 4:2:0 conversion computes that of a block of one colour.
void convertFrameToYuv444(const Pixel* frame, int scale, uint8_t* out);

// The per-pixel loop: every enlarged pixel's luma, every 2x2 block's chroma
// from the four pixels' colours. What the fast path is checked against.
void convertFrameToYuv420Straightforward(const Pixel* frame, int scale, uint8_t* out);
