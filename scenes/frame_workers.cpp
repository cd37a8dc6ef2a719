#include "scenes/frame_workers.h"

#include <algorithm>
#include <cstdint>

#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#define QUELTRAVINE_HAS_THREADS 1
#endif

namespace {

[[maybe_unused]] constexpr int kMaxWorkers = kMaxFrameParts - 1;

int workerCount = 0;
int partLimit = 1;
bool started = false;

#ifdef QUELTRAVINE_HAS_THREADS
// The hand-over: the frame's job is published under the lock with a new
// generation; each worker counts itself off when its part is done. Two lock
// round trips a frame; the parts themselves run unlocked. Made once and
// never destroyed: the workers wait on it until the process ends, and a
// condition variable must not be destroyed while a thread waits on it.
struct HandOver {
    std::mutex lock;
    std::condition_variable frameReady;
    std::condition_variable frameDone;
    // Read without the lock while spinning; written under it.
    std::atomic<uint32_t> generation{0};
    std::atomic<int> unfinished{0};
    FramePartJob job = nullptr;
    void* context = nullptr;
    int parts = 1;
};
HandOver* hand = nullptr;

// Frames come back to back: a short spin before sleeping saves the wake-up
// of a sleeping thread, which costs about as much as a fifth of a frame.
constexpr int kSpins = 4000;

void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

template <typename Done>
void spinWhileNot(Done done) {
    for (int spin = 0; spin < kSpins && !done(); ++spin)
        pause();
}

void workerLoop(HandOver* h, int worker) {
    uint32_t seen = 0;
    for (;;) {
        const auto published = [&] {
            return h->generation.load(std::memory_order_acquire) != seen;
        };
        spinWhileNot(published);
        std::unique_lock lock(h->lock);
        h->frameReady.wait(lock, published);
        seen = h->generation.load(std::memory_order_relaxed);
        const FramePartJob job = h->job;
        void* const context = h->context;
        const int parts = h->parts;
        lock.unlock();
        const int part = worker + 1;
        if (part < parts)
            job(context, part, parts);
        if (h->unfinished.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard done(h->lock);  // so the wake-up cannot fall between test and wait
            h->frameDone.notify_one();
        }
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
    if (workerCount > 0)
        hand = new HandOver;
    for (int w = 0; w < workerCount; ++w)
        std::thread(workerLoop, hand, w).detach();
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
#ifdef QUELTRAVINE_HAS_THREADS
    if (workerCount > 0) {
        // Every worker wakes each frame and counts itself off, also when the
        // frame has fewer parts than workers.
        {
            std::lock_guard lock(hand->lock);
            hand->job = job;
            hand->context = context;
            hand->parts = parts;
            hand->unfinished.store(workerCount, std::memory_order_relaxed);
            hand->generation.fetch_add(1, std::memory_order_release);
        }
        hand->frameReady.notify_all();
        job(context, 0, parts);
        const auto finished = [] { return hand->unfinished.load(std::memory_order_acquire) == 0; };
        spinWhileNot(finished);
        std::unique_lock lock(hand->lock);
        hand->frameDone.wait(lock, finished);
        return;
    }
#endif
    for (int part = 0; part < parts; ++part)
        job(context, part, parts);
}
