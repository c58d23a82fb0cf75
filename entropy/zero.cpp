#include "entropy/zero.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The coder works on the positions of zero bytes, found eight at a time,
// rather than testing bytes one by one: the residual planes it meets mix
// short runs of zeros and of other bytes at random, which a test per byte
// would mispredict nearly as often as not.
namespace zero {

namespace {

// The count byte carries e, the zeros beyond the level's minimum, zigzagged:
// even e as e / 2, odd e as 256 - (e + 1) / 2.
inline unsigned char count_byte(int extra)
{
    // For odd e, 256 - (e + 1) / 2 is the complement of e / 2.
    return static_cast<unsigned char>((extra >> 1) ^ -(extra & 1));
}

int extra_zeros(unsigned char count) { return count < 128 ? 2 * count : 511 - 2 * count; }

constexpr std::uint64_t high_bits = 0x8080808080808080u;
constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Fu;

// Bit k set where byte k of the eight at p is zero.
inline unsigned zeros_of_8(const unsigned char* p)
{
    const std::uint64_t v = get_le64(p);
    // A byte's high bit after the addition is set when any of its other
    // bits is; with its own high bit, when the byte is not zero.
    const std::uint64_t zero_flags = ~(((v & low_bits) + low_bits) | v) & high_bits;
    // Gathers the eight flags, one a byte, into the top byte.
    return static_cast<unsigned>(((zero_flags >> 7) * 0x0102040810204080u) >> 56);
}

// The same for up to eight bytes; bytes past `count` read as not zero.
inline unsigned zeros_of_up_to_8(const unsigned char* p, std::size_t count)
{
    unsigned flags = 0;
    for (std::size_t k = 0; k < count; ++k) {
        flags |= unsigned(p[k] == 0) << k;
    }
    return flags;
}

// Bit k set where byte k of the 64 at p (fewer at the end of a block: the
// rest read as not zero) is zero.
inline std::uint64_t zeros_of_64(const unsigned char* p, std::size_t count)
{
    std::uint64_t mask = 0;
    if (count >= 64) {
#if defined(__SSE2__)
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
        mask |= std::uint64_t(left >= 8 ? zeros_of_8(p + 8 * w) : zeros_of_up_to_8(p + 8 * w, left)) << (8 * w);
    }
    return mask;
}

inline int count_bits(std::uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555u);
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

inline int trailing_ones(std::uint64_t x) { return x == ~std::uint64_t(0) ? 64 : __builtin_ctzll(~x); }
inline int leading_ones(std::uint64_t x) { return x == ~std::uint64_t(0) ? 64 : __builtin_clzll(~x); }

// The length of the stretch of bytes other than zero at in[i], up to `limit`.
inline std::size_t literal_run(const unsigned char* in, std::size_t i, std::size_t limit)
{
    std::size_t n = 0;
    while (n + 8 <= limit) {
        const unsigned zeros = zeros_of_8(in + i + n);
        if (zeros != 0) {
            return n + static_cast<std::size_t>(__builtin_ctz(zeros));
        }
        n += 8;
    }
    while (n < limit && in[i + n] != 0) {
        ++n;
    }
    return n;
}

// The bytes that zero-run coding saves at each level, as the level test
// scores them.
struct Scores {
    int s1 = 0;
    int s2 = 0;
    int s3 = 0;
};

// The scores of runs of at most 256 zeros follow from counts of positions:
// every run saves its zeros less the bytes of its token, a lone zero costs
// nothing at levels 2 and 3 (it travels in a literal pair), two zeros
// nothing at level 3. Longer runs take several tokens; their scores are
// corrected one by one.
void add_long_run(Scores& s, int n)
{
    if (n <= 256) {
        return;
    }
    s.s1 -= 2 * (n / 256);
    s.s2 -= 3 * ((n - n / 256) / 256);
    s.s3 -= 4 * ((n - (2 * n) / 256) / 256);
}

// Writes the tokens of a run of `zeros` zeros that ends at the block's end
// or before a byte other than zero.
template <int level>
inline void put_run(unsigned char* out, std::size_t& o, std::size_t zeros, bool at_end)
{
    // A run token stands for at most level + 255 zeros.
    constexpr std::size_t longest = level + 255;
    while (zeros >= longest) {
        std::memset(out + o, 0, level);
        out[o + level] = count_byte(255);
        o += level + 1;
        zeros -= longest;
    }
    if (zeros == 0) {
        return;
    }
    if (zeros < std::size_t(level)) {
        if (!at_end) {
            // A lone zero (or two at level 3) travels with the byte that
            // follows it, as a literal pair or triple: as it stands.
            std::memset(out + o, 0, level - 1);
            o += zeros;
            return;
        }
        // Past the block's end the bytes count as zero: a short run there
        // still makes a token of `level` zeros.
        zeros = level;
    }
    std::memset(out + o, 0, level);
    out[o + level] = count_byte(static_cast<int>(zeros) - level);
    o += level + 1;
}

// Copies a stretch of n bytes at in[i] to out[o]: sixteen at once where
// the stretch is that short and both blocks have the room, so that the
// short stretches of a residual plane each take one step.
inline void copy_stretch(unsigned char* out, std::size_t o, std::size_t out_size, const unsigned char* in,
                         std::size_t i, std::size_t in_size, std::size_t n)
{
    if (n <= 16 && o + 16 <= out_size && i + 16 <= in_size) {
        std::memcpy(out + o, in + i, 16);
    } else {
        std::memcpy(out + o, in + i, n);
    }
}

// Sets n bytes at out[o] to zero, sixteen at once where the run is that
// short and the block has the room, as copy_stretch copies.
inline void zero_stretch(unsigned char* out, std::size_t o, std::size_t out_size, std::size_t n)
{
    if (n <= 16 && o + 16 <= out_size) {
        std::memset(out + o, 0, 16);
    } else {
        std::memset(out + o, 0, n);
    }
}

// The block is read 64 bytes at a time. The mask of their zero bytes gives
// where each run of zeros starts and where each ends, and the runs are
// taken from those two masks, lowest first: finding a run waits on no more
// than clearing the lowest bit of each mask, not on the run before.
template <int level>
int code_runs(const unsigned char* in, unsigned char* out, std::size_t size)
{
    std::size_t o = 0;
    std::size_t run = 0;  // zeros of a run that goes on past the bytes read
    for (std::size_t base = 0; base < size; base += 64) {
        const std::size_t count = std::min<std::size_t>(64, size - base);
        const std::uint64_t zeros = zeros_of_64(in + base, count);
        const std::uint64_t others = ~zeros & (count == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << count) - 1);
        const std::uint64_t zero_before = (zeros << 1) | std::uint64_t(run > 0);
        std::uint64_t starts = zeros & ~zero_before;
        std::uint64_t ends = others & zero_before;
        auto copy_others = [&](std::size_t from, std::size_t to) {
            copy_stretch(out, o, size, in, base + from, size, to - from);
            o += to - from;
        };
        std::size_t p = 0;  // where the last run ended
        if (run > 0) {
            if (ends == 0) {
                run += count;  // zeros throughout
                continue;
            }
            p = static_cast<std::size_t>(__builtin_ctzll(ends));
            ends &= ends - 1;
            put_run<level>(out, o, run + p, false);
            run = 0;
        }
        while (starts != 0) {
            const std::size_t start = static_cast<std::size_t>(__builtin_ctzll(starts));
            starts &= starts - 1;
            copy_others(p, start);
            if (ends == 0) {
                run = count - start;  // goes on past these bytes
                p = count;
                break;
            }
            p = static_cast<std::size_t>(__builtin_ctzll(ends));
            ends &= ends - 1;
            put_run<level>(out, o, p - start, false);
        }
        if (p < count) {
            copy_others(p, count);
        }
    }
    if (run > 0) {
        put_run<level>(out, o, run, true);
    }
    return static_cast<int>(o);
}

}  // namespace

