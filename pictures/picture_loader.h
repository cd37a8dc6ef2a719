// Decoding the demo's JPEG pictures into 32-bit pixels 0xFFRRGGBB.
//
// Errors inside the JPEG library are not fatal: the library's message goes to
// standard error as one line, the destination keeps its previous contents and
// loading goes on. Only a file that cannot be opened ends the process.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "core/demo_types.h"

// Shows a message box with text and caption; the default writes "CAPTION: TEXT\n" to stderr.
using MessageBoxHook = void (*)(const char* text, const char* caption);
void setMessageBoxHook(MessageBoxHook hook);

// Decodes the JPEG file `name` into destination (capacityPixels pixels). A file that cannot be
// opened: message box "ERROR LOCATING..." captioned with the name, then exit(1). A path that is
// not a regular file (a folder, a FIFO, a socket, a device) counts as one that cannot be opened,
// after a line on stderr saying what it is; nothing is read from it. A decode error: one line on
// stderr, destination untouched, returns.
void loadPicture(const char* name, Pixel* destination, size_t capacityPixels);

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

// Decodes an open stream into a malloc'ed buffer of width x height RGB
// triples (the caller frees it). Returns null, and leaves width and height
// alone, when the decode fails. Closes the stream in both cases.
uint8_t* readJpegFile(FILE* stream, int32_t* width, int32_t* height, size_t capacityPixels);

// Drives the library over one stream. Returns 1 with *buffer set on success,
// 0 on failure. Closes the stream exactly once on both paths. Pictures of
// more than capacityPixels pixels, and pictures that cannot be decoded to
// RGB (CMYK, YCCK), are refused like any other library error.
int decodeJpegStream(FILE* stream, uint8_t** buffer, size_t capacityPixels);

// The library's standard error manager followed by the recovery point of the
// decode in progress; the library only ever sees the first member.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf setjmpBuffer;
};

// Replaces the library's error exit: prints the message, jumps back into
// decodeJpegStream. Never returns.
[[noreturn]] void jpegErrorExit(j_common_ptr cinfo);

// Takes the decoded buffer's memory; null means std::malloc. Lets tests make
// the allocation fail. The buffer is always released with std::free.
using DecodedBufferAllocator = void* (*)(size_t bytes);
void setDecodedBufferAllocator(DecodedBufferAllocator allocator);
