// The text of the renderer's frame log and frame checksums, shared by the
// native renderer and the browser's render mode so that the two can be
// compared line for line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/demo_types.h"

inline constexpr const char* kFrameLogHeader =
    "# frame clock_ms elapsedSeconds elapsedCentiseconds stepResidueA stepResidueB "
    "frameAccumulator scene\n";

// The log line of frame k just composed (the timeline's state), newline
// included, into out; returns its length.
int formatFrameLogLine(char* out, size_t size, int64_t k, uint32_t clockMs);

// CRC-32 (zlib's) of the frame as 1,228,800 little-endian bytes.
uint32_t frameCrc32(const Pixel* frame);

// "INDEX CRC\n" with the CRC in 8 lowercase hex digits; returns its length.
int formatFrameCrcLine(char* out, size_t size, int64_t k, const Pixel* frame);
