// The flash courses' step written once for W lanes (GCC/Clang vector
// extensions) and compiled once per instruction set, each copy in its own
// file with its own flags; internal linkage, so that no copy built for a
// wider set can stand in for another's. Branch-free: the changes of noise go
// either way at random and would defeat a branch predictor. The changes are
// measured in double, as the one-lane copy does, so every copy marks the
// same pixels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "scenes/flash_courses.h"
#include "scenes/vector_lanes.h"

// Vectors wider than the baseline's registers (a W-lane double vector in the
// SSE2 copy) are passed and returned by value below. That changes the
// calling convention, which matters only between files built for different
// instruction sets; everything here has internal linkage. The warning is
// given where the templates are instantiated, so it stays off for the rest of
// the kernel's file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

// The darker state of a general flash is below 0.8: no float lies between
// 0.8 and 0.8f, so comparing floats with 0.8f is comparing with 0.8.
constexpr float kDarkerBelow = 0.8f;

template <int W>
typename Lanes<W>::F32 loadLanes(const float* from) {
    typename Lanes<W>::F32 v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <int W>
typename Lanes<W>::I32 loadLanes(const int32_t* from) {
    typename Lanes<W>::I32 v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <typename Vector, typename Element>
void storeLanes(Element* to, const Vector& v) {
    std::memcpy(to, &v, sizeof v);
}

template <typename Vector>
Vector pick(const typename Lanes<sizeof(Vector) / 4>::I32& mask, const Vector& yes,
            const Vector& no) {
    typename Lanes<sizeof(Vector) / 4>::I32 a;
    typename Lanes<sizeof(Vector) / 4>::I32 b;
    std::memcpy(&a, &yes, sizeof a);
    std::memcpy(&b, &no, sizeof b);
    const auto bits = (a & mask) | (b & ~mask);
    Vector out;
    std::memcpy(&out, &bits, sizeof out);
    return out;
}

// W lanes taken as two halves of W / 2, each half a register's floats in
// double, and joined again: shuffles, in registers. One lane is its own half.
template <int W, size_t... Index>
typename Lanes<W / 2>::F32 lowHalf(const typename Lanes<W>::F32& v, std::index_sequence<Index...>) {
    return __builtin_shufflevector(v, v, Index...);
}
template <int W, size_t... Index>
typename Lanes<W / 2>::F32 highHalf(const typename Lanes<W>::F32& v,
                                    std::index_sequence<Index...>) {
    return __builtin_shufflevector(v, v, (Index + W / 2)...);
}
template <int W, typename Vector, size_t... Index>
auto joinHalves(const Vector& low, const Vector& high, std::index_sequence<Index...>) {
    return __builtin_shufflevector(low, high, Index..., (Index + W / 2)...);
}

// Applies `step` (F32 lanes in, a vector of as many lanes out) to each half
// and joins the two: narrowing the joined vector once, rather than each
// half, keeps every vector whole in the registers (a WebAssembly build
// otherwise narrows lane by lane).
template <int W, typename Step>
auto byHalves(const typename Lanes<W>::F32& a, const typename Lanes<W>::F32& b, Step step) {
    if constexpr (W == 1) {
        return step(a, b);
    } else {
        constexpr auto half = std::make_index_sequence<W / 2>();
        return joinHalves<W>(step(lowHalf<W>(a, half), lowHalf<W>(b, half)),
                             step(highHalf<W>(a, half), highHalf<W>(b, half)), half);
    }
}

template <typename F32>
auto inDouble(const F32& v) {
    return __builtin_convertvector(v, typename Lanes<sizeof(F32) / 4>::F64);
}

// Lanes where big - small >= minimum as double arithmetic finds it (-1,
// else 0); big and small are floats, big the larger where it matters.
template <int W>
typename Lanes<W>::I32 differsByInDouble(const typename Lanes<W>::F32& big,
                                         const typename Lanes<W>::F32& small, double minimum) {
    const typename Lanes<W>::I64 differs = byHalves<W>(
        big, small,
        [minimum](const auto& b, const auto& s) { return inDouble(b) - inDouble(s) >= minimum; });
    return __builtin_convertvector(differs, typename Lanes<W>::I32);
}

// A change threshold and the floats either side of it (adjacent, or equal
// where the threshold is a float itself).
struct ChangeThreshold {
    double minimum;
    float below;
    float above;
};

constexpr bool bracketsTightly(const ChangeThreshold& t) {
    return t.below <= t.minimum && t.minimum <= t.above &&
           __builtin_bit_cast(uint32_t, t.above) - __builtin_bit_cast(uint32_t, t.below) <= 1;
}

// A change of 0.1 in relative luminance; of more than 20 in redness (the
// next double up from 20).
constexpr ChangeThreshold kLumaChange{0.1, 0x1.999998p-4f, 0x1.99999ap-4f};
constexpr ChangeThreshold kRedChange{20.0 + 0x1p-48, 20.0f, 0x1.400002p+4f};
static_assert(bracketsTightly(kLumaChange) && bracketsTightly(kRedChange));

// The same lanes from the difference in float, which decides alone unless
// it rounds to one of the floats either side of the threshold: rounding is
// monotonic, so a float difference above both means a difference above the
// threshold, one below both a difference below. Only where some lane's
// rounds to either (rarely) is the vector measured again in double. The
// one-lane copy, which the others are checked against, always measures in
// double.
template <int W>
typename Lanes<W>::I32 differsBy(const typename Lanes<W>::F32& big,
                                 const typename Lanes<W>::F32& small,
                                 const ChangeThreshold& threshold) {
    if constexpr (W == 1) {
        return differsByInDouble<1>(big, small, threshold.minimum);
    } else {
        const typename Lanes<W>::F32 difference = big - small;
        const typename Lanes<W>::I32 near =
            (difference >= threshold.below) & (difference <= threshold.above);
        if (anyLane32<W>(near)) [[unlikely]]
            return differsByInDouble<W>(big, small, threshold.minimum);
        return difference > threshold.above;
    }
}

// Doubles rounded to floats. WebAssembly's compiler here would round each
// lane on its own; its instruction rounds two lanes at a time.
template <int W>
typename Lanes<W>::F32 toFloat(const typename Lanes<W>::F64& wide) {
#if defined(__wasm_simd128__)
    if constexpr (W == 4) {
        v128_t halves[2];
        std::memcpy(halves, &wide, sizeof halves);
        const v128_t joined =
            wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(halves[0]),
                               wasm_f32x4_demote_f64x2_zero(halves[1]), 0, 1, 4, 5);
        typename Lanes<W>::F32 narrow;
        std::memcpy(&narrow, &joined, sizeof narrow);
        return narrow;
    }
#endif
    return __builtin_convertvector(wide, typename Lanes<W>::F32);
}

// Pixels measured as measureFlashPixel measures one.
template <int W>
struct MeasuredLanes {
    typename Lanes<W>::F32 luma;
    typename Lanes<W>::F32 red;
    typename Lanes<W>::I32 saturated;
};

// H lanes in double, not yet narrowed.
template <int H>
struct MeasuredInDouble {
    typename Lanes<H>::F64 luma;
    typename Lanes<H>::F64 red;
    typename Lanes<H>::I64 saturated;
};

// `reddish` is false when no lane's red channel exceeds both others: then
// R - G - B is at most 0 in every lane, no lane is red, and the division is
// spared.
template <int H>
MeasuredInDouble<H> measureInDouble(const typename Lanes<H>::F32& red8,
                                    const typename Lanes<H>::F32& green8,
                                    const typename Lanes<H>::F32& blue8, bool reddish) {
    using F64 = typename Lanes<H>::F64;
    using I64 = typename Lanes<H>::I64;
    const F64 r = inDouble(red8);
    const F64 g = inDouble(green8);
    const F64 b = inDouble(blue8);
    const F64 luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    if (!reddish)
        return {luma, F64{}, I64{}};
    const F64 redness = (r - g - b) * 320.0;
    const I64 positive = redness > 0.0;
    return {luma, positive ? redness : F64{}, positive & (r / (r + g + b) >= 0.8)};
}

// The transfer table, as the widest instruction set takes it: AVX-512 holds
// all 256 entries in 16 registers and looks them up by permutes, 32 entries
// at a time; the others look up lane by lane (AVX2's gathers measured
// slower than that).
template <int W>
struct LinearTable {
    const float* entries;
#if defined(__AVX512F__)
    __m512 registers[16];
    explicit LinearTable(const float* table) : entries(table) {
        for (int k = 0; k < 16; ++k)
            registers[k] = _mm512_loadu_ps(table + 16 * k);
    }
#else
    explicit LinearTable(const float* table) : entries(table) {}
#endif

    typename Lanes<W>::F32 lookUp(const typename Lanes<W>::I32& index) const {
#if defined(__AVX512F__)
        if constexpr (W == 16) {
            const __m512i i = reinterpret_cast<__m512i>(index);
            __m512 pairs[8];
            for (int k = 0; k < 8; ++k)
                pairs[k] = _mm512_permutex2var_ps(registers[2 * k], i, registers[2 * k + 1]);
            // Bits 5, 6 and 7 of the index pick the pair.
            const __mmask16 bit5 = _mm512_test_epi32_mask(i, _mm512_set1_epi32(32));
            const __mmask16 bit6 = _mm512_test_epi32_mask(i, _mm512_set1_epi32(64));
            const __mmask16 bit7 = _mm512_test_epi32_mask(i, _mm512_set1_epi32(128));
            __m512 quads[4];
            for (int k = 0; k < 4; ++k)
                quads[k] = _mm512_mask_blend_ps(bit5, pairs[2 * k], pairs[2 * k + 1]);
            const __m512 low = _mm512_mask_blend_ps(bit6, quads[0], quads[1]);
            const __m512 high = _mm512_mask_blend_ps(bit6, quads[2], quads[3]);
            return reinterpret_cast<typename Lanes<W>::F32>(_mm512_mask_blend_ps(bit7, low, high));
        }
#endif
        return lookUpEach(index, std::make_index_sequence<W>());
    }

    // Lane by lane, in one initialiser: no lane goes through memory.
    template <size_t... Index>
    typename Lanes<W>::F32 lookUpEach(const typename Lanes<W>::I32& index,
                                      std::index_sequence<Index...>) const {
        return typename Lanes<W>::F32{entries[index[Index]]...};
    }
};

// W pixels: each channel's linear value looked up, then the arithmetic by
// halves.
template <int W>
MeasuredLanes<W> measureLanes(const uint32_t* pixels, const LinearTable<W>& linear) {
    const typename Lanes<W>::I32 p = loadLanes<W>(reinterpret_cast<const int32_t*>(pixels));
    // The top byte is never shown.
    const typename Lanes<W>::I32 r8 = (p >> 16) & 0xFF;
    const typename Lanes<W>::I32 g8 = (p >> 8) & 0xFF;
    const typename Lanes<W>::I32 b8 = p & 0xFF;
    // The transfer is increasing: where R's byte is at most G's or B's, so is
    // its linear value, and R - G - B is at most 0 however it rounds. The
    // one-lane copy measures every pixel in full.
    const bool reddish = W == 1 || anyLane32<W>((r8 > g8) & (r8 > b8));
    const typename Lanes<W>::F32 r = linear.lookUp(r8);
    const typename Lanes<W>::F32 g = linear.lookUp(g8);
    const typename Lanes<W>::F32 b = linear.lookUp(b8);
    const auto narrow = [](const MeasuredInDouble<W>& wide) {
        return MeasuredLanes<W>{toFloat<W>(wide.luma), toFloat<W>(wide.red),
                                __builtin_convertvector(wide.saturated, typename Lanes<W>::I32)};
    };
    if constexpr (W == 1) {
        return narrow(measureInDouble<1>(r, g, b, reddish));
    } else {
        constexpr auto half = std::make_index_sequence<W / 2>();
        const auto low = measureInDouble<W / 2>(lowHalf<W>(r, half), lowHalf<W>(g, half),
                                                lowHalf<W>(b, half), reddish);
        const auto high = measureInDouble<W / 2>(highHalf<W>(r, half), highHalf<W>(g, half),
                                                 highHalf<W>(b, half), reddish);
        return narrow({joinHalves<W>(low.luma, high.luma, half),
                       joinHalves<W>(low.red, high.red, half),
                       joinHalves<W>(low.saturated, high.saturated, half)});
    }
}

template <int W>
void storeMarks(uint8_t* to, const typename Lanes<W>::I32& mask) {
    storeLanes(to, __builtin_convertvector(mask & 1, typename Lanes<W>::U8));
}

template <int W>
void followFlashCoursesFor(FlashCourseSpan& span) {
    using F32 = typename Lanes<W>::F32;
    using I32 = typename Lanes<W>::I32;
    // Every array once in a local of its own, so that no store is taken to
    // change where another points.
    const uint32_t* __restrict frame = span.frame;
    const float* __restrict lumaLowIn = span.before->lumaLow;
    const float* __restrict lumaHighIn = span.before->lumaHigh;
    const float* __restrict redLowIn = span.before->redLow;
    const float* __restrict redHighIn = span.before->redHigh;
    const uint8_t* __restrict flagsIn = span.before->flags;
    float* __restrict lumaLowOut = span.after->lumaLow;
    float* __restrict lumaHighOut = span.after->lumaHigh;
    float* __restrict redLowOut = span.after->redLow;
    float* __restrict redHighOut = span.after->redHigh;
    uint8_t* __restrict flagsOut = span.after->flags;
    uint8_t* __restrict lumaRises = span.marks[0];
    uint8_t* __restrict lumaFalls = span.marks[1];
    uint8_t* __restrict redRises = span.marks[2];
    uint8_t* __restrict redFalls = span.marks[3];
    const LinearTable<W> linear(span.linear);
    I32 marked[4] = {};
    // A stretch at a time: measured in one loop, followed in another, so
    // that neither runs short of registers; the values stay in the first
    // level cache between the two.
    constexpr int kStretch = 640;
    alignas(64) float lumaValues[kStretch];
    alignas(64) float redValues[kStretch];
    alignas(64) int32_t saturatedValues[kStretch];
    for (int start = span.begin; start < span.end; start += kStretch) {
        const int stretch = std::min(kStretch, span.end - start) / W * W;
        for (int j = 0; j < stretch; j += W) {
            const MeasuredLanes<W> values = measureLanes<W>(frame + start + j, linear);
            storeLanes(lumaValues + j, values.luma);
            storeLanes(redValues + j, values.red);
            storeLanes(saturatedValues + j, values.saturated);
        }
        for (int j = 0; j < stretch; j += W) {
            const int i = start + j;
            typename Lanes<W>::U8 flagBytes;
            std::memcpy(&flagBytes, flagsIn + i, sizeof flagBytes);
            const I32 flags = __builtin_convertvector(flagBytes, I32);

            // General: a rise from the valley, the darker state below 0.8, or a
            // fall from the peak to below 0.8.
            const F32 luma = loadLanes<W>(lumaValues + j);
            const I32 lumaMayRise = (flags & kLumaRising) == 0;
            const I32 lumaMayFall = (flags & kLumaFalling) == 0;
            const F32 lumaHighBefore = loadLanes<W>(lumaHighIn + i);
            const F32 lumaLowBefore = loadLanes<W>(lumaLowIn + i);
            const F32 lumaHigh = pick(lumaMayFall & (luma > lumaHighBefore), luma, lumaHighBefore);
            const F32 lumaLow = pick(lumaMayRise & (luma < lumaLowBefore), luma, lumaLowBefore);
            const I32 lumaRise =
                lumaMayRise & differsBy<W>(luma, lumaLow, kLumaChange) & (lumaLow < kDarkerBelow);
            const I32 lumaFall = ~lumaRise & lumaMayFall &
                                 differsBy<W>(lumaHigh, luma, kLumaChange) & (luma < kDarkerBelow);
            storeLanes(lumaHighOut + i, pick(lumaRise, luma, lumaHigh));
            storeLanes(lumaLowOut + i, pick(lumaFall, luma, lumaLow));

            // Red: a rise to saturated red, or a fall from a saturated peak.
            const F32 red = loadLanes<W>(redValues + j);
            const I32 saturated = loadLanes<W>(saturatedValues + j);
            const I32 redMayRise = (flags & kRedRising) == 0;
            const I32 redMayFall = (flags & kRedFalling) == 0;
            const F32 redHighBefore = loadLanes<W>(redHighIn + i);
            const F32 redLowBefore = loadLanes<W>(redLowIn + i);
            const I32 newPeak = redMayFall & (red > redHighBefore);
            const F32 redHigh = pick(newPeak, red, redHighBefore);
            const I32 peakWasSaturated = (flags & kRedPeakSaturated) != 0;
            const I32 peakSaturated = pick(newPeak, saturated, peakWasSaturated);
            const F32 redLow = pick(redMayRise & (red < redLowBefore), red, redLowBefore);
            const I32 redRise = redMayRise & differsBy<W>(red, redLow, kRedChange) & saturated;
            const I32 redFall =
                ~redRise & redMayFall & differsBy<W>(redHigh, red, kRedChange) & peakSaturated;
            storeLanes(redHighOut + i, pick(redRise, red, redHigh));
            storeLanes(redLowOut + i, pick(redFall, red, redLow));

            const I32 lumaTrend =
                pick(lumaRise, I32{} + kLumaRising,
                     pick(lumaFall, I32{} + kLumaFalling, flags & (kLumaRising | kLumaFalling)));
            const I32 redTrend =
                pick(redRise, I32{} + kRedRising,
                     pick(redFall, I32{} + kRedFalling, flags & (kRedRising | kRedFalling)));
            const I32 peak = pick(redRise, saturated, peakSaturated) & kRedPeakSaturated;
            storeLanes(flagsOut + i,
                       __builtin_convertvector(lumaTrend | redTrend | peak, typename Lanes<W>::U8));
            storeMarks<W>(lumaRises + i, lumaRise);
            storeMarks<W>(lumaFalls + i, lumaFall);
            storeMarks<W>(redRises + i, redRise);
            storeMarks<W>(redFalls + i, redFall);
            marked[0] -= lumaRise;
            marked[1] -= lumaFall;
            marked[2] -= redRise;
            marked[3] -= redFall;
        }
    }
    for (int which = 0; which < 4; ++which) {
        span.marked[which] = 0;
        for (int k = 0; k < W; ++k)
            span.marked[which] += marked[which][k];
    }
}

}  // namespace
