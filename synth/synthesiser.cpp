#include "synth/synthesiser.h"

#include "core/show_maths.h"

SynthState synthState;
RandomGenerator synthRandom;
std::atomic<int32_t> stepResidueA{0};
std::atomic<int32_t> stepResidueB{0};

namespace {

// Constants whose width matters. The single-precision ones are rounded to
// float first and then widened, as the music was tuned with them.
constexpr double kModStep1 = static_cast<float>(5.5 / 22050.0);  // 0.0002494331f
constexpr double kModStep2 = 0.0001927437641723356;              // 4.25 / 22050
constexpr double kModSine = static_cast<double>(0.2f);
constexpr double kInputScale = 3.0518509475997192e-6;  // 0.1 / 32767
constexpr double kPhaseStepB = static_cast<double>(0.01f);
constexpr double kPhaseStepA = static_cast<double>(0.0142f);
constexpr double kWobble = static_cast<double>(0.02f);

double randomFraction() {
    return static_cast<double>(synthRandom.draw() % 25058) / 25058.0;
}

void putSample(uint8_t* out, int32_t sample) {
    const auto bits = static_cast<uint32_t>(sample);
    out[0] = static_cast<uint8_t>(bits);
    out[1] = static_cast<uint8_t>(bits >> 8);
}

}  // namespace

void resetSynthesiser() {
    synthState = {};
    synthRandom = {};
    stepResidueA = 0;
    stepResidueB = 0;
}

void takeResidues(int32_t a, int32_t b) {
    stepResidueA.store(a, std::memory_order_relaxed);
    stepResidueB.store(b, std::memory_order_relaxed);
}

int fillStereoBlock(void* /*stream*/, void* buffer, int32_t byteCount, int32_t /*userValue*/) {
    makeStereoFrames(static_cast<int16_t*>(buffer), byteCount >> 2);
    return 1;
}

void makeStereoFrames(int16_t* samples, int32_t frames) {
    SynthState& st = synthState;
    // Written a byte at a time: little-endian whatever the target.
    auto* out = reinterpret_cast<uint8_t*>(samples);

    // The sine of phaseA is carried from step 19 of one frame to step 1 of the
    // next; only the first frame of a block computes it afresh.
    double sineA = maths::sin(static_cast<double>(st.phaseA));

    for (int32_t frame = 0; frame < frames; ++frame) {
        const int32_t a = truncToInt(sineA * 32767.0);
        const int32_t b = truncToInt(maths::sin(static_cast<double>(st.phaseB)) * 32767.0);
        const auto [x, v] = channelInputs(a, b);

        st.modPhase1 = static_cast<float>(st.modPhase1 + kModStep1);
        const double m2 = st.modPhase2 + kModStep2;
        st.modPhase2 = static_cast<float>(m2);

        const double mod1 = st.modPhase1;
        const double mod2 = st.modPhase2;
        const float inputWeightL = static_cast<float>(
            maths::pow(0.25 * maths::sin(2.2 * m2) + kModSine * maths::sin(mod1) + 0.5, 10.0));
        const float inputWeightR = static_cast<float>(
            maths::pow(0.25 * maths::sin(2.2 * mod1) + kModSine * maths::sin(mod2) + 0.5, 10.0));
        const float feedbackL = static_cast<float>((maths::sin(0.1 * mod1) + 1.0) * 0.5);
        const float feedbackR = static_cast<float>((maths::sin(0.11 * mod2) + 1.0) * 0.5);

        // One-pole smoothing with feedback on the output two frames back.
        const double yL = x * kInputScale * inputWeightL + (1.0 - inputWeightL) * st.outL1;
        const double zL = yL + (yL - st.outL2) * feedbackL;
        st.outL2 = st.outL1;
        st.outL1 = static_cast<float>(zL);

        const double yR = v * kInputScale * inputWeightR + (1.0 - inputWeightR) * st.outR1;
        const double zR = yR + (yR - st.outR2) * feedbackR;
        st.outR2 = st.outR1;
        st.outR1 = static_cast<float>(zR);

        // Saturation: the left tangent is rounded to float, the right one is not.
        const float sL = static_cast<float>(maths::tanh(st.outL1 * 120.0));
        putSample(out, truncToInt(sL * 32767.0));
        putSample(out + 2, truncToInt(maths::tanh(st.outR1 * 120.0) * 32767.0));
        out += kAudioBytesPerFrame;

        st.phaseB = static_cast<float>((st.stepB + static_cast<double>(st.phaseB)) + kPhaseStepB);
        st.phaseA = static_cast<float>((st.stepA + static_cast<double>(st.phaseA)) + kPhaseStepA);

        const uint32_t q1 = static_cast<uint32_t>(synthRandom.draw() & 255) ^
                            static_cast<uint32_t>(truncToInt(st.stepA));
        const double t1 = static_cast<float>(static_cast<int32_t>(100u * q1));
        const double f1 = randomFraction();
        st.stepB = static_cast<float>(
            ((f1 + t1) + maths::sin(static_cast<double>(st.phaseB)) * kWobble) + st.stepB);

        sineA = maths::sin(static_cast<double>(st.phaseA));
        const double t2 = (synthRandom.draw() % 3) * 100;
        const double f2 = randomFraction();
        const double a2 = ((f2 + t2) + sineA * kWobble) + st.stepA;
        st.stepA = static_cast<float>(a2);
        // Kept: stepB grows to infinity, then NaN for good, within a few
        // dozen frames, and no phase is ever wrapped (docs/quirks.md).
        st.stepB = static_cast<float>(a2 * st.stepB);
    }

    stepResidueB.store(truncToInt(st.stepB * 200.0) % 480, std::memory_order_relaxed);
    stepResidueA.store(truncToInt(st.stepA) % 480, std::memory_order_relaxed);
}
