// Rows of samples rebuilt four bytes a word: a decorrelated pixel's three
// bytes, or the samples of three or four planes at one place, each byte
// rebuilt as its own plane's prediction from its neighbours. One chain of
// dependent steps serves all the bytes of a word, which is what makes the
// rebuilding fast: the left neighbour's chain is serial.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/median.h"
#include "common/cpu.h"

REELPACK_INLINE void put_word(unsigned char* at, std::uint32_t v) { std::memcpy(at, &v, 4); }

REELPACK_INLINE std::uint32_t get_word(const unsigned char* at)
{
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// Rebuilds a row's words from word `first` on into `current`, all bytes of a
// word at once: its left neighbour is the word before it, the last of the
// row before for the first of a row, and its upper-left neighbour is the
// above neighbour of the word before, which `left` and `upper_left` carry
// from row to row. Each word waits only on the one before.
REELPACK_INLINE void rebuild_row(const unsigned char* above, const unsigned char* residuals, unsigned char* current,
                                 std::size_t first, std::size_t w, std::uint32_t& left, std::uint32_t& upper_left)
{
#ifdef REELPACK_SSE2
    __m128i l = _mm_cvtsi32_si128(static_cast<int>(left));
    __m128i c = _mm_cvtsi32_si128(static_cast<int>(upper_left));
    for (std::size_t x = first; x < w; ++x) {
        const __m128i a = _mm_cvtsi32_si128(static_cast<int>(get_word(above + 4 * x)));
        const __m128i d = _mm_cvtsi32_si128(static_cast<int>(get_word(residuals + 4 * x)));
        l = rebuild_pixel(l, a, c, d);
        c = a;
        put_word(current + 4 * x, static_cast<std::uint32_t>(_mm_cvtsi128_si32(l)));
    }
    left = static_cast<std::uint32_t>(_mm_cvtsi128_si32(l));
    upper_left = static_cast<std::uint32_t>(_mm_cvtsi128_si32(c));
#else
    for (std::size_t x = first; x < w; ++x) {
        const std::uint32_t a = get_word(above + 4 * x);
        left = rebuild_word(left, a, upper_left, get_word(residuals + 4 * x));
        upper_left = a;
        put_word(current + 4 * x, left);
    }
#endif
}