int RLE(const unsigned char* in, unsigned char* out, int length, int level)
{
    if (length <= 0) {
        return 0;
    }
    const std::size_t size = static_cast<std::size_t>(length);
    switch (level) {
    case 1:
        return code_runs<1>(in, out, size);
    case 2:
        return code_runs<2>(in, out, size);
    case 3:
        return code_runs<3>(in, out, size);
    default:
        return 0;
    }
}

int testRLE(const unsigned char* in, int length, int threshold)
{
    if (length <= 0) {
        return 0;
    }
    const std::size_t size = static_cast<std::size_t>(length);
    // Counted over the block: zero bytes, and the first, second and third
    // zero of every run.
    std::int64_t zeros = 0;
    std::int64_t firsts = 0;
    std::int64_t seconds = 0;
    std::int64_t thirds = 0;
    Scores long_runs;
    std::uint64_t before = 0;  // the mask of the 64 bytes before
    int open_run = 0;          // zeros at the end of what has been read
    for (std::size_t at = 0; at < size; at += 64) {
        const std::uint64_t m = zeros_of_64(in + at, size - at);
        if (m == 0 && open_run == 0) {
            before = 0;
            continue;
        }
        const std::uint64_t m1 = (m << 1) | (before >> 63);
        const std::uint64_t m2 = (m << 2) | (before >> 62);
        const std::uint64_t m3 = (m << 3) | (before >> 61);
        zeros += count_bits(m);
        firsts += count_bits(m & ~m1);
        seconds += count_bits(m & m1 & ~m2);
        thirds += count_bits(m & m1 & m2 & ~m3);
        before = m;
        if (m == ~std::uint64_t(0)) {
            open_run += 64;
            continue;
        }
        // A run that ends in these bytes and began before them may be long;
        // one within them is not.
        add_long_run(long_runs, open_run + trailing_ones(m));
        open_run = leading_ones(m);
    }
    add_long_run(long_runs, open_run);
    // Runs of one zero save nothing at levels 2 and 3 and are not counted
    // there; runs of two save nothing at level 3.
    const std::int64_t in_runs_of_2 = zeros - (firsts - seconds);
    const std::int64_t in_runs_of_3 = in_runs_of_2 - 2 * (seconds - thirds);
    const int s1 = static_cast<int>(zeros - 2 * firsts) + long_runs.s1;
    const int s2 = static_cast<int>(in_runs_of_2 - 3 * seconds) + long_runs.s2;
    const int s3 = static_cast<int>(in_runs_of_3 - 4 * thirds) + long_runs.s3;
    if (s1 >= threshold && s1 >= s2 && s1 >= s3) {
        return 1;
    }
    if (s2 >= threshold && s2 >= s3) {
        return 2;
    }
    if (s3 >= threshold) {
        return 3;
    }
    return 0;
}

