// The check of the outputs before any work starts.
#pragma once

#include "render/options.h"

// Refuses, before any work, to overwrite what exists without --force, two
// outputs naming one file, more than one output on standard output and a
// video without ffmpeg, and creates the frames folder. Fails the render
// (status 1) with the reason.
void checkOutputs(const RenderOptions& options);
