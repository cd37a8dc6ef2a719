// PNG frames: one file per frame, encoded on worker threads while the next
// frames are composed, because compression costs far more than composing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "core/demo_types.h"

// The name of frame k in a frames folder: frame-NNNNNN.png.
std::string frameFileName(int64_t k);

// Writes one frame as an 8-bit RGB PNG, the top byte of each pixel dropped as
// the display does, as one whole file (writeWholeFile). On failure returns
// false and sets error.
bool writeFramePng(const std::string& path, const Pixel* frame, std::string* error);
// The same PNG into memory (bytes is replaced).
bool encodeFramePng(const Pixel* frame, std::vector<uint8_t>* bytes, std::string* error);

// Frames as PNG files, made one after another by one encoder. The frame is
// compressed in bands of rows, each its own run of deflate blocks, so that a
// band equal to the same band of either of the two frames before it is not
// compressed again: scene 4 alternates between two frames that differ only
// in the strip's rows. The bytes of a band depend only on its pixels, so
// the file is the same however frames reach the encoders.
class PngEncoder {
  public:
    PngEncoder();
    ~PngEncoder();
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;
    // The PNG of frame into png (replaced). False, with error set, on failure.
    bool encode(const Pixel* frame, std::vector<uint8_t>* png, std::string* error);

  private:
    static constexpr int kBandRows = 60;
    static constexpr int kBands = kScreenHeight / kBandRows;
    struct Band {
        std::vector<uint8_t> bytes;  // raw deflate blocks; only the last band's end the stream
        uLong adler = 0;             // of the band's filtered bytes
    };
    struct Kept {
        std::vector<Pixel> pixels;  // empty until a frame is kept
        Band bands[kBands];
    };
    bool compressBand(const Pixel* rows, bool last, Band* band);

    z_stream stream_{};
    bool ready_ = false;
    std::vector<uint8_t> filtered_;
    Kept kept_[3];  // the two frames before this one, and this one
    int older_ = 0;
};

// One worker thread per core (at most 8), each encoding one frame at a time.
// Frames go to the workers in turn; each file is independent, so the order in
// which they finish does not matter. A frame identical to the one before it
// is not encoded again: its file gets the same bytes. A failed write fails
// the render.
class PngWriter {
  public:
    void start();
    // Copies the frame and hands it to the next worker, waiting until it is free.
    void submit(std::string path, const Pixel* frame);
    // Waits for the frames in flight; fails the render if any could not be written.
    void finish();

  private:
    struct Worker {
        std::vector<Pixel> pixels;
        PngEncoder encoder;
        std::vector<uint8_t> encoded;  // the PNG of pixels, once encoded
        std::string path;
        bool repeat = false;  // pixels are unchanged: write encoded again
        bool full = false;
        std::thread thread;
    };

    void run(Worker& worker);
    [[noreturn]] void failWithError();

    std::vector<Worker> workers_;
    size_t last_ = 0;  // the worker given the last frame
    bool submitted_ = false;
    bool done_ = false;
    std::string error_;
    std::mutex mutex_;
    std::condition_variable changed_;
};
