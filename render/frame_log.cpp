#include "render/frame_log.h"

#include <zlib.h>

#include <bit>
#include <cstdio>

#include "scenes/scene_timeline.h"

int formatFrameLogLine(char* out, size_t size, int64_t k, uint32_t clockMs) {
    const SceneTimeline::State& st = SceneTimeline::state;
    return std::snprintf(out, size, "%lld %u %.9g %.9g %d %d %.9g %d\n", static_cast<long long>(k),
                         clockMs, static_cast<double>(st.elapsedSeconds),
                         static_cast<double>(st.elapsedCentiseconds), st.residueA, st.residueB,
                         static_cast<double>(st.frameAccumulator), st.scene);
}

uint32_t frameCrc32(const Pixel* frame) {
    // The pixels' bytes as they lie in memory: low byte first.
    static_assert(std::endian::native == std::endian::little);
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(frame),
                                       static_cast<uInt>(VirtualBackBuffer::bytes)));
}

int formatFrameCrcLine(char* out, size_t size, int64_t k, const Pixel* frame) {
    return std::snprintf(out, size, "%lld %08x\n", static_cast<long long>(k),
                         static_cast<unsigned>(frameCrc32(frame)));
}
