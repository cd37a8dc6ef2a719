// The show's six pictures: their file names, and their loading into the
// scene timeline, the same for the player, the renderer and the page.
#pragma once

#include <string>

#include "core/demo_types.h"

// The six files in load order: kPictureFiles[0..4] go into the five Pictures, kStripFile into the
// strip.
inline constexpr const char* kPictureFiles[Picture::count] = {
    "warning.jpg", "credits.jpg", "part1.jpg", "part2.jpg", "part3.jpg"};
inline constexpr const char* kStripFile = "greets.jpg";

// Zeroes each buffer, then loads the five pictures and the strip from folder
// (empty: the current folder) in load order with loadPicture, and hands them
// to the timeline. A picture that fails to decode stays black. At the first
// that is missing (its message shown), stops and gives its path, which the
// caller ends the show on; gives "" when every file was there.
// afterEachFile, when given, runs after every file: a caller that can be
// interrupted stops there.
std::string loadShowPictures(const std::string& folder, Pixel* const pictures[Picture::count],
                             Pixel* strip, void (*afterEachFile)() = nullptr);
