// Vectors of W lanes (GCC/Clang vector extensions), for the kernels written
// once for any width and compiled once per instruction set.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#elif defined(__SSE2__)
#include <immintrin.h>
#endif

template <int W>
struct Lanes {
    typedef uint8_t U8 __attribute__((vector_size(W)));
    typedef uint32_t U32 __attribute__((vector_size(W * 4)));
    typedef int32_t I32 __attribute__((vector_size(W * 4)));
    typedef float F32 __attribute__((vector_size(W * 4)));
    typedef double F64 __attribute__((vector_size(W * 8)));
    typedef int64_t I64 __attribute__((vector_size(W * 8)));
    typedef uint64_t U64 __attribute__((vector_size(W * 8)));
};

// The tests below have internal linkage: each kernel file builds them with
// its own instruction set, and no copy may stand in for another's.
namespace {

// Any vector lane nonzero: halves ORed together, in registers, until one
// lane is left.
template <int W, size_t... Index>
bool anyLaneOfHalves(const typename Lanes<W>::I64& mask, std::index_sequence<Index...>) {
    const typename Lanes<W / 2>::I64 low = __builtin_shufflevector(mask, mask, Index...);
    const typename Lanes<W / 2>::I64 high = __builtin_shufflevector(mask, mask, (Index + W / 2)...);
    if constexpr (W == 2) {
        return (low | high)[0] != 0;
    } else {
        return anyLaneOfHalves<W / 2>(low | high, std::make_index_sequence<W / 4>());
    }
}

template <int W>
bool anyLane(const typename Lanes<W>::I64& mask) {
    if constexpr (W == 1) {
        return mask[0] != 0;
    } else {
        return anyLaneOfHalves<W>(mask, std::make_index_sequence<W / 2>());
    }
}

// Any lane of an int32 vector nonzero: one test where the instruction set
// has it, else halves ORed together.
template <int W>
bool anyLane32(const typename Lanes<W>::I32& mask) {
    if constexpr (W == 1) {
        return mask[0] != 0;
    } else {
#if defined(__wasm_simd128__)
        if constexpr (W == 4) {
            v128_t vector;
            std::memcpy(&vector, &mask, sizeof vector);
            return wasm_v128_any_true(vector);
        }
#endif
#if defined(__AVX512F__)
        if constexpr (W == 16) {
            __m512i vector;
            std::memcpy(&vector, &mask, sizeof vector);
            return _mm512_test_epi32_mask(vector, vector) != 0;
        }
#endif
#if defined(__AVX2__)
        if constexpr (W == 8) {
            __m256i vector;
            std::memcpy(&vector, &mask, sizeof vector);
            return _mm256_testz_si256(vector, vector) == 0;
        }
#endif
#if defined(__SSE2__)
        if constexpr (W == 4) {
            __m128i vector;
            std::memcpy(&vector, &mask, sizeof vector);
            return _mm_movemask_epi8(_mm_cmpeq_epi32(vector, _mm_setzero_si128())) != 0xFFFF;
        }
#endif
        typename Lanes<W / 2>::I64 pairs;
        std::memcpy(&pairs, &mask, sizeof pairs);
        return anyLane<W / 2>(pairs);
    }
}

}  // namespace
