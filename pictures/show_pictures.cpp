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

std::string loadShowPictures(const std::string& folder, Pixel* const pictures[Picture::count],
                             Pixel* strip, void (*afterEachFile)()) {
    // Each buffer is zeroed first, so a picture that fails to decode shows
    // black rather than whatever the memory held.
    for (int i = 0; i < Picture::count; ++i) {
        std::memset(pictures[i], 0, Picture::bytes);
        const std::string path = pathIn(folder, kPictureFiles[i]);
        if (!loadPicture(path.c_str(), pictures[i], Picture::pixels))
            return path;
        if (afterEachFile != nullptr)
            afterEachFile();
    }
    std::memset(strip, 0, GreetingsStrip::bytes);
    const std::string path = pathIn(folder, kStripFile);
    if (!loadPicture(path.c_str(), strip, GreetingsStrip::pixels))
        return path;
    SceneTimeline::usePictures(pictures, strip);
    if (afterEachFile != nullptr)
        afterEachFile();
    return "";
}
