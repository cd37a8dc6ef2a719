// A pool of worker threads started once, over which one frame's work is cut
// into parts: one part per core, the calling thread taking the first. No
// thread is made and nothing is allocated per frame; the only lock is the
// hand-over's. The work is complete when runFrameParts returns.
#pragma once

#include "core/demo_types.h"

// At most this many parts, the calling thread's included.
inline constexpr int kMaxFrameParts = 64;

// Part `part` of `parts`; the same job is called once for each part.
using FramePartJob = void (*)(void* context, int part, int parts);

// Starts one worker per core beyond the first (none on a single core), at
// most once; later calls do nothing. Without threads (a browser build with
// no thread support) there are none.
void startFrameWorkers();

// How many parts a frame is cut into: the workers plus the calling thread.
int frameParts();
// Test and benchmark hook: cut frames into at most `parts` (1 to frameParts()).
void limitFrameParts(int parts);

// The first row of part `part` of `parts`: the frame's rows cut evenly.
inline int partFirstRow(int part, int parts) {
    return kScreenHeight * part / parts;
}

// Runs job for every part and returns when all parts are done.
void runFrameParts(FramePartJob job, void* context);
