// PNG frames: one file per frame, encoded on worker threads while the next
// frames are composed, because compression costs far more than composing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/demo_types.h"

// Writes one frame as an 8-bit RGB PNG, the top byte of each pixel dropped as
// the display does, as one whole file (writeWholeFile). On failure returns
// false and sets error.
bool writeFramePng(const std::string& path, const Pixel* frame, std::string* error);
// The same PNG into memory (bytes is replaced).
bool encodeFramePng(const Pixel* frame, std::vector<uint8_t>* bytes, std::string* error);

// The band encoder of PNG frames (frame_writers.cpp).
class PngEncoder;

// One worker thread per core (at most 8), each encoding one frame at a time.
// Frames go to the workers in turn; each file is independent, so the order in
// which they finish does not matter. A frame identical to the one before it
// is not encoded again: its file gets the same bytes. A failed write fails
// the render.
class PngWriter {
  public:
    PngWriter();
    ~PngWriter();
    void start();
    // Copies the frame and hands it to the next worker, waiting until it is free.
    void submit(std::string path, const Pixel* frame);
    // Waits for the frames in flight; fails the render if any could not be written.
    void finish();

  private:
    struct Worker {
        std::vector<Pixel> pixels;
        std::unique_ptr<PngEncoder> encoder;
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
