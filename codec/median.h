// The median predictor, the one prediction of every filter, and the forms of
// it that the filter loops run: each gives for every triple of neighbours
// what `predict` gives.
#pragma once

#include <cstdint>

#include "common/cpu.h"

#ifdef REELPACK_SSE2
#include <emmintrin.h>
#endif

// Minimum and maximum by masks: on noisy pictures a compiler's branches
// here would be mispredicted half of the time.
[[nodiscard]] constexpr int min_of(int x, int y) { return y ^ ((x ^ y) & -int(x < y)); }
[[nodiscard]] constexpr int max_of(int x, int y) { return x ^ ((x ^ y) & -int(x < y)); }

// The median of left, above and the gradient left + above - upper_left:
// that median is the gradient clamped between left and above, which needs
// no branch.
[[nodiscard]] constexpr int predict(int left, int above, int upper_left)
{
    return min_of(max_of(left + above - upper_left, min_of(left, above)), max_of(left, above));
}

// The median on bytes: with low and high the smaller and the larger of left
// and above, the median is low + high - upper_left with upper_left clamped
// between them (low where it is at least high, high where at most low).
// Byte arithmetic throughout lets a compiler work on many bytes at once.
[[nodiscard]] inline unsigned char predict_bytes(unsigned char left, unsigned char above, unsigned char upper_left)
{
    const unsigned char low = left < above ? left : above;
    const unsigned char high = left < above ? above : left;
    const unsigned char clamped = upper_left < low ? low : (upper_left > high ? high : upper_left);
    return static_cast<unsigned char>(low + high - clamped);
}

// A word of four samples side by side (a decorrelated pixel's three bytes
// and a zero, or the samples of three or four planes at one place), rebuilt
// from its neighbours and its residuals: each byte is its residual plus the
// prediction, modulo 256.
[[nodiscard]] inline std::uint32_t rebuild_word(std::uint32_t left, std::uint32_t above, std::uint32_t upper_left,
                                                std::uint32_t residual)
{
    std::uint32_t pixel = 0;
    for (int k = 0; k < 32; k += 8) {
        const int p = predict(int((left >> k) & 255), int((above >> k) & 255), int((upper_left >> k) & 255));
        pixel |= std::uint32_t((int((residual >> k) & 255) + p) & 255) << k;
    }
    return pixel;
}

#ifdef REELPACK_SSE2
// The same for every byte of a register at once. The prediction is left +
// above - median(left, above, upper_left), and that median is left clamped
// between the smaller and the larger of above and upper_left, which are
// known before left is: three steps wait on the pixel before, a clamp of two
// and a subtraction, while left + above + residual is formed beside them.
[[nodiscard]] REELPACK_INLINE __m128i rebuild_pixel(__m128i left, __m128i above, __m128i upper_left,
                                                    __m128i residual)
{
    const __m128i low = _mm_min_epu8(above, upper_left);
    const __m128i high = _mm_max_epu8(above, upper_left);
    const __m128i median = _mm_max_epu8(_mm_min_epu8(left, high), low);
    __m128i sum = _mm_add_epi8(left, _mm_add_epi8(above, residual));
#if defined(__GNUC__)
    // Kept whole, so that a compiler does not regroup the additions around
    // the median, which would put one more step after it.
    __asm__("" : "+x"(sum));
#endif
    return _mm_sub_epi8(sum, median);
}

// The prediction of sixteen samples at once, as predict_bytes gives it.
[[nodiscard]] REELPACK_INLINE __m128i predict_16(__m128i left, __m128i above, __m128i upper_left)
{
    const __m128i low = _mm_min_epu8(left, above);
    const __m128i high = _mm_max_epu8(left, above);
    const __m128i clamped = _mm_min_epu8(_mm_max_epu8(upper_left, low), high);
    return _mm_sub_epi8(_mm_add_epi8(low, high), clamped);
}
#endif
