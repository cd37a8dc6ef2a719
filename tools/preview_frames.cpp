// Shows what the scenes make of the pictures, without a window: loads the six
// pictures, runs the timeline on a virtual clock at a steady frame rate and
// writes PNGs of the pictures and of chosen frames.
//
// Usage: preview_frames DATA_DIR OUTPUT_DIR [FPS] [SECONDS...]
// Defaults: 100 frames per second; frames at 2, 10, 20, 30, 45, 50, 56, 60, 75 s.
// For each time T it writes frame-T.png and, in the flickering last scene,
// frame-T-next.png (the following frame) and frame-T-seen.png (the average
// of the two, close to what the eye makes of the flicker).
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pictures/picture_loader.h"
#include "pictures/show_pictures.h"
#include "scenes/scene_timeline.h"

namespace {

uint32_t virtualMs = 0;
uint32_t virtualClock() {
    return virtualMs;
}

bool writePng(const std::string& path, const Pixel* pixels, int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgb[i * 3] = static_cast<uint8_t>(pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(pixels[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) == 0) {
        std::fprintf(stderr, "preview_frames: cannot write %s: %s\n", path.c_str(), image.message);
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    return true;
}

// The strip cut into rows of 1100 pixels, stacked, so that it can be viewed.
bool writeStripPng(const std::string& path, const Pixel* strip) {
    constexpr int kSlice = 1100;
    constexpr int kSlices = (GreetingsStrip::width + kSlice - 1) / kSlice;
    constexpr int kHeight = kSlices * (GreetingsStrip::height + 4);
    std::vector<Pixel> sheet(static_cast<size_t>(kSlice) * kHeight, 0xFF808080u);
    for (int s = 0; s < kSlices; ++s) {
        for (int r = 0; r < GreetingsStrip::height; ++r) {
            for (int x = 0; x < kSlice && s * kSlice + x < GreetingsStrip::width; ++x) {
                sheet[static_cast<size_t>(s * (GreetingsStrip::height + 4) + r) * kSlice + x] =
                    strip[r * GreetingsStrip::width + s * kSlice + x];
            }
        }
    }
    return writePng(path, sheet.data(), kSlice, kHeight);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DATA_DIR OUTPUT_DIR [FPS] [SECONDS...]\n", argv[0]);
        return 2;
    }
    const std::string dataDir = argv[1];
    const std::string outDir = argv[2];
    const int fps = argc > 3 ? std::atoi(argv[3]) : 100;
    std::vector<double> times;
    for (int a = 4; a < argc; ++a) {
        times.push_back(std::atof(argv[a]));
    }
    if (times.empty()) {
        times = {2, 10, 20, 30, 45, 50, 56, 60, 75};
    }
    if (fps <= 0 || fps > 1000) {
        std::fprintf(stderr, "preview_frames: frame rate must be 1 to 1000\n");
        return 2;
    }

    std::vector<Pixel> pictures[Picture::count];
    for (int p = 0; p < Picture::count; ++p) {
        pictures[p].assign(Picture::pixels, 0xFF000000u);
        const std::string path = dataDir + "/" + kPictureFiles[p];
        if (!loadPicture(path.c_str(), pictures[p].data(), pictures[p].size()))
            return 1;
        const std::string name = kPictureFiles[p];
        writePng(outDir + "/" + name.substr(0, name.size() - 4) + ".png", pictures[p].data(),
                 Picture::width, Picture::height);
    }
    std::vector<Pixel> strip(GreetingsStrip::pixels, 0xFF000000u);
    if (!loadPicture((dataDir + "/" + kStripFile).c_str(), strip.data(), strip.size()))
        return 1;
    writeStripPng(outDir + "/greets.png", strip.data());

    std::vector<Pixel> back(VirtualBackBuffer::pixels, 0);
    std::vector<Pixel> previous(VirtualBackBuffer::pixels);
    const Pixel* picturesShown[Picture::count];
    for (int p = 0; p < Picture::count; ++p)
        picturesShown[p] = pictures[p].data();
    SceneTimeline::usePictures(picturesShown, strip.data());
    SceneTimeline::useBackBuffer(back.data());
    SceneTimeline::useClock(virtualClock);
    virtualMs = 0;
    SceneTimeline::start();

    // Frame f is composed at f / fps seconds; a chosen time gets the first
    // frame at or after it, and in the last scene the frame after that too.
    size_t next = 0;
    int pending = -1;  // index of the time whose following frame is still due
    std::string pendingName;
    for (int64_t frame = 1; next < times.size() || pending >= 0; ++frame) {
        virtualMs = static_cast<uint32_t>(frame * 1000 / fps);
        previous = back;
        SceneTimeline::composeFrame();
        if (pending >= 0) {
            writePng(pendingName + "-next.png", back.data(), 640, 480);
            std::vector<Pixel> seen(back.size());
            for (size_t i = 0; i < back.size(); ++i) {
                Pixel mixed = 0xFF000000u;
                for (int shift = 0; shift < 24; shift += 8) {
                    const uint32_t a = previous[i] >> shift & 0xFF;
                    const uint32_t b = back[i] >> shift & 0xFF;
                    mixed |= ((a + b) / 2) << shift;
                }
                seen[i] = mixed;
            }
            writePng(pendingName + "-seen.png", seen.data(), 640, 480);
            pending = -1;
        }
        if (next < times.size() && virtualMs >= times[next] * 1000.0) {
            char name[64];
            std::snprintf(name, sizeof name, "frame-%05.2f", times[next]);
            const std::string base = outDir + "/" + name;
            writePng(base + ".png", back.data(), 640, 480);
            std::printf("  scene %d, frame accumulator %.0f\n", SceneTimeline::state.scene,
                        SceneTimeline::state.frameAccumulator);
            if (SceneTimeline::state.scene == 4) {
                pending = static_cast<int>(next);
                pendingName = base;
            }
            ++next;
        }
    }
    return 0;
}
