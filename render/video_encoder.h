// The video: ffmpeg as a child process, fed raw frames through a pipe while
// it reads the audio from a finished WAV. The Windows build has no encoder.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/demo_types.h"

// Why --video cannot work here (the Windows build, or no ffmpeg on the
// PATH), or null when it can.
const char* videoUnavailableReason();

// The H.264 defaults, chosen scene by scene against the lossless master
// (the table is in docs/capture.md): `faster` gains up to 2 dB over `veryfast`
// (most in scenes 0 and 3, nothing in scene 2) at about the same size, in
// 1.4 times the time; `fast` took twice as long again.
inline constexpr int kDefaultVideoCrf = 14;
inline constexpr const char* kDefaultVideoPreset = "faster";
// The last scene alternates between two frames, so each frame is best coded
// against the one before the last: three reference frames, no B-frames.
inline constexpr int kDefaultVideoReferences = 3;
// 4:4:4 is for keeping: at least 40 dB in every scene, the noise scene too,
// which needs x264's PSNR tuning (its psychovisual tuning cost the noise
// scene 10 dB at the same quantiser) and a low rate factor.
inline constexpr int kDefault444Crf = 8;
// Enlarged twice, each pixel is one 2x2 block: one chroma sample of its own.
inline constexpr int kDefaultVideoScale = 2;

struct VideoSettings {
    std::string path;
    int scale = kDefaultVideoScale;
    int32_t fps = 60;
    // FFV1 video (the frames' own RGB) and FLAC audio (the synthesiser's own
    // 22050 Hz) in Matroska: an archival master that keeps every bit.
    bool lossless = false;
    // For the H.264 extensions: libx264's constant rate factor and preset.
    int crf = -1;  // -1: the default for the chroma (kDefaultVideoCrf, kDefault444Crf)
    std::string preset = kDefaultVideoPreset;
    // H.264 High 4:4:4: every pixel keeps its own colour whatever filter the
    // player's chroma takes; 4:2:0 (one sample per 2x2 block) otherwise.
    bool chroma444 = false;
};

// libx264's preset names, fastest first.
inline constexpr std::array<const char*, 10> kVideoPresets = {
    "ultrafast", "superfast", "veryfast", "faster",   "fast",
    "medium",    "slow",      "slower",   "veryslow", "placebo"};

// Starts ffmpeg writing the partial name of settings.path from frames and
// the audio in wavPath. Fails the render when it cannot start.
void startVideoEncoder(const VideoSettings& settings, const std::string& wavPath);
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

// True when the frames go to ffmpeg as BT.709 limited-range 4:2:0 or 4:4:4
// made here (H.264); otherwise they go as the frames' own RGB.
bool sendsYuvFrames(const VideoSettings& settings);

// What describes the raw frames on ffmpeg's standard input.
std::vector<std::string> videoInputArguments(const VideoSettings& settings);

// The encoder's arguments after the two inputs, up to the output name.
std::vector<std::string> videoCodecArguments(const VideoSettings& settings);
