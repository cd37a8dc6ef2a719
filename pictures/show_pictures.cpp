#include "pictures/show_pictures.h"

#include <cstring>

#include "pictures/picture_loader.h"
#include "scenes/scene_timeline.h"

namespace {

std::string pathIn(const std::string& folder, const char* name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

void loadShowPictures(const std::string& folder, Pixel* const pictures[Picture::count],
                      Pixel* strip, void (*afterEachFile)()) {
    // Each buffer is zeroed first, so a picture that fails to decode shows
    // black rather than whatever the memory held.
    for (int i = 0; i < Picture::count; ++i) {
        std::memset(pictures[i], 0, Picture::bytes);
        loadPicture(pathIn(folder, kPictureFiles[i]).c_str(), pictures[i], Picture::pixels);
        SceneTimeline::inputs.pictures[i] = pictures[i];
        if (afterEachFile != nullptr)
            afterEachFile();
    }
    std::memset(strip, 0, GreetingsStrip::bytes);
    loadPicture(pathIn(folder, kStripFile).c_str(), strip, GreetingsStrip::pixels);
    SceneTimeline::inputs.strip = strip;
    if (afterEachFile != nullptr)
        afterEachFile();
}
