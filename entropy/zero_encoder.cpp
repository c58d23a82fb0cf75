#include "entropy/zero.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "entropy/zero_bytes.h"

namespace zero {

namespace {

// The count byte carries e, the zeros beyond the level's minimum, zigzagged:
// even e as e / 2, odd e as 256 - (e + 1) / 2.
inline unsigned char count_byte(int extra)
{
    // For odd e, 256 - (e + 1) / 2 is the complement of e / 2.
    return static_cast<unsigned char>((extra >> 1) ^ -(extra & 1));
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

}  // namespace zero
