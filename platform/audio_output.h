// Plays the synthesiser: the audio device pulls 22050 Hz signed 16-bit stereo
// from fillStereoBlock on a thread of its own.
#pragma once

#include <cstdint>

// Bytes fillStereoBlock is asked for at a time: 10,000 stereo frames.
inline constexpr int32_t kAudioBlockBytes = 40000;
// The value handed to every fill call.
inline constexpr int32_t kAudioUserValue = 12345;
// The rate the device plays at; the 22050 Hz stream is converted to it.
inline constexpr int kAudioDeviceRate = 44100;

// Opens the sound device and starts it. A second call finds the stream
// playing and leaves it so: nothing is closed or skipped, fillStereoBlock
// never runs on two threads, and the music goes on from where the generator
// is. (The demo starts the audio twice in a row; closing a device would only
// cost the time its thread takes to stop and drop what it had queued.) When
// the device cannot be opened the process ends with exit status 1 and a
// one-line reason on standard error (failAudio).
void startAudio();

// Closes the device. Returns once fillStereoBlock has stopped being called.
void stopAudio();

// For the backends: writes "queltravine: " and the formatted reason as one
// line on standard error, then ends the process with exit status 1.
[[noreturn]] void failAudio(const char* format, ...) __attribute__((format(printf, 1, 2)));
