#include "synth/upsampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double kInRate = 22050.0;
constexpr double kOutRate = 44100.0;

// Interleaved stereo: left a sine of `hz`, right the same sine inverted.
std::vector<int16_t> stereoSine(double hz, double amplitude, int frames) {
    std::vector<int16_t> samples(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * std::numbers::pi * hz * i / kInRate);
        samples[2 * i] = static_cast<int16_t>(std::lround(v));
        samples[2 * i + 1] = static_cast<int16_t>(-std::lround(v));
    }
    return samples;
}

std::vector<int16_t> upsample(const std::vector<int16_t>& input) {
    Upsampler upsampler;
    resetUpsampler(upsampler);
    std::vector<int16_t> output(2 * input.size());
    upsampleStereo(upsampler, input.data(), static_cast<int32_t>(input.size() / 2), output.data());
    return output;
}

// Amplitude of the component at `hz` in one channel of the output, measured
// over whole output frames from `first` on.
double amplitudeAt(const std::vector<int16_t>& output, int channel, double hz, size_t first) {
    double re = 0.0;
    double im = 0.0;
    const size_t frames = output.size() / 2;
    for (size_t n = first; n < frames; ++n) {
        const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(n) / kOutRate;
        re += output[2 * n + channel] * std::cos(phase);
        im += output[2 * n + channel] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(frames - first);
}

TEST(Upsampler, SteadyInputGivesTheSameSteadyOutputAfterTheLookAhead) {
    std::vector<int16_t> input(2 * 200);
    for (size_t i = 0; i < input.size(); i += 2) {
        input[i] = 1000;
        input[i + 1] = -32768;
    }
    const std::vector<int16_t> output = upsample(input);
    // Silence comes out while the look-ahead fills.
    EXPECT_EQ(output[0], 0);
    // Then, once the whole window holds input, every frame is exact.
    for (size_t frame = 4 * kUpsamplerHalfTaps; frame < output.size() / 2; ++frame) {
        ASSERT_EQ(output[2 * frame], 1000) << frame;
        ASSERT_EQ(output[2 * frame + 1], -32768) << frame;
    }
}

TEST(Upsampler, KeepsTheInputFramesAndFillsInTheSineBetweenThem) {
    const double hz = 1000.0;
    const std::vector<int16_t> input = stereoSine(hz, 12000.0, 2000);
    const std::vector<int16_t> output = upsample(input);
    const int lag = 2 * kUpsamplerHalfTaps;  // output frames
    for (int n = 200; n < 3800; ++n) {
        const double t = static_cast<double>(n - lag) / kOutRate;
        const double ideal = 12000.0 * std::sin(2.0 * std::numbers::pi * hz * t);
        ASSERT_NEAR(output[2 * n], ideal, 2.0) << n;
        ASSERT_NEAR(output[2 * n + 1], -ideal, 2.0) << n;
        if (n % 2 == 0) {  // the input frames themselves pass unchanged
            ASSERT_EQ(output[2 * n], input[2 * ((n - lag) / 2)]) << n;
        }
    }
}

TEST(Upsampler, RemovesTheMirrorImageAboveTheOldNyquistFrequency) {
    // Every tone below 10 kHz keeps its level; its image at 22050 - f, which
    // plain sample doubling would play, is at least 70 dB down.
    for (double hz : {440.0, 4000.0, 8000.0, 9500.0}) {
        const std::vector<int16_t> output = upsample(stereoSine(hz, 16000.0, 6000));
        for (int channel = 0; channel < 2; ++channel) {
            const double wanted = amplitudeAt(output, channel, hz, 200);
            const double image = amplitudeAt(output, channel, kInRate - hz, 200);
            EXPECT_NEAR(wanted, 16000.0, 16000.0 * 0.002) << hz;
            EXPECT_LT(image, 16000.0 * std::pow(10.0, -70.0 / 20.0)) << hz;
        }
    }
}

TEST(Upsampler, BlocksOfAnySizeGiveTheSameStream) {
    const std::vector<int16_t> input = stereoSine(3000.0, 20000.0, 3001);
    const std::vector<int16_t> whole = upsample(input);

    Upsampler upsampler;
    resetUpsampler(upsampler);
    std::vector<int16_t> pieces(whole.size());
    int32_t done = 0;
    int32_t size = 1;
    while (done < 3001) {
        const int32_t frames = std::min(size, 3001 - done);
        upsampleStereo(upsampler, input.data() + 2 * done, frames, pieces.data() + 4 * done);
        done += frames;
        size = size * 3 % 97 + 1;
    }
    EXPECT_EQ(pieces, whole);
}

TEST(Upsampler, OvershootAtFullScaleClampsInsteadOfWrapping) {
    // A full-scale square wave rings past the 16-bit range between frames.
    std::vector<int16_t> input(2 * 400);
    for (size_t frame = 0; frame < 400; ++frame) {
        const int16_t v = (frame / 20) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
        input[2 * frame] = v;
        input[2 * frame + 1] = v;
    }
    const std::vector<int16_t> output = upsample(input);
    const int lag = kUpsamplerHalfTaps;  // input frames
    int clamped = 0;
    for (size_t n = 4 * static_cast<size_t>(lag); n + 1 < output.size() / 2; n += 2) {
        // The point between two equal full-scale frames stays on their side.
        const size_t before = n / 2 - static_cast<size_t>(lag);
        if (before + 1 < 400 && input[2 * before] == input[2 * before + 2]) {
            const int16_t between = output[2 * (n + 1)];
            ASSERT_EQ(between > 0, input[2 * before] > 0) << n;
            clamped += between == 32767 || between == -32768;
        }
    }
    EXPECT_GT(clamped, 0);
}

}  // namespace
