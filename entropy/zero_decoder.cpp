#include "entropy/zero.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "entropy/zero_bytes.h"

namespace zero {

namespace {

int extra_zeros(unsigned char count) { return count < 128 ? 2 * count : 511 - 2 * count; }

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

// Sets n bytes at out[o] to zero, sixteen at a time where the block has the
// room for the last sixteen whole: one store for the short runs of a
// residual plane, as copy_stretch copies, and for a token's run of at most
// 258 zeros a few, which cost less than a string instruction's start.
inline void zero_stretch(unsigned char* out, std::size_t o, std::size_t out_size, std::size_t n)
{
    if (n <= 16 && o + 16 <= out_size) {
        std::memset(out + o, 0, 16);
    } else if (o + n + 15 <= out_size) {
        for (std::size_t k = 0; k < n; k += 16) {
            std::memset(out + o + k, 0, 16);
        }
    } else {
        std::memset(out + o, 0, n);
    }
}

// The token at `token` (a zero), of which `left` bytes can be read, into the
// block of `total` bytes from out[o] on. Returns the token's length, or 0
// for a damaged stream: one that ends inside the token, or a token that
// passes the end of the block by more than the level's last run token may.
template <int level>
REELPACK_INLINE std::size_t take_token(const unsigned char* token, std::size_t left, unsigned char* out,
                                       std::size_t& o, std::size_t total)
{
    // Up to `level` zeros tell a literal pair or triple from a run token.
    std::size_t zeros = 1;
    while (zeros < std::size_t(level) && zeros < left && token[zeros] == 0) {
        ++zeros;
    }
    if (zeros >= left) {
        return 0;
    }
    if (zeros < std::size_t(level)) {
        if (o + zeros + 1 > total) {
            return 0;
        }
        out[o] = 0;  // one zero or two, and the byte after them
        out[o + zeros - 1] = 0;
        out[o + zeros] = token[zeros];
        o += zeros + 1;
        return zeros + 1;
    }
    // The last run token of a block may stand for up to level - 1 zeros
    // beyond it (the block's end counts as zeros); those are dropped.
    const std::size_t run = static_cast<std::size_t>(level + extra_zeros(token[level]));
    if (run <= total - o) {
        zero_stretch(out, o, total, run);
        o += run;
        return level + 1;
    }
    if (run > total - o + (level - 1)) {
        return 0;
    }
    std::memset(out + o, 0, total - o);
    o = total;
    return level + 1;
}

// Where tokens start among 64 coded bytes whose first is not inside a token.
// At level 1 every zero opens a token and the byte after it is a count,
// which may be zero itself: within a run of zero bytes the tokens open at
// every other byte from the run's first. So they follow from the mask of
// the zeros by arithmetic alone and are read lowest first, none waiting on
// the token before. At levels 2 and 3 a zero can open a literal pair or
// triple too, and the next zero is looked for past the end of the token
// before, once that is read whole.
template <int level>
struct TokenStarts {
    std::uint64_t mask;

    explicit TokenStarts(std::uint64_t zeros) : mask(zeros)
    {
        if (level == 1) {
            // Adding a run's first bit carries through the run: the runs
            // that open at even positions are the bits the addition changes.
            constexpr std::uint64_t even_bits = 0x5555555555555555u;
            const std::uint64_t firsts = zeros & ~(zeros << 1);
            const std::uint64_t from_even = ((zeros + (firsts & even_bits)) ^ zeros) & zeros;
            mask = (from_even & even_bits) | (zeros & ~from_even & ~even_bits);
        }
    }

    // Whether a token starts at or after p; next() then gives the first.
    REELPACK_INLINE bool any_from(std::size_t p)
    {
        if (level == 1) {
            return mask != 0;  // none is left behind p
        }
        if (p >= 64) {
            return false;
        }
        mask &= ~std::uint64_t(0) << p;
        return mask != 0;
    }

    REELPACK_INLINE std::size_t next()
    {
        const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(mask));
        if (level == 1) {
            mask &= mask - 1;
        }
        return k;
    }
};

// The rest of a block from coded byte i and block byte o on, near the end of
// the input, every byte checked. Returns the coded bytes consumed, or -1.
template <int level>
int decode_rest(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total, std::size_t i,
                std::size_t o)
{
    while (o < total) {
        if (i >= size) {
            return -1;
        }
        const std::size_t n = literal_run(in, i, std::min(size - i, total - o));
        std::memcpy(out + o, in + i, n);
        i += n;
        o += n;
        if (o < total) {
            const std::size_t taken = take_token<level>(in + i, size - i, out, o, total);
            if (taken == 0) {
                return -1;
            }
            i += taken;
        }
    }
    return static_cast<int>(i);
}

// Reads 64 coded bytes at a time, from a token start, while the longest
// token that can begin among them (level + 1 bytes) ends within the input;
// the stretches between tokens are copied whole. The rest is read with care.
template <int level>
int decode_runs(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t total)
{
    std::size_t i = 0;
    std::size_t o = 0;
    while (o < total && i + 64 + level + 1 <= size) {
        const unsigned char* bytes = in + i;
        const std::size_t room = size - i;
        TokenStarts<level> tokens(zeros_of_64(bytes, 64));
        std::size_t p = 0;
        while (tokens.any_from(p)) {
            const std::size_t k = tokens.next();
            if (k - p >= total - o) {
                copy_stretch<true>(out, o, total, bytes, p, room, total - o);  // the block ends within this stretch
                return static_cast<int>(i + p + (total - o));
            }
            copy_stretch<true>(out, o, total, bytes, p, room, k - p);
            o += k - p;
            const std::size_t taken = take_token<level>(bytes + k, level + 1, out, o, total);
            if (taken == 0) {
                return -1;
            }
            p = k + taken;
        }
        if (p < 64) {
            if (64 - p >= total - o) {
                std::memcpy(out + o, bytes + p, total - o);
                return static_cast<int>(i + p + (total - o));
            }
            std::memcpy(out + o, bytes + p, 64 - p);
            o += 64 - p;
            p = 64;
        }
        i += p;
    }
    return decode_rest<level>(in, size, out, total, i, o);
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
