// The video: ffmpeg as a child process, fed raw frames through a pipe while
// it reads the audio from a finished WAV. The Windows build has no encoder.
#pragma once

#include <cstdint>
#include <string>

#include "core/demo_types.h"

// Why --video cannot work here (the Windows build, or no ffmpeg on the
// PATH), or null when it can.
const char* videoUnavailableReason();

// Starts ffmpeg writing the partial name of videoPath from frames enlarged
// `scale` times at `fps` and the audio in wavPath. Fails the render when it
// cannot start.
void startVideoEncoder(const std::string& videoPath, int scale, int32_t fps,
                       const std::string& wavPath);
// Hands one 640x480 frame to the encoder, enlarged as asked.
void encodeVideoFrame(const Pixel* frame);
// Closes the pipe, waits for ffmpeg and renames its output; fails the render
// when ffmpeg did not succeed.
void finishVideoEncoder();

// Nearest-neighbour upscale of a 640x480 frame by a whole factor into
// `scaled`, which holds (640 x scale) x (480 x scale) pixels.
void scaleFrame(const Pixel* frame, int scale, Pixel* scaled);

// True for the extensions that get H.264 and AAC rather than ffmpeg's choice.
bool hasVideoCodecDefaults(const std::string& path);
