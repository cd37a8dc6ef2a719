#include "render/frame_log.h"

#include <array>
#include <cstdio>

#include "scenes/scene_timeline.h"

namespace {

// The reflected polynomial 0xEDB88320, one table entry per byte value.
constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

}  // namespace

int formatFrameLogLine(char* out, size_t size, int64_t k, uint32_t clockMs) {
    const SceneTimeline::State& st = SceneTimeline::state;
    return std::snprintf(out, size, "%lld %u %.9g %.9g %d %d %.9g %d\n", static_cast<long long>(k),
                         clockMs, static_cast<double>(st.elapsedSeconds),
                         static_cast<double>(st.elapsedCentiseconds), st.residueA, st.residueB,
                         static_cast<double>(st.frameAccumulator), st.scene);
}

uint32_t frameCrc32(const Pixel* frame) {
    uint32_t crc = 0xFFFFFFFFu;
    for (int i = 0; i < kScreenPixels; ++i) {
        uint32_t word = frame[i];
        for (int b = 0; b < 4; ++b) {  // little-endian: low byte first
            crc = kCrcTable[(crc ^ word) & 0xFFu] ^ (crc >> 8);
            word >>= 8;
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

int formatFrameCrcLine(char* out, size_t size, int64_t k, const Pixel* frame) {
    return std::snprintf(out, size, "%lld %08x\n", static_cast<long long>(k),
                         static_cast<unsigned>(frameCrc32(frame)));
}
