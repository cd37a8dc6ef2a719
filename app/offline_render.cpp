#include "app/offline_render.h"

#include <png.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "synth/synthesiser.h"

int64_t frameCountFor(int64_t lengthMicros, int32_t fps) {
    return lengthMicros * fps / 1'000'000;
}

uint32_t frameClockMs(const RenderSchedule& schedule, int64_t k) {
    const int64_t offset = k * 1000 / schedule.fps;
    return schedule.startMs + static_cast<uint32_t>(static_cast<uint64_t>(offset));
}

int64_t audioFramesBefore(const RenderSchedule& schedule, int64_t k) {
    return (k + 1) * kAudioRate / schedule.fps;
}

int64_t wavFrames(const RenderSchedule& schedule) {
    return schedule.frames * kAudioRate / schedule.fps;
}

bool parseSeconds(const char* text, int64_t* micros) {
    constexpr int64_t kMaxSeconds = 10'000'000;
    int64_t whole = 0;
    int64_t fraction = 0;
    int digits = 0;
    int decimals = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        whole = whole * 10 + (*p - '0');
        if (whole > kMaxSeconds)
            return false;
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (++decimals > 6)
                return false;
            fraction = fraction * 10 + (*p - '0');
        }
    }
    if (*p != '\0' || digits == 0)
        return false;
    for (int d = decimals; d < 6; ++d)
        fraction *= 10;
    *micros = whole * 1'000'000 + fraction;
    return *micros <= kMaxSeconds * 1'000'000;
}

bool parseInteger(const char* text, int64_t low, int64_t high, int64_t* value) {
    int64_t result = 0;
    const char* p = text;
    if (*p == '\0')
        return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        result = result * 10 + (*p - '0');
        if (result > high)
            return false;
    }
    if (*p != '\0' || result < low)
        return false;
    *value = result;
    return true;
}

namespace {

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFFu);
    put16(at + 2, value >> 16);
}

}  // namespace

bool makeWavHeader(int64_t frames, uint8_t header[44]) {
    const int64_t dataBytes = frames * kAudioBytesPerFrame;
    if (frames < 0 || dataBytes > std::numeric_limits<uint32_t>::max() - 36)
        return false;
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, static_cast<uint32_t>(36 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);  // size of the format chunk
    put16(header + 20, 1);   // PCM
    put16(header + 22, 2);   // channels
    put32(header + 24, kAudioRate);
    put32(header + 28, kAudioRate * kAudioBytesPerFrame);  // bytes per second
    put16(header + 32, kAudioBytesPerFrame);               // bytes per frame
    put16(header + 34, 16);                                // bits per sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, static_cast<uint32_t>(dataBytes));
    return true;
}

std::string frameFileName(int64_t k) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(k));
    return name;
}

void scaleFrame(const Pixel* frame, int scale, Pixel* scaled) {
    const int scaledWidth = kScreenWidth * scale;
    for (int y = 0; y < kScreenHeight; ++y) {
        Pixel* first = scaled + static_cast<size_t>(y) * scale * scaledWidth;
        const Pixel* source = frame + y * kScreenWidth;
        for (int x = 0; x < kScreenWidth; ++x) {
            for (int s = 0; s < scale; ++s)
                first[x * scale + s] = source[x];
        }
        for (int s = 1; s < scale; ++s) {
            std::memcpy(first + static_cast<size_t>(s) * scaledWidth, first,
                        sizeof(Pixel) * scaledWidth);
        }
    }
}

namespace {

// libpng reports errors through longjmp; the message is kept for the caller.
struct PngWrite {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = {};
};

void pngError(png_structp png, png_const_charp message) {
    auto* write = static_cast<PngWrite*>(png_get_error_ptr(png));
    std::snprintf(write->message, sizeof write->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Kept apart from writeFramePng so that no object with a destructor lives
// across the setjmp.
bool encodePng(PngWrite* write, const Pixel* frame) {
    // One row per call: frames are encoded on several threads at once.
    uint8_t row[kScreenWidth * 3];
    if (setjmp(png_jmpbuf(write->png)))
        return false;
    png_init_io(write->png, write->file);
    // Fast compression: frames are many, and noise does not compress anyway.
    png_set_compression_level(write->png, 1);
    png_set_filter(write->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(write->png, write->info, kScreenWidth, kScreenHeight, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(write->png, write->info);
    for (int y = 0; y < kScreenHeight; ++y) {
        const Pixel* source = frame + y * kScreenWidth;
        for (int x = 0; x < kScreenWidth; ++x) {
            row[x * 3] = static_cast<uint8_t>(source[x] >> 16);
            row[x * 3 + 1] = static_cast<uint8_t>(source[x] >> 8);
            row[x * 3 + 2] = static_cast<uint8_t>(source[x]);
        }
        png_write_row(write->png, row);
    }
    png_write_end(write->png, write->info);
    return true;
}

}  // namespace

bool writeFramePng(const std::string& path, const Pixel* frame, std::string* error) {
    PngWrite write;
    write.file = std::fopen(path.c_str(), "wb");
    if (write.file == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    write.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &write, pngError, pngWarning);
    if (write.png != nullptr)
        write.info = png_create_info_struct(write.png);
    bool ok = write.png != nullptr && write.info != nullptr && encodePng(&write, frame);
    if (!ok)
        *error = write.message[0] != '\0' ? write.message : "out of memory";
    png_destroy_write_struct(&write.png, &write.info);
    if (std::fclose(write.file) != 0 && ok) {
        *error = std::strerror(errno);
        ok = false;
    }
    return ok;
}
