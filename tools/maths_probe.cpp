// Compares the show's sin, pow and tanh (core/show_maths.h) of two builds of the
// synthesiser call by call. "record" runs the synthesiser and writes every call (function,
// arguments, result) to standard output; "compare" runs it again, reads that
// stream and, for each call, counts how far its own result lies from the
// recorded one, then uses the recorded result so that both runs stay on the
// same arguments to the end. Linked with --wrap for the three functions.
//
//   linux/maths-probe record 110 | wine windows/maths-probe.exe compare 110
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

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

enum Function : uint8_t { kSin, kPow, kTanh, kFunctions };
constexpr const char* kNames[kFunctions] = {"sin", "pow", "tanh"};

struct Call {
    double x;
    double y;
    double result;
    uint64_t function;
};

bool comparing = false;
std::vector<Call> buffer(1 << 16);
size_t used = 0;
size_t filled = 0;

struct Tally {
    uint64_t calls = 0;
    uint64_t differ = 0;
    uint64_t argumentsDiffer = 0;
    uint64_t nanBitsDiffer = 0;  // both NaN, with another sign or payload
    uint64_t largestUlps = 0;
    double largestAt = 0;
    double relative = 0;
};
// Per function, per argument range: the sine of a huge phase needs an exact
// argument reduction, which not every runtime has.
constexpr int kRanges = 3;
constexpr const char* kRangeNames[kRanges] = {"|x| < 2^20", "2^20 <= |x| < 2^63", "|x| >= 2^63"};
Tally tallies[kFunctions][kRanges];

int rangeOf(double x) {
    const double magnitude = std::fabs(x);
    return magnitude < 1048576.0 ? 0 : magnitude < 9223372036854775808.0 ? 1 : 2;
}

uint64_t orderedBits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

uint64_t ulpsApart(double a, double b) {
    const uint64_t x = orderedBits(a);
    const uint64_t y = orderedBits(b);
    return x > y ? x - y : y - x;
}

double handle(Function function, double x, double y, double mine) {
    if (!comparing) {
        buffer[used++] = {x, y, mine, function};
        if (used == buffer.size()) {
            std::fwrite(buffer.data(), sizeof(Call), used, stdout);
            used = 0;
        }
        return mine;
    }
    if (used == filled) {
        filled = std::fread(buffer.data(), sizeof(Call), buffer.size(), stdin);
        used = 0;
        if (filled == 0) {
            std::fputs("maths-probe: the recorded stream ended early\n", stderr);
            std::exit(1);
        }
    }
    const Call& recorded = buffer[used++];
    Tally& tally = tallies[function][rangeOf(x)];
    ++tally.calls;
    if (recorded.function != function || !sameBits(recorded.x, x) || !sameBits(recorded.y, y)) {
        ++tally.argumentsDiffer;
        return mine;
    }
    if (std::isnan(recorded.result) && std::isnan(mine)) {
        tally.nanBitsDiffer += !sameBits(recorded.result, mine);
    } else if (recorded.result != mine) {
        ++tally.differ;
        const uint64_t ulps = ulpsApart(recorded.result, mine);
        if (ulps > tally.largestUlps) {
            tally.largestUlps = ulps;
            tally.largestAt = x;
            tally.relative = (mine - recorded.result) / recorded.result;
        }
    }
    return recorded.result;  // keep both runs on the same path
}

}  // namespace

extern "C" double __wrap_queltravine_sin(double x) {
    return handle(kSin, x, 0, __real_queltravine_sin(x));
}
extern "C" double __wrap_queltravine_pow(double x, double y) {
    return handle(kPow, x, y, __real_queltravine_pow(x, y));
}
extern "C" double __wrap_queltravine_tanh(double x) {
    return handle(kTanh, x, 0, __real_queltravine_tanh(x));
}

int main(int argc, char** argv) {
    if (argc != 3 ||
        (std::strcmp(argv[1], "record") != 0 && std::strcmp(argv[1], "compare") != 0)) {
        std::fputs("usage: maths-probe record|compare SECONDS\n", stderr);
        return 2;
    }
    comparing = std::strcmp(argv[1], "compare") == 0;
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const long long frames = std::atoll(argv[2]) * kAudioRate;
    std::vector<uint8_t> block(40000);
    for (long long done = 0; done < frames; done += 10000) {
        fillStereoBlock(nullptr, block.data(), 40000, 12345);
    }
    if (!comparing) {
        std::fwrite(buffer.data(), sizeof(Call), used, stdout);
        return 0;
    }
    for (int f = 0; f < kFunctions; ++f) {
        for (int r = 0; r < kRanges; ++r) {
            const Tally& t = tallies[f][r];
            if (t.calls == 0) {
                continue;
            }
            std::printf("%-4s %-19s %9" PRIu64 " calls, %8" PRIu64
                        " results differ (%.3f%%), largest %" PRIu64
                        " ulp (relative %.2e, x = %.17g); NaN bits differ %" PRIu64 "%s\n",
                        kNames[f], kRangeNames[r], t.calls, t.differ, 100.0 * t.differ / t.calls,
                        t.largestUlps, t.relative, t.largestAt, t.nanBitsDiffer,
                        t.argumentsDiffer ? " ARGUMENTS OUT OF STEP" : "");
        }
    }
    return 0;
}
