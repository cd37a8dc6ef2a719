// The show's sin, pow and tanh against MPFR: every result must be one of the
// two doubles that bracket the true value (within an ulp), on the arguments
// the synthesiser and the noise scene really use and on sweeps up to the
// largest doubles. The program is linked with --wrap for the three functions,
// so the synthesiser's own calls pass through here.
#include <gtest/gtest.h>
#include <mpfr.h>
#include <sys/wait.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/show_maths.h"
#include "synth/synthesiser.h"

extern "C" {
double __real_queltravine_sin(double x);
double __real_queltravine_pow(double x, double y);
double __real_queltravine_tanh(double x);
double __wrap_queltravine_sin(double x);
double __wrap_queltravine_pow(double x, double y);
double __wrap_queltravine_tanh(double x);
}

namespace {

enum Function { kSin, kPow, kTanh };

struct Call {
    Function function;
    double x;
    double y;
    double result;
};

// While set, calls through the wrappers are kept (one in `recordStride`).
std::vector<Call>* recorded = nullptr;
uint64_t recordStride = 1;
uint64_t callsSeen = 0;

double keep(Function function, double x, double y, double result) {
    if (recorded != nullptr && callsSeen++ % recordStride == 0) {
        recorded->push_back({function, x, y, result});
    }
    return result;
}

// The correctly rounded result in one direction.
double bound(Function function, double x, double y, mpfr_rnd_t direction) {
    mpfr_t a, b, out;
    mpfr_inits2(53, a, b, out, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(a, x, MPFR_RNDN);
    mpfr_set_d(b, y, MPFR_RNDN);
    switch (function) {
        case kSin:
            mpfr_sin(out, a, direction);
            break;
        case kPow:
            mpfr_pow(out, a, b, direction);
            break;
        case kTanh:
            mpfr_tanh(out, a, direction);
            break;
    }
    // Same direction again: rounding a rounded value the same way is exact.
    const double value = mpfr_get_d(out, direction);
    mpfr_clears(a, b, out, static_cast<mpfr_ptr>(nullptr));
    return value;
}

struct Tally {
    uint64_t checked = 0;
    uint64_t correctlyRounded = 0;
    uint64_t outside = 0;
    std::string firstOutside;
};

void check(const Call& call, Tally& tally) {
    ++tally.checked;
    const double below = bound(call.function, call.x, call.y, MPFR_RNDD);
    const double above = bound(call.function, call.x, call.y, MPFR_RNDU);
    const double nearest = bound(call.function, call.x, call.y, MPFR_RNDN);
    const bool same = call.result == nearest || (std::isnan(call.result) && std::isnan(nearest));
    if (same) {
        ++tally.correctlyRounded;
    }
    if (!same && call.result != below && call.result != above) {
        if (tally.outside++ == 0) {
            char text[160];
            std::snprintf(text, sizeof text, "function %d (%a, %a) gave %a, true value in [%a, %a]",
                          call.function, call.x, call.y, call.result, below, above);
            tally.firstOutside = text;
        }
    }
}

void report(const char* what, const Tally& tally) {
    std::printf("%s: %" PRIu64 " results checked, %" PRIu64 " correctly rounded, %" PRIu64
                " further than an ulp\n",
                what, tally.checked, tally.correctlyRounded, tally.outside);
}

Call direct(Function function, double x, double y = 0) {
    switch (function) {
        case kSin:
            return {function, x, y, maths::sin(x)};
        case kPow:
            return {function, x, y, maths::pow(x, y)};
        case kTanh:
            return {function, x, y, maths::tanh(x)};
    }
    return {};
}

}  // namespace

extern "C" double __wrap_queltravine_sin(double x) {
    return keep(kSin, x, 0, __real_queltravine_sin(x));
}
extern "C" double __wrap_queltravine_pow(double x, double y) {
    return keep(kPow, x, y, __real_queltravine_pow(x, y));
}
// While set, every tanh is also taken by the double-double path alone, and
// the calls where the two differ are counted.
bool comparingTanh = false;
uint64_t tanhsDiffering = 0;

extern "C" double __wrap_queltravine_tanh(double x) {
    const double y = __real_queltravine_tanh(x);
    if (comparingTanh) {
        const double doubleDouble = queltravine_tanh_double_double(x);
        tanhsDiffering += std::memcmp(&y, &doubleDouble, sizeof y) != 0;
    }
    return keep(kTanh, x, 0, y);
}

// The whole show's music (110 s), one call in 37 of every kind (37 is prime
// to the 13 calls a stereo frame makes, so every call site is sampled), and
// every tanh against the double-double path's bits.
TEST(ShowMaths, TheSynthesisersCallsAreWithinAnUlp) {
    std::vector<Call> calls;
    calls.reserve(1 << 20);
    resetSynthesiser();
    std::vector<uint8_t> block(40000);
    recorded = &calls;
    recordStride = 37;
    callsSeen = 0;
    comparingTanh = true;
    for (int64_t made = 0; made < int64_t{110} * 22050 * 4; made += 40000) {
        fillStereoBlock(nullptr, block.data(), 40000, 0);
    }
    recorded = nullptr;
    comparingTanh = false;
    EXPECT_EQ(tanhsDiffering, 0u);
    ASSERT_GT(calls.size(), 800000u);
    Tally tally[3];
    for (const Call& call : calls) {
        check(call, tally[call.function]);
    }
    report("synthesiser sin", tally[kSin]);
    report("synthesiser pow", tally[kPow]);
    report("synthesiser tanh", tally[kTanh]);
    for (const Tally& t : tally) {
        EXPECT_GT(t.checked, 10000u);
        EXPECT_EQ(t.outside, 0u) << t.firstOutside;
    }
}

// The noise scene's wave: sin(i x 0.001 + accumulator) for every pixel index
// i, at the accumulators of the scene's frames in the renderer's log (one
// index in 601 per frame, a different stretch each frame).
TEST(ShowMaths, TheNoiseScenesSinesAreWithinAnUlp) {
    const std::filesystem::path log = std::filesystem::path(::testing::TempDir()) / "maths.log";
    const std::string command = std::string(RENDER_EXE) + " --pictures " + DATA_DIR +
                                " --seconds 56 --force --log " + log.string() + " 2>/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
    std::ifstream lines(log);
    std::string line;
    std::vector<double> accumulators;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string field[8];
        for (std::string& f : field) {
            fields >> f;
        }
        if (field[0] != "#" && field[7] == "3") {
            accumulators.push_back(std::stod(field[6]));
        }
    }
    std::filesystem::remove(log);
    ASSERT_GT(accumulators.size(), 1000u);
    Tally tally;
    int offset = 0;
    for (double accumulator : accumulators) {
        for (int i = offset; i < 640 * 480; i += 601) {
            check(direct(kSin, i * 0.001 + accumulator), tally);
        }
        offset = (offset + 7) % 601;
    }
    report("noise scene sin", tally);
    EXPECT_EQ(tally.outside, 0u) << tally.firstOutside;
}

