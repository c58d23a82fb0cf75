#include "codec/deep_filter.h"

#include <cstring>
#include <utility>

#include "codec/median.h"
#include "common/cpu.h"

namespace {

// The median predictor on samples below 2^16: the gradient left + above -
// upper_left clamped between left and above, with no branch, so that a row
// of predictions vectorises.
inline unsigned median(unsigned left, unsigned above, unsigned upper_left)
{
    const int low = int(left < above ? left : above);
    const int high = int(left < above ? above : left);
    const int gradient = int(left) + int(above) - int(upper_left);
    const int clamped = gradient < low ? low : gradient;
    return unsigned(clamped > high ? high : clamped);
}

// A residual modulo 2^bits, taken as signed in [-2^(bits-1), 2^(bits-1)),
// as 0, 1, 2 ... for 0, -1, 1 ...; and back.
inline unsigned fold(unsigned residual, int shift)
{
    const std::int32_t s = std::int32_t(residual << shift) >> shift;
    return ((std::uint32_t(s) << 1) ^ std::uint32_t(s >> 31)) & (0xFFFFFFFFu >> shift);
}

inline unsigned unfold(unsigned folded) { return (folded >> 1) ^ (0u - (folded & 1)); }

inline unsigned sample_at(const unsigned char* row, std::size_t x)
{
    std::uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    return v;
}

void predict_deep_plane(const unsigned char* top, std::ptrdiff_t stride, std::size_t w, std::size_t h, int bits,
                        unsigned char* low, unsigned char* high)
{
    const unsigned mask = (1u << bits) - 1;
    const int shift = 32 - bits;
    auto put = [&](std::size_t i, unsigned residual) {
        const unsigned f = fold(residual & mask, shift);
        low[i] = static_cast<unsigned char>(f);
        high[i] = static_cast<unsigned char>(f >> 8);
    };
    put(0, sample_at(top, 0) & mask);
    for (std::size_t x = 1; x < w; ++x) {
        put(x, (sample_at(top, x) & mask) - (sample_at(top, x - 1) & mask));
    }
    for (std::size_t y = 1; y < h; ++y) {
        const unsigned char* above = top + std::ptrdiff_t(y - 1) * stride;
        const unsigned char* s = above + stride;
        const std::size_t at = y * w;
        // The first sample's left neighbour is the last of the row above, as
        // in 8-bit planes; in the second row it is predicted from that alone.
        const unsigned left = sample_at(above, w - 1) & mask;
        const unsigned up = y == 1 ? left : sample_at(above, 0) & mask;
        const unsigned upper_left = y == 1 ? left : sample_at(above - stride, w - 1) & mask;
        put(at, (sample_at(s, 0) & mask) - median(left, up, upper_left));
        for (std::size_t x = 1; x < w; ++x) {
            const unsigned p = median(sample_at(s, x - 1) & mask, sample_at(above, x) & mask,
                                      sample_at(above, x - 1) & mask);
            put(at + x, (sample_at(s, x) & mask) - p);
        }
    }
}

// Where one plane is rebuilt: its residuals (the low and high bytes of
// the folded ones, or bytes as they are), rows of scratch (the row above,
// the current one and what prepare_row() puts beside it) and the caller's
// plane, only written.
struct Chain {
    const unsigned char* low;
    const unsigned char* high;
    unsigned* above;
    unsigned* current;
    unsigned* past_most;
    unsigned* past_least;
    std::size_t w;
    unsigned char* top;
    std::ptrdiff_t stride;
};
constexpr int chain_rows = 4;

// Row y's residuals into the current scratch row.
template <bool deep>
REELPACK_INLINE void residual_row(const Chain& c, std::size_t y)
{
    const unsigned char* __restrict low = c.low + y * c.w;
    const unsigned char* __restrict high = c.high + y * c.w;
    unsigned* __restrict current = c.current;
    for (std::size_t x = 0; x < c.w; ++x) {
        current[x] = deep ? unfold(low[x] | unsigned(high[x]) << 8) : unsigned(low[x]);
    }
}

// The median of left, above and the gradient left + above - upper_left is
// left + above - the median of left, above and upper_left, that is left +
// above - left clamped between the smaller and the larger of above and
// upper_left, least and most. So a sample is above + its residual, base,
// where left lies between least and most; base + left - most where that
// is larger than base (left is larger than most); base + left - least
// where that is smaller. All but left is known before the row is rebuilt,
// so a pass with no chain in it, which a compiler runs on many samples at
// once, puts base, base - most and base - least in scratch rows. The chain
// loop is left with half the instructions it had when it did all of it,
// and its chain a step shorter (an addition, a comparison, two selections
// and the mask). Sample 0, whose neighbours are elsewhere, keeps its
// residual.
template <bool deep>
REELPACK_INLINE void prepare_row(const Chain& c, std::size_t y)
{
    residual_row<deep>(c, y);
    const unsigned* __restrict above = c.above;
    unsigned* __restrict current = c.current;
    unsigned* __restrict past_most = c.past_most;
    unsigned* __restrict past_least = c.past_least;
    for (std::size_t x = 1; x < c.w; ++x) {
        const int up = int(above[x]);
        const int upper_left = int(above[x - 1]);
        const unsigned base = current[x] + unsigned(up);
        current[x] = base;
        past_most[x] = base - unsigned(max_of(up, upper_left));
        past_least[x] = base - unsigned(min_of(up, upper_left));
    }
}

// `yes` where a > b, else `no`, by a conditional move: compilers turn
// every plain form of it into a branch, mispredicted half of the time on
// noisy pictures.
REELPACK_INLINE unsigned above_then(int a, int b, unsigned yes, unsigned no)
{
#ifdef REELPACK_X86_COPIES
    asm("cmpl %[b], %[a]\n\tcmovg %[yes], %[no]" : [no] "+r"(no) : [a] "r"(a), [b] "r"(b), [yes] "r"(yes) : "cc");
    return no;
#else
    return a > b ? yes : no;
#endif
}

// Sample x of the current row from its left neighbour and what
// prepare_row() put there.
REELPACK_INLINE unsigned rebuilt(const Chain& c, std::size_t x, unsigned left, unsigned mask)
{
    const unsigned base = c.current[x];
    const unsigned past_most = left + c.past_most[x];
    const unsigned past_least = left + c.past_least[x];
    unsigned sample = above_then(int(past_most), int(base), past_most, base);
    sample = above_then(int(base), int(past_least), past_least, sample);
    return sample & mask;
}

// Row y, rebuilt in the current scratch row, to the caller's plane.
template <bool deep>
REELPACK_INLINE void put_row(const Chain& c, std::size_t y)
{
    unsigned char* __restrict out = c.top + std::ptrdiff_t(y) * c.stride;
    const unsigned* __restrict current = c.current;
    for (std::size_t x = 0; x < c.w; ++x) {
        if (deep) {
            const std::uint16_t v = static_cast<std::uint16_t>(current[x]);
            std::memcpy(out + 2 * x, &v, 2);
        } else {
            out[x] = static_cast<unsigned char>(current[x]);
        }
    }
}

// N planes rebuilt together, each one chain in which every sample waits
// only on its left neighbour: the chains are independent, and stepping
// them side by side lets the processor overlap them. Plane 0 takes `wide`
// samples (1, or 2 for the Y of 4:2:2) for each one of the others, which
// are `narrow` samples wide; the samples that pass that pattern are
// rebuilt after it, plane by plane.
template <bool deep, int N, int wide>
REELPACK_INLINE void rebuild_body(Chain chains[], std::size_t narrow, std::size_t h, unsigned mask)
{
    unsigned left[N] = {};
    unsigned upper_left[N] = {};
    for (int p = 0; p < N; ++p) {
        Chain& c = chains[p];
        residual_row<deep>(c, 0);
        for (std::size_t x = 0; x < c.w; ++x) {
            left[p] = (left[p] + c.current[x]) & mask;
            c.current[x] = left[p];
        }
        put_row<deep>(c, 0);
        std::swap(c.above, c.current);
    }
    for (std::size_t y = 1; y < h; ++y) {
        for (int p = 0; p < N; ++p) {
            Chain& c = chains[p];
            prepare_row<deep>(c, y);
            // The first sample's left neighbour is the last of the row above;
            // in the second row it is predicted from that alone.
            const unsigned up = y == 1 ? left[p] : c.above[0];
            upper_left[p] = y == 1 ? left[p] : upper_left[p];
            left[p] = (median(left[p], up, upper_left[p]) + c.current[0]) & mask;
            c.current[0] = left[p];
        }
        for (std::size_t k = 1; k < narrow; ++k) {
            for (int s = 1; s <= wide; ++s) {
                const std::size_t x = wide * (k - 1) + std::size_t(s);
                left[0] = rebuilt(chains[0], x, left[0], mask);
                chains[0].current[x] = left[0];
            }
            for (int p = 1; p < N; ++p) {
                left[p] = rebuilt(chains[p], k, left[p], mask);
                chains[p].current[k] = left[p];
            }
        }
        for (int p = 0; p < N; ++p) {
            Chain& c = chains[p];
            for (std::size_t x = p == 0 ? wide * (narrow - 1) + 1 : narrow; x < c.w; ++x) {
                left[p] = rebuilt(c, x, left[p], mask);
                c.current[x] = left[p];
            }
            put_row<deep>(c, y);
            upper_left[p] = c.above[c.w - 1];  // the last of the row two up, for the next row's first sample
            std::swap(c.above, c.current);
        }
    }
}

// Built twice: AVX2's minimum and maximum of 32-bit lanes make
// prepare_row() a few instructions a sample, where SSE2 has to build them.
template <bool deep, int N, int wide>
void rebuild_plain(Chain chains[], std::size_t narrow, std::size_t h, unsigned mask)
{
    rebuild_body<deep, N, wide>(chains, narrow, h, mask);
}

#ifdef REELPACK_X86_COPIES
template <bool deep, int N, int wide>
REELPACK_TARGET("avx2") void rebuild_avx2(Chain chains[], std::size_t narrow, std::size_t h, unsigned mask)
{
    rebuild_body<deep, N, wide>(chains, narrow, h, mask);
}
#endif

template <bool deep, int N, int wide>
void rebuild_chains(Chain chains[], std::size_t narrow, std::size_t h, unsigned mask)
{
#ifdef REELPACK_X86_COPIES
    if (cpu_has_avx2()) {
        rebuild_avx2<deep, N, wide>(chains, narrow, h, mask);
        return;
    }
#endif
    rebuild_plain<deep, N, wide>(chains, narrow, h, mask);
}

Chain scratch_chain(const unsigned char* low, const unsigned char* high, unsigned* rows, std::size_t w,
                   unsigned char* top, std::ptrdiff_t stride)
{
    return {low, high, rows, rows + w, rows + 2 * w, rows + 3 * w, w, top, stride};
}

}  // namespace

