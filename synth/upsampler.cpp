#include "synth/upsampler.h"

#include <cmath>
#include <numbers>

#include "core/demo_types.h"
#include "core/show_maths.h"

namespace {

constexpr int kWindow = 2 * kUpsamplerHalfTaps;

// Kaiser window of shape 8: about 80 dB of stop-band for the half-band sinc.
constexpr double kKaiserBeta = 8.0;

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        const double factor = x / (2.0 * k);
        term *= factor * factor;
        sum += term;
        if (term < sum * 1e-17) {
            break;
        }
    }
    return sum;
}

int16_t roundToSample(double value) {
    const int32_t rounded = truncToInt(value < 0.0 ? value - 0.5 : value + 0.5);
    if (rounded > 32767) {
        return 32767;
    }
    if (rounded < -32768) {
        return -32768;
    }
    return static_cast<int16_t>(rounded);
}

}  // namespace

void resetUpsampler(Upsampler& upsampler) {
    upsampler = Upsampler{};
    double sum = 0.0;
    for (int j = 0; j < kUpsamplerHalfTaps; ++j) {
        const double t = j + 0.5;  // distance in input frames
        const double sinc = maths::sin(std::numbers::pi * t) / (std::numbers::pi * t);
        const double edge = t / (kUpsamplerHalfTaps + 0.5);
        const double window =
            besselI0(kKaiserBeta * std::sqrt(1.0 - edge * edge)) / besselI0(kKaiserBeta);
        upsampler.taps[j] = sinc * window;
        sum += 2.0 * upsampler.taps[j];
    }
    // Steady input gives the same steady output between the frames.
    for (double& tap : upsampler.taps) {
        tap /= sum;
    }
}

void upsampleStereo(Upsampler& upsampler, const int16_t* input, int32_t frames, int16_t* output) {
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t at = upsampler.position;
        for (int channel = 0; channel < 2; ++channel) {
            upsampler.history[channel][at] = input[2 * i + channel];
            upsampler.history[channel][at + kWindow] = input[2 * i + channel];
        }
        upsampler.position = at + 1 == kWindow ? 0 : at + 1;
        for (int channel = 0; channel < 2; ++channel) {
            // Oldest first: window[kWindow - 1] is the frame just taken.
            const int16_t* window = upsampler.history[channel] + upsampler.position;
            double between = 0.0;
            for (int j = 0; j < kUpsamplerHalfTaps; ++j) {
                between +=
                    upsampler.taps[j] * (static_cast<double>(window[kUpsamplerHalfTaps - 1 - j]) +
                                         static_cast<double>(window[kUpsamplerHalfTaps + j]));
            }
            output[4 * i + channel] = window[kUpsamplerHalfTaps - 1];
            output[4 * i + 2 + channel] = roundToSample(between);
        }
    }
}
