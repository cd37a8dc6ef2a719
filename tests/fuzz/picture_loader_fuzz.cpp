// libFuzzer target for the picture loader: each input is decoded as a
// picture file, through the same stream decode the player and the renderer
// use after opening a file. Built with clang and -fsanitize=fuzzer,address,
// undefined over a libjpeg-turbo built from source with the same flags.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "pictures/picture_loader.h"

namespace {

void quietMessage(const char*, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The library's one-line messages go to standard error; runs pass
    // -close_fd_mask=2, which keeps libFuzzer's and the sanitizers' reports.
    setMessageBoxHook(quietMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The larger of the two destinations (a 640x480 picture, the strip), but
    // offered only 4 pixels per input byte: a few bytes that declare a whole
    // picture would otherwise spend every run decoding the library's filler
    // for missing data. Larger declared sizes take the loader's own refusal.
    static std::vector<Pixel> destination(Picture::pixels);
    if (size == 0)
        return 0;
    const size_t capacity = std::min(destination.size(), size * 4);
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr)
        return 0;
    loadPictureStream(stream, destination.data(), capacity);
    return 0;
}