void deep_channels(const PlaneShape& shape, unsigned char* base, unsigned char* starts[], unsigned int bytes[])
{
    for (int p = 0; p < shape.count; ++p) {
        const unsigned int n = static_cast<unsigned int>(std::size_t(shape.width[p]) * std::size_t(shape.height));
        for (int half = 0; half < 2; ++half) {
            starts[2 * p + half] = base;
            bytes[2 * p + half] = n;
            base += n;
        }
    }
}

void predict_deep_planes(const PlaneShape& shape, const PlanePicture& picture, unsigned char* residuals)
{
    unsigned char* channels[8] = {};
    unsigned int bytes[8] = {};
    deep_channels(shape, residuals, channels, bytes);
    for (int p = 0; p < shape.count; ++p) {
        predict_deep_plane(picture.plane[p], picture.stride[p], std::size_t(shape.width[p]),
                           std::size_t(shape.height), shape.bits, channels[2 * p], channels[2 * p + 1]);
    }
}

void rebuild_deep_planes(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                         const PlanePicture& picture)
{
    unsigned char* channels[8] = {};
    unsigned int bytes[8] = {};
    deep_channels(shape, const_cast<unsigned char*>(residuals), channels, bytes);
    Chain chains[4] = {};
    unsigned* rows = reinterpret_cast<unsigned*>(scratch);
    for (int p = 0; p < shape.count; ++p) {
        const std::size_t w = std::size_t(shape.width[p]);
        chains[p] = scratch_chain(channels[2 * p], channels[2 * p + 1], rows, w, picture.plane[p], picture.stride[p]);
        rows += chain_rows * w;
    }
    const unsigned mask = (1u << shape.bits) - 1;
    const std::size_t h = std::size_t(shape.height);
    const std::size_t narrow = std::size_t(shape.width[shape.count - 1]);
    if (shape.count == 1) {
        rebuild_chains<true, 1, 1>(chains, narrow, h, mask);
    } else if (shape.width[0] != shape.width[1]) {
        rebuild_chains<true, 3, 2>(chains, narrow, h, mask);  // 4:2:2
    } else if (shape.count == 3) {
        rebuild_chains<true, 3, 1>(chains, narrow, h, mask);
    } else {
        rebuild_chains<true, 4, 1>(chains, narrow, h, mask);
    }
}

void rebuild_byte_plane(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                        const PlanePicture& picture)
{
    const std::size_t w = std::size_t(shape.width[0]);
    unsigned* rows = reinterpret_cast<unsigned*>(scratch);
    Chain chain = scratch_chain(residuals, residuals, rows, w, picture.plane[0], picture.stride[0]);
    rebuild_chains<false, 1, 1>(&chain, w, std::size_t(shape.height), 0xFFu);
}

std::size_t deep_rebuild_scratch(const PlaneShape& shape)
{
    std::size_t samples = 0;
    for (int p = 0; p < shape.count; ++p) {
        samples += std::size_t(shape.width[p]);
    }
    return chain_rows * sizeof(unsigned) * samples;
}