namespace {

// One token at in[i] (a zero), near the end of the input or of the block,
// every byte checked; false for a damaged stream.
bool decode_token_carefully(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total,
                            std::size_t& i, std::size_t& o, int level)
{
    // Up to `level` zeros tell a literal pair or triple from a run token.
    std::size_t zeros = 1;
    while (zeros < std::size_t(level) && i + zeros < size && in[i + zeros] == 0) {
        ++zeros;
    }
    if (i + zeros >= size) {
        return false;
    }
    if (zeros < std::size_t(level)) {
        if (o + zeros + 1 > total) {
            return false;
        }
        std::memset(out + o, 0, zeros);
        o += zeros;
        out[o++] = in[i + zeros];
        i += zeros + 1;
        return true;
    }
    // The last run token of a block may stand for up to level - 1 zeros
    // beyond it (the block's end counts as zeros); those are dropped.
    const std::size_t n = static_cast<std::size_t>(level + extra_zeros(in[i + level]));
    if (o + n > total + level - 1) {
        return false;
    }
    const std::size_t kept = std::min(n, total - o);
    std::memset(out + o, 0, kept);
    o += kept;
    i += static_cast<std::size_t>(level) + 1;
    return true;
}

// The rest of a block from coded byte i and block byte o on, near the end of
// the input, every byte checked. Returns the coded bytes consumed, or -1.
int decode_rest(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total, std::size_t i,
                std::size_t o, int level)
{
    while (o < total) {
        if (i >= size) {
            return -1;
        }
        const std::size_t n = literal_run(in, i, std::min(size - i, total - o));
        std::memcpy(out + o, in + i, n);
        i += n;
        o += n;
        if (o < total && !decode_token_carefully(in, size, out, total, i, o, level)) {
            return -1;
        }
    }
    return static_cast<int>(i);
}

// Reads 64 coded bytes at a time and finds the tokens, which start at zero
// bytes, from the mask of their zeros; a token is read whole before the
// next is looked for, since a count byte may be zero itself.
template <int level>
int decode_runs(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total)
{
    std::size_t i = 0;
    std::size_t o = 0;
    // The longest token is level + 1 bytes: a step of 64 reads at most that
    // many bytes past its 64.
    while (o < total && i + 64 + level + 1 <= size) {
        std::uint64_t zeros = zeros_of_64(in + i, 64);
        std::size_t p = 0;
        for (;;) {
            const std::size_t k = zeros != 0 ? static_cast<std::size_t>(__builtin_ctzll(zeros)) : 64;
            std::size_t n = k - p;
            if (n >= total - o) {
                n = total - o;  // the block ends within this stretch
                copy_stretch(out, o, total, in, i + p, size, n);
                return static_cast<int>(i + p + n);
            }
            copy_stretch(out, o, total, in, i + p, size, n);
            o += n;
            p = k;
            if (p == 64) {
                break;
            }
            const unsigned char* token = in + i + p;
            if (level >= 2 && token[1] != 0) {
                if (o + 2 > total) {
                    return -1;
                }
                out[o] = 0;  // a literal pair
                out[o + 1] = token[1];
                o += 2;
                p += 2;
            } else if (level == 3 && token[2] != 0) {
                if (o + 3 > total) {
                    return -1;
                }
                out[o] = 0;  // a literal triple
                out[o + 1] = 0;
                out[o + 2] = token[2];
                o += 3;
                p += 3;
            } else {
                const std::size_t run = static_cast<std::size_t>(level + extra_zeros(token[level]));
                if (run > total - o) {
                    // The last token of a block may stand for up to level - 1
                    // zeros beyond it; those are dropped.
                    if (run > total - o + level - 1) {
                        return -1;
                    }
                    std::memset(out + o, 0, total - o);
                    return static_cast<int>(i + p + level + 1);
                }
                zero_stretch(out, o, total, run);
                o += run;
                p += level + 1;
            }
            if (p >= 64) {
                break;
            }
            zeros &= ~std::uint64_t(0) << p;
        }
        i += p;
    }
    return decode_rest(in, size, out, total, i, o, level);
}

// Level 1, where every zero opens a token and the byte after it is a count
// (which may be zero itself): within a run of zero bytes the tokens open at
// every other byte, from the run's first byte, or from its second where the
// first is the count of a token that opened just before. So the tokens of
// 64 bytes follow from the mask of their zeros by arithmetic alone, and are
// read lowest first without a step waiting on the token before.
template <>
int decode_runs<1>(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total)
{
    constexpr std::uint64_t even_bits = 0x5555555555555555u;
    std::size_t i = 0;
    std::size_t o = 0;
    std::size_t skip = 0;  // 1 where the first byte is the count of a token read before
    // The count of a token at the last of the 64 bytes is read with it.
    while (i + 64 + 1 <= size) {
        const std::uint64_t zeros = zeros_of_64(in + i, 64) & ~std::uint64_t(skip);
        // Adding a run's first bit carries through the run: the runs that
        // open at even positions are the bits that the addition changes.
        const std::uint64_t firsts = zeros & ~(zeros << 1);
        const std::uint64_t from_even = ((zeros + (firsts & even_bits)) ^ zeros) & zeros;
        std::uint64_t tokens = (from_even & even_bits) | (zeros & ~from_even & ~even_bits);
        const unsigned char* bytes = in + i;
        std::size_t p = skip;
        while (tokens != 0) {
            const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(tokens));
            tokens &= tokens - 1;
            const std::size_t n = k - p;
            if (n >= total - o) {
                std::memcpy(out + o, bytes + p, total - o);
                return static_cast<int>(i + p + (total - o));
            }
            copy_stretch(out, o, total, in, i + p, size, n);
            o += n;
            const std::size_t run = static_cast<std::size_t>(1 + extra_zeros(bytes[k + 1]));
            if (run > total - o) {
                return -1;  // a run past the block's end
            }
            zero_stretch(out, o, total, run);
            o += run;
            p = k + 2;
            if (o == total) {
                return static_cast<int>(i + p);
            }
        }
        if (p < 64) {
            const std::size_t n = 64 - p;
            if (n >= total - o) {
                std::memcpy(out + o, bytes + p, total - o);
                return static_cast<int>(i + p + (total - o));
            }
            std::memcpy(out + o, bytes + p, n);
            o += n;
        }
        skip = p - std::min<std::size_t>(p, 64);
        i += 64;
    }
    i += skip;
    return decode_rest(in, size, out, total, i, o, 1);
}

}  // namespace

int deRLE(const unsigned char* in, int in_size, unsigned char* out, int length, int level)
{
    if (length <= 0) {
        return 0;
    }
    const std::size_t size = static_cast<std::size_t>(in_size < 0 ? 0 : in_size);
    const std::size_t total = static_cast<std::size_t>(length);
    switch (level) {
    case 1:
        return decode_runs<1>(in, size, out, total);
    case 2:
        return decode_runs<2>(in, size, out, total);
    case 3:
        return decode_runs<3>(in, size, out, total);
    default:
        return 0;
    }
}

}  // namespace zero
