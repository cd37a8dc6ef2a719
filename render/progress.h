// The progress line: on a terminal, one line on standard error rewritten in
// place a few times a second with frames done, frames per second and the
// time left; nothing when standard error is a file or a pipe.
#pragma once

#include <cstdint>

// Starts the clock; shows nothing unless standard error is a terminal.
void startProgress();
// Frames done of total; the last call prints the closing summary line.
void showProgress(int64_t done, int64_t total, bool last);
