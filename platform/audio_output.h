// Plays the synthesiser: the audio device pulls its 22050 Hz signed 16-bit
// stereo, in whole blocks, on a thread of its own (audio_feed.h).
#pragma once

#include <cstdint>

// The rate the device plays at; the 22050 Hz stream is converted to it.
inline constexpr int kAudioDeviceRate = 44100;

// Opens the sound device and starts it. A second call finds the stream
// playing and leaves it so: nothing is closed or skipped, the synthesiser
// never runs on two threads, and the music goes on from where the generator
// is. (The demo starts the audio twice in a row; closing a device would only
// cost the time its thread takes to stop and drop what it had queued.) When
// the device cannot be opened the process ends with exit status 1 and a
// one-line reason on standard error (failAudio).
void startAudio();

// Closes the device. Returns once the synthesiser has stopped being called.
void stopAudio();

// For the backends: writes "queltravine: " and the formatted reason as one
// line on standard error, then ends the process with exit status 1.
[[noreturn]] void failAudio(const char* format, ...) __attribute__((format(printf, 1, 2)));
