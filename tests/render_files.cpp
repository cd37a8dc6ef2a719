#include "tests/render_files.h"

#include <png.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<Pixel> readPng(const fs::path& path, uint32_t* width, uint32_t* height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_BGRA;
    std::vector<Pixel> pixels(PNG_IMAGE_SIZE(image) / 4);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    *width = image.width;
    *height = image.height;
    for (Pixel& pixel : pixels)
        pixel &= 0xFFFFFFu;  // the alpha libpng fills in
    return pixels;
}

std::vector<std::string> partialFilesUnder(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".partial") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

void TestFolder::SetUp() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          (std::string(test->test_suite_name()) + "-" + test->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
}

void TestFolder::TearDown() {
    fs::remove_all(dir);
}
