// What the zero-run coder and decoder share: the positions of zero bytes,
// found eight or sixteen at a time, and copies of short stretches. Both work
// on those positions rather than testing bytes one by one: the residual
// planes they meet mix short runs of zeros and of other bytes at random,
// which a test per byte would mispredict nearly as often as not. Within the
// entropy coders only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "common/cpu.h"

#ifdef REELPACK_SSE2
#include <emmintrin.h>
#endif

namespace zero {

// Bit k set where byte k of the eight at p is zero.
inline unsigned zeros_of_8(const unsigned char* p)
{
    constexpr std::uint64_t high_bits = 0x8080808080808080u;
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Fu;
    const std::uint64_t v = get_le64(p);
    // A byte's high bit after the addition is set when any of its other
    // bits is; with its own high bit, when the byte is not zero.
    const std::uint64_t zero_flags = ~(((v & low_bits) + low_bits) | v) & high_bits;
    // Gathers the eight flags, one a byte, into the top byte.
    return static_cast<unsigned>(((zero_flags >> 7) * 0x0102040810204080u) >> 56);
}

// Bit k set where byte k of the 64 at p (fewer at the end of a block: the
// rest read as not zero) is zero.
inline std::uint64_t zeros_of_64(const unsigned char* p, std::size_t count)
{
    std::uint64_t mask = 0;
    if (count >= 64) {
#ifdef REELPACK_SSE2
        // Sixteen bytes compared at once: every x86-64 processor can.
        const __m128i zero = _mm_setzero_si128();
        for (int w = 0; w < 4; ++w) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * w));
            mask |= std::uint64_t(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)))) << (16 * w);
        }
#else
        for (int w = 0; w < 8; ++w) {
            mask |= std::uint64_t(zeros_of_8(p + 8 * w)) << (8 * w);
        }
#endif
        return mask;
    }
    for (std::size_t w = 0; 8 * w < count; ++w) {
        const std::size_t left = count - 8 * w;
        if (left >= 8) {
            mask |= std::uint64_t(zeros_of_8(p + 8 * w)) << (8 * w);
            continue;
        }
        for (std::size_t k = 0; k < left; ++k) {
            mask |= std::uint64_t(p[8 * w + k] == 0) << (8 * w + k);
        }
    }
    return mask;
}

// Copies a stretch of n bytes at in[i] to out[o]: sixteen at once where
// the stretch is that short and both blocks have the room, so that the
// short stretches of a residual plane each take one step. The decoder,
// which copies one before every token, has its loop laid out for them
// (`mostly_short`); the coder's runs of zeros come in long stretches too.
template <bool mostly_short = false>
inline void copy_stretch(unsigned char* out, std::size_t o, std::size_t out_size, const unsigned char* in,
                         std::size_t i, std::size_t in_size, std::size_t n)
{
    const bool fits = n <= 16 && o + 16 <= out_size && i + 16 <= in_size;
    if (mostly_short ? REELPACK_LIKELY(fits) : fits) {
        std::memcpy(out + o, in + i, 16);
    } else {
        std::memcpy(out + o, in + i, n);
    }
}

}  // namespace zero
