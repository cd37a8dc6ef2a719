// Decodes a picture with the demo's own loader and writes it to standard
// output as a binary PPM, for comparing with what reaches the screen.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pictures/picture_loader.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: picture_dump FILE WIDTH HEIGHT\n");
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    std::vector<Pixel> pixels(static_cast<size_t>(width) * height, 0);
    if (!loadPicture(argv[1], pixels.data(), pixels.size()))
        return 1;
    std::printf("P6\n%d %d\n255\n", width, height);
    for (Pixel p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                      static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, stdout);
    }
    return 0;
}
