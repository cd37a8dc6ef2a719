// PNG frames: one file per frame, encoded on worker threads while the next
// frames are composed, because compression costs far more than composing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/demo_types.h"

// The name of frame k in a frames folder: frame-NNNNNN.png.
std::string frameFileName(int64_t k);

// Writes one frame as an 8-bit RGB PNG, the top byte of each pixel dropped as
// the display does. On failure returns false and sets error.
bool writeFramePng(const std::string& path, const Pixel* frame, std::string* error);

// One worker thread per core (at most 8), each encoding one frame at a time.
// Frames go to the workers in turn; each file is independent, so the order in
// which they finish does not matter. A failed write fails the render.
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
        std::string path;
        bool full = false;
        std::thread thread;
    };

    void run(Worker& worker);
    [[noreturn]] void failWithError();

    std::vector<Worker> workers_;
    size_t next_ = 0;
    bool done_ = false;
    std::string error_;
    std::mutex mutex_;
    std::condition_variable changed_;
};
