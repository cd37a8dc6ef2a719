#include "render/yuv_frame.h"

#include <cstring>

namespace {

// BT.709 (Kr 0.2126, Kb 0.0722) into limited range, in 16-bit fixed point:
// luma 16 + 219/255 (Kr R + Kg G + Kb B), chroma 128 + 224/255 of the colour
// differences. Each row of coefficients is rounded so that it sums exactly:
// white gives luma 235 and every grey gives chroma 128.
constexpr int32_t kLumaR = 11966;
constexpr int32_t kLumaG = 40255;
constexpr int32_t kLumaB = 4064;
constexpr int32_t kCbR = -6596;
constexpr int32_t kCbG = -22188;
constexpr int32_t kCbB = 28784;
constexpr int32_t kCrR = 28784;
constexpr int32_t kCrG = -26145;
constexpr int32_t kCrB = -2639;
static_assert(kCbR + kCbG + kCbB == 0 && kCrR + kCrG + kCrB == 0);

inline int32_t red(Pixel p) {
    return static_cast<int32_t>((p >> 16) & 0xFF);
}
inline int32_t green(Pixel p) {
    return static_cast<int32_t>((p >> 8) & 0xFF);
}
inline int32_t blue(Pixel p) {
    return static_cast<int32_t>(p & 0xFF);
}

inline uint8_t lumaOf(Pixel p) {
    return static_cast<uint8_t>(
        (kLumaR * red(p) + kLumaG * green(p) + kLumaB * blue(p) + (16 << 16) + (1 << 15)) >> 16);
}

// Chroma from the sums of a block's four red, green and blue values; the
// result is always within 16 to 240, so the shift never sees a negative.
inline uint8_t chromaOf(int32_t cR, int32_t cG, int32_t cB, int32_t sumR, int32_t sumG,
                        int32_t sumB) {
    return static_cast<uint8_t>((cR * sumR + cG * sumG + cB * sumB + (128 << 18) + (1 << 17)) >>
                                18);
}

struct Planes {
    uint8_t* luma;
    uint8_t* cb;
    uint8_t* cr;
    int width;  // of the luma plane; the chroma planes are half as wide and high
    int height;
};

Planes planesOf(uint8_t* out, int scale) {
    const int width = kScreenWidth * scale;
    const int height = kScreenHeight * scale;
    uint8_t* cb = out + static_cast<size_t>(width) * height;
    uint8_t* cr = cb + static_cast<size_t>(width / 2) * (height / 2);
    return {out, cb, cr, width, height};
}

// Writes each of the 640 values `factor` times, then repeats the row below
// itself until it is `factor` rows high.
void enlargeRow(const uint8_t* values, int factor, uint8_t* first, size_t rowBytes) {
    if (factor == 1) {
        std::memcpy(first, values, kScreenWidth);
    } else if (factor == 2) {
        for (int x = 0; x < kScreenWidth; ++x) {
            first[2 * x] = values[x];
            first[2 * x + 1] = values[x];
        }
    } else {
        for (int x = 0; x < kScreenWidth; ++x) {
            for (int s = 0; s < factor; ++s)
                first[x * factor + s] = values[x];
        }
    }
    for (int s = 1; s < factor; ++s)
        std::memcpy(first + s * rowBytes, first, rowBytes);
}

// Each pixel of a row's luma, and the chroma of a block of its one colour.
void convertRow(const Pixel* row, uint8_t* luma, uint8_t* cb, uint8_t* cr) {
    for (int x = 0; x < kScreenWidth; ++x) {
        const Pixel p = row[x];
        const int32_t r = 4 * red(p);
        const int32_t g = 4 * green(p);
        const int32_t b = 4 * blue(p);
        luma[x] = lumaOf(p);
        cb[x] = chromaOf(kCbR, kCbG, kCbB, r, g, b);
        cr[x] = chromaOf(kCrR, kCrG, kCrB, r, g, b);
    }
}

// At an even factor every 2x2 block lies within one source pixel: the
// source pixel's luma fills its square and its chroma fills a square half
// as wide, so each value is computed once per source pixel.
void convertEvenScale(const Pixel* frame, int scale, uint8_t* out) {
    const Planes planes = planesOf(out, scale);
    const int half = scale / 2;
    const size_t chromaWidth = static_cast<size_t>(planes.width / 2);
    uint8_t luma[kScreenWidth];
    uint8_t cb[kScreenWidth];
    uint8_t cr[kScreenWidth];
    for (int y = 0; y < kScreenHeight; ++y) {
        convertRow(frame + static_cast<size_t>(y) * kScreenWidth, luma, cb, cr);
        enlargeRow(luma, scale, planes.luma + static_cast<size_t>(y) * scale * planes.width,
                   static_cast<size_t>(planes.width));
        enlargeRow(cb, half, planes.cb + static_cast<size_t>(y) * half * chromaWidth, chromaWidth);
        enlargeRow(cr, half, planes.cr + static_cast<size_t>(y) * half * chromaWidth, chromaWidth);
    }
}

}  // namespace

size_t yuv420FrameBytes(int scale) {
    const size_t pixels = static_cast<size_t>(kScreenPixels) * scale * scale;
    return pixels + pixels / 2;
}

void convertFrameToYuv420Straightforward(const Pixel* frame, int scale, uint8_t* out) {
    const Planes planes = planesOf(out, scale);
    const auto source = [&](int x, int y) {
        return frame[static_cast<size_t>(y / scale) * kScreenWidth + x / scale];
    };
    for (int y = 0; y < planes.height; y += 2) {
        for (int x = 0; x < planes.width; x += 2) {
            int32_t sumR = 0;
            int32_t sumG = 0;
            int32_t sumB = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const Pixel p = source(x + dx, y + dy);
                    planes.luma[static_cast<size_t>(y + dy) * planes.width + x + dx] = lumaOf(p);
                    sumR += red(p);
                    sumG += green(p);
                    sumB += blue(p);
                }
            }
            const size_t at = static_cast<size_t>(y / 2) * (planes.width / 2) + x / 2;
            planes.cb[at] = chromaOf(kCbR, kCbG, kCbB, sumR, sumG, sumB);
            planes.cr[at] = chromaOf(kCrR, kCrG, kCrB, sumR, sumG, sumB);
        }
    }
}

size_t yuv444FrameBytes(int scale) {
    return static_cast<size_t>(kScreenPixels) * scale * scale * 3;
}

void convertFrameToYuv444(const Pixel* frame, int scale, uint8_t* out) {
    const size_t width = static_cast<size_t>(kScreenWidth) * scale;
    const size_t plane = width * kScreenHeight * scale;
    uint8_t luma[kScreenWidth];
    uint8_t cb[kScreenWidth];
    uint8_t cr[kScreenWidth];
    for (int y = 0; y < kScreenHeight; ++y) {
        convertRow(frame + static_cast<size_t>(y) * kScreenWidth, luma, cb, cr);
        const size_t at = static_cast<size_t>(y) * scale * width;
        enlargeRow(luma, scale, out + at, width);
        enlargeRow(cb, scale, out + plane + at, width);
        enlargeRow(cr, scale, out + 2 * plane + at, width);
    }
}

void convertFrameToYuv420(const Pixel* frame, int scale, uint8_t* out) {
    if (scale % 2 == 0)
        convertEvenScale(frame, scale, out);
    else
        convertFrameToYuv420Straightforward(frame, scale, out);
}
