#include "scenes/frame_workers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
#include <thread>
#define QUELTRAVINE_HAS_THREADS 1
#endif

namespace {

constexpr int kMaxWorkers = 63;

int workerCount = 0;
int partLimit = 1;
bool started = false;

// The job of the current frame, published by `generation`.
FramePartJob currentJob = nullptr;
void* currentContext = nullptr;
int currentParts = 1;
std::atomic<uint32_t> generation{0};
// Parts of the current frame not finished yet by the workers.
std::atomic<int> unfinished{0};

#ifdef QUELTRAVINE_HAS_THREADS
void workerLoop(int worker) {
    uint32_t seen = 0;
    for (;;) {
        generation.wait(seen, std::memory_order_acquire);
        seen = generation.load(std::memory_order_acquire);
        const int part = worker + 1;
        if (part < currentParts)
            currentJob(currentContext, part, currentParts);
        if (unfinished.fetch_sub(1, std::memory_order_acq_rel) == 1)
            unfinished.notify_one();
    }
}
#endif

}  // namespace

void startFrameWorkers() {
    if (started)
        return;
    started = true;
#ifdef QUELTRAVINE_HAS_THREADS
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    workerCount = std::clamp(cores - 1, 0, kMaxWorkers);
    for (int w = 0; w < workerCount; ++w)
        std::thread(workerLoop, w).detach();
#endif
    partLimit = workerCount + 1;
}

int frameParts() {
    return partLimit;
}

void limitFrameParts(int parts) {
    partLimit = std::clamp(parts, 1, workerCount + 1);
}

void runFrameParts(FramePartJob job, void* context) {
    const int parts = partLimit;
    if (workerCount == 0) {
        for (int part = 0; part < parts; ++part)
            job(context, part, parts);
        return;
    }
    // Every worker wakes each frame and counts itself off, also when the
    // frame has fewer parts than workers.
    currentJob = job;
    currentContext = context;
    currentParts = parts;
    unfinished.store(workerCount, std::memory_order_relaxed);
    generation.fetch_add(1, std::memory_order_release);
    generation.notify_all();
    job(context, 0, parts);
    for (int left = unfinished.load(std::memory_order_acquire); left != 0;
         left = unfinished.load(std::memory_order_acquire)) {
        unfinished.wait(left, std::memory_order_acquire);
    }
}
