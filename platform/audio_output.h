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

// Opens the sound device and starts it. A second call closes the device the
// first one opened before opening another, so fillStereoBlock never runs on
// two threads; the synthesiser carries on where it was. When the device
// cannot be opened the process ends with exit status 1 and a one-line reason
// on standard error.
void startAudio();

// Closes the device. Returns once fillStereoBlock has stopped being called.
void stopAudio();
