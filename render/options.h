// The renderer's command line: the option table (CLI11), the exact-decimal
// length and the ranges.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "render/schedule.h"

struct RenderOptions {
    std::string wavPath;
    std::string framesDir;
    std::string videoPath;
    std::string logPath;
    std::string crcPath;
    std::string flashReportPath;
    std::string picturesDir;
    int32_t wavRate = 22050;  // or 44100: the stream through synth/upsampler
    int64_t every = 1;
    int64_t scale = 2;  // 1 for --lossless and --chroma 444 unless given
    bool lossless = false;
    int64_t crf = -1;  // -1: the default
    std::string preset;
    std::string chroma;  // "420" (the default) or "444"
    bool reduceFlashes = false;
    int64_t lengthMicros = 110'000'000;
    int64_t fromMicros = 0;
    RenderSchedule schedule;
    bool force = false;
};

// Parses the command line. --help and --version print to standard output and
// end the process with 0; a bad option prints the reason and the usage to
// standard error and ends it with 2.
RenderOptions parseRenderOptions(int argc, char** argv);

// The outputs that are files (or "-"), empty when not asked for: --wav,
// --video, --log, --crc and --flash-report. (--frames is a folder.)
std::array<const std::string*, 5> fileOutputs(const RenderOptions& options);

// Whether any output at all is asked for, --frames included.
bool writesAnything(const RenderOptions& options);
// Whether an output other than the WAV is asked for: the frames must be
// composed.
bool needsFrames(const RenderOptions& options);

// Parses a non-negative decimal number of seconds ("110", "2.5", "0.016667")
// into microseconds; more than six decimals, signs, exponents and values over
// 10^7 seconds are refused.
bool parseSeconds(const char* text, int64_t* micros);

// Parses a whole decimal number within [low, high]; nothing else may follow it.
bool parseInteger(const char* text, int64_t low, int64_t high, int64_t* value);
