#include "codec/deep_filter.h"

#include <cstring>
#include <utility>

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

// One plane rebuilt as one chain: each sample waits only on its left
// neighbour. Rows are rebuilt in `scratch` (two rows, the one above and the
// current) and copied out, so the caller's planes are only written.
template <bool deep>
void rebuild_plane(const unsigned char* low, const unsigned char* high, std::size_t w, std::size_t h, int bits,
                   unsigned* scratch, unsigned char* top, std::ptrdiff_t stride)
{
    const unsigned mask = (1u << bits) - 1;
    unsigned* above = scratch;
    unsigned* current = scratch + w;
    auto residual = [&](std::size_t i) { return deep ? unfold(low[i] | unsigned(high[i]) << 8) : unsigned(low[i]); };
    unsigned left = 0;
    unsigned upper_left = 0;
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t at = y * w;
        if (y == 0) {
            for (std::size_t x = 0; x < w; ++x) {
                left = (left + residual(x)) & mask;
                current[x] = left;
            }
        } else {
            const unsigned up = y == 1 ? left : above[0];
            upper_left = y == 1 ? left : upper_left;
            left = (median(left, up, upper_left) + residual(at)) & mask;
            current[0] = left;
            for (std::size_t x = 1; x < w; ++x) {
                left = (median(left, above[x], above[x - 1]) + residual(at + x)) & mask;
                current[x] = left;
            }
        }
        unsigned char* out = top + std::ptrdiff_t(y) * stride;
        for (std::size_t x = 0; x < w; ++x) {
            if (deep) {
                const std::uint16_t v = static_cast<std::uint16_t>(current[x]);
                std::memcpy(out + 2 * x, &v, 2);
            } else {
                out[x] = static_cast<unsigned char>(current[x]);
            }
        }
        if (y > 0) {
            upper_left = above[w - 1];  // the last of the row two up, for the next row's first sample
        }
        std::swap(above, current);
    }
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
    for (int p = 0; p < shape.count; ++p) {
        rebuild_plane<true>(channels[2 * p], channels[2 * p + 1], std::size_t(shape.width[p]),
                            std::size_t(shape.height), shape.bits, reinterpret_cast<unsigned*>(scratch),
                            picture.plane[p], picture.stride[p]);
    }
}

void rebuild_byte_plane(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                        const PlanePicture& picture)
{
    rebuild_plane<false>(residuals, residuals, std::size_t(shape.width[0]), std::size_t(shape.height), 8,
                         reinterpret_cast<unsigned*>(scratch), picture.plane[0], picture.stride[0]);
}

std::size_t deep_rebuild_scratch(const PlaneShape& shape)
{
    return 2 * sizeof(unsigned) * std::size_t(shape.width[0]);
}
