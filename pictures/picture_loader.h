// Decoding the demo's JPEG pictures into 32-bit pixels 0xFFRRGGBB.
//
// Errors inside the JPEG library are not fatal: the library's message goes to
// standard error as one line, the destination keeps its previous contents and
// loading goes on. Only a file that cannot be opened ends the process.
#pragma once

#include <cstddef>
#include <cstdio>

#include "core/demo_types.h"

// Shows a message box with text and caption; the default writes "CAPTION: TEXT\n" to stderr.
using MessageBoxHook = void (*)(const char* text, const char* caption);
void setMessageBoxHook(MessageBoxHook hook);

// Decodes the JPEG file `name` into destination (capacityPixels pixels). A file that cannot be
// opened: message box "ERROR LOCATING..." captioned with the name, and false; the caller ends
// the show (a missing picture is a failure). A path that is not a regular file (a folder, a
// FIFO, a socket, a device) counts as one that cannot be opened, after a line on stderr saying
// what it is; nothing is read from it. A decode error: one line on stderr, destination
// untouched, true (the picture stays as it was).
bool loadPicture(const char* name, Pixel* destination, size_t capacityPixels);

// What loadPicture does once the file is open: decodes the stream into destination and closes
// it. Returns false after a decode error, destination untouched.
bool loadPictureStream(FILE* stream, Pixel* destination, size_t capacityPixels);

// Opens a picture for reading only if it is a regular file; prints "NAME: is a KIND, not a
// regular file" and returns null for anything else, and null when it cannot be opened.
FILE* openPictureFile(const char* name);

// Limits on what one decode may cost, far above what any of the demo's pictures needs (one scan,
// under 2 MB of the library's memory): a file beyond them is refused like any library error.
inline constexpr int kMaxPictureScans = 100;
inline constexpr long kMaxDecoderMemory = 64L << 20;

// Takes the decoded buffer's memory; null means std::malloc. Lets tests make
// the allocation fail. The buffer is always released with std::free.
using DecodedBufferAllocator = void* (*)(size_t bytes);
void setDecodedBufferAllocator(DecodedBufferAllocator allocator);