// Sweeps over the whole range: sines of phases up to the largest double
// (the phases are never wrapped), powers of every magnitude, tangents across
// their bend and saturation, and the special values.
TEST(ShowMaths, SweepsUpToTheLargestDoublesAreWithinAnUlp) {
    Tally tally[3];
    uint64_t state = 0x9E3779B97F4A7C15u;
    auto mantissa = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return 1.0 + static_cast<double>(state >> 11) * 0x1p-53;
    };
    for (int exponent = -1074; exponent <= 1023; ++exponent) {
        for (int k = 0; k < 24; ++k) {
            const double x = std::ldexp(mantissa(), exponent);
            const double sign = k % 2 == 0 ? 1.0 : -1.0;
            check(direct(kSin, sign * x), tally[kSin]);
            check(direct(kTanh, sign * std::ldexp(mantissa(), -40 + (exponent + 1074) % 47)),
                  tally[kTanh]);
            check(direct(kPow, x, 10.0), tally[kPow]);
            check(direct(kPow, x, (mantissa() - 1.5) * 40.0), tally[kPow]);
        }
    }
    const double specials[] = {
        0.0, -0.0, 1.0, -1.0, HUGE_VAL, -HUGE_VAL, std::nan(""), 0x1p-1074, 0x1.fffffffffffffp1023};
    for (double x : specials) {
        check(direct(kSin, x), tally[kSin]);
        check(direct(kTanh, x), tally[kTanh]);
        check(direct(kPow, x, 10.0), tally[kPow]);
        check(direct(kPow, 0.5, x), tally[kPow]);
    }
    report("sweep sin", tally[kSin]);
    report("sweep pow", tally[kPow]);
    report("sweep tanh", tally[kTanh]);
    for (const Tally& t : tally) {
        EXPECT_EQ(t.outside, 0u) << t.firstOutside;
    }
}

// tanh answers from plain doubles unless the errors of both its paths could
// reach a rounding boundary; wherever it does answer, it must give the
// double-double path's bits. Arguments spread evenly over the exponents, and a few ulps
// either side of where the paths and the reduction change.
TEST(ShowMaths, TanhsFastPathGivesTheDoubleDoublePathsBits) {
    std::vector<double> arguments;
    uint64_t state = 0x2545F4914F6CDD1Du;
    for (int i = 0; i < 3'000'000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double exponent = -28.0 + static_cast<double>(state >> 11) * 0x1p-53 * 33.0;
        arguments.push_back((i % 2 == 0 ? 1.0 : -1.0) * std::exp2(exponent));
    }
    for (double edge : {0x1p-27, 0x1p-5, 0x1p-4, 22.0, 0x1.62e42fefa39efp-9 * 12.5,
                        0x1.62e42fefa39efp-9 * 127.5, 1.0, 2.0}) {
        double x = edge;
        for (int step = 0; step < 64; ++step) {
            x = std::nextafter(x, 0.0);
        }
        for (int step = 0; step < 128; ++step, x = std::nextafter(x, 100.0)) {
            arguments.push_back(x);
        }
    }
    int differing = 0;
    for (double x : arguments) {
        const double fast = maths::tanh(x);
        const double doubleDouble = queltravine_tanh_double_double(x);
        if (std::memcmp(&fast, &doubleDouble, sizeof fast) != 0 && differing++ == 0) {
            ADD_FAILURE() << "tanh(" << std::hexfloat << x << ") gave " << fast << ", the "
                          << "double-double path " << doubleDouble;
        }
    }
    EXPECT_EQ(differing, 0);
}
