#include "quicktime/deep_planes.h"

#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "quicktime/deep_rows.h"

namespace {

using Sample = std::uint16_t;

inline Sample* plane_row(const PlanePicture& picture, int p, int r)
{
    return reinterpret_cast<Sample*>(picture.plane[p] + std::ptrdiff_t(r) * picture.stride[p]);
}

// A word of a layout that is stored in either byte order.
inline std::uint32_t load32(const unsigned char* b, bool big) { return big ? get_be32(b) : get_le32(b); }

inline void store32(unsigned char* b, std::uint32_t v, bool big) { big ? put_be32(b, v) : put_le32(b, v); }

// "v210": Cb Y' Cr Y' ... three to a little-endian word. Sample k of a row
// is Y' k/2 where k is odd, else Cb or Cr k/4 as k/2 is even or odd.
struct V210 {
    static void row_to_planes(const unsigned char* from, Sample* const plane[3], int width)
    {
        const int samples = row_samples(rows_v210, width);
        int k = 0;
        // Twelve samples, four words, at a time: the places are fixed, so
        // the loop has no branch per sample.
        for (; k + 12 <= samples; k += 12, from += 16) {
            Sample s[12];
            for (int w = 0; w < 4; ++w) {
                const std::uint32_t word = get_le32(from + 4 * w);
                s[3 * w] = Sample(word & 0x3FF), s[3 * w + 1] = Sample(word >> 10 & 0x3FF);
                s[3 * w + 2] = Sample(word >> 20 & 0x3FF);
            }
            for (int i = 0; i < 3; ++i) {
                plane[1][k / 4 + i] = s[4 * i], plane[2][k / 4 + i] = s[4 * i + 2];
                plane[0][k / 2 + 2 * i] = s[4 * i + 1], plane[0][k / 2 + 2 * i + 1] = s[4 * i + 3];
            }
        }
        for (int j = 0; k < samples; ++k, ++j) {
            const Sample s = Sample(get_le32(from + 4 * (j / 3)) >> (10 * (j % 3)) & 0x3FF);
            (k % 2 != 0 ? plane[0][k / 2] : plane[1 + k / 2 % 2][k / 4]) = s;
        }
    }
    // Returns the bytes of the row written; the caller zeroes the rest.
    static std::size_t planes_to_row(const Sample* const plane[3], unsigned char* to, int width)
    {
        const int samples = row_samples(rows_v210, width);
        const Sample* y = plane[0];
        const Sample* cb = plane[1];
        const Sample* cr = plane[2];
        int k = 0;
        // Six pixels, four words, at a time, each word put whole: words
        // built in a scratch array and copied out cost a stalled load each.
        for (; k + 12 <= samples; k += 12, to += 16, y += 6, cb += 3, cr += 3) {
            put_le32(to, std::uint32_t(cb[0]) | std::uint32_t(y[0]) << 10 | std::uint32_t(cr[0]) << 20);
            put_le32(to + 4, std::uint32_t(y[1]) | std::uint32_t(cb[1]) << 10 | std::uint32_t(y[2]) << 20);
            put_le32(to + 8, std::uint32_t(cr[1]) | std::uint32_t(y[3]) << 10 | std::uint32_t(cb[2]) << 20);
            put_le32(to + 12, std::uint32_t(y[4]) | std::uint32_t(cr[2]) << 10 | std::uint32_t(y[5]) << 20);
        }
        // The last group's samples, where the row ends inside it.
        int w = 0;
        for (; k + 3 * w < samples; ++w) {
            std::uint32_t word = 0;
            for (int j = 0; j < 3 && k + 3 * w + j < samples; ++j) {
                const int at = k + 3 * w + j;
                word |= std::uint32_t(at % 2 != 0 ? plane[0][at / 2] : plane[1 + at / 2 % 2][at / 4]) << (10 * j);
            }
            put_le32(to + 4 * w, word);
        }
        return std::size_t(k / 12) * 16 + 4 * std::size_t(w);
    }
};

// A word a pixel: B G R (or Cb Y' Cr) at bits Shift, Shift + 10 and
// Shift + 20, which are planes 1, 0 and 2 either way.
template <bool Big, int Shift>
struct WordPixels {
    static void row_to_planes(const unsigned char* from, Sample* const plane[3], int width)
    {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t word = load32(from + 4 * x, Big) >> Shift;
            plane[1][x] = Sample(word & 0x3FF);
            plane[0][x] = Sample(word >> 10 & 0x3FF);
            plane[2][x] = Sample(word >> 20 & 0x3FF);
        }
    }
    static std::size_t planes_to_row(const Sample* const plane[3], unsigned char* to, int width)
    {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t word = std::uint32_t(plane[1][x]) | std::uint32_t(plane[0][x]) << 10 |
                                       std::uint32_t(plane[2][x]) << 20;
            store32(to + 4 * x, word << Shift, Big);
        }
        return 4 * std::size_t(width);
    }
};

// Big-endian 16-bit components, component c going to plane P<c>.
template <int P0, int P1 = -1, int P2 = -1, int P3 = -1>
struct Words16 {
    static constexpr int count = P3 >= 0 ? 4 : P1 >= 0 ? 3 : 1;
    static constexpr int planes[4] = {P0, P1, P2, P3};
    static void row_to_planes(const unsigned char* from, Sample* const plane[4], int width)
    {
        for (int x = 0; x < width; ++x, from += 2 * count) {
            for (int c = 0; c < count; ++c) {
                plane[planes[c]][x] = Sample(from[2 * c] << 8 | from[2 * c + 1]);
            }
        }
    }
    static std::size_t planes_to_row(const Sample* const plane[4], unsigned char* to, int width)
    {
        for (int x = 0; x < width; ++x, to += 2 * count) {
            for (int c = 0; c < count; ++c) {
                to[2 * c] = static_cast<unsigned char>(plane[planes[c]][x] >> 8);
                to[2 * c + 1] = static_cast<unsigned char>(plane[planes[c]][x]);
            }
        }
        return 2 * std::size_t(count) * std::size_t(width);
    }
};

template <typename Rows>
void to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture)
{
    for (int r = 0; r < layout.height; ++r) {
        Sample* plane[4] = {plane_row(picture, 0, r)};
        for (int p = 1; p < 4 && picture.plane[p] != nullptr; ++p) {
            plane[p] = plane_row(picture, p, r);
        }
        Rows::row_to_planes(stored + layout.stride * std::size_t(r), plane, layout.width);
    }
}

template <typename Rows>
void to_rows(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows)
{
    const std::size_t row_bytes = packed_row(*layout.format, layout.width);
    for (int r = 0; r < layout.height; ++r) {
        const Sample* plane[4] = {plane_row(picture, 0, r)};
        for (int p = 1; p < 4 && picture.plane[p] != nullptr; ++p) {
            plane[p] = plane_row(picture, p, r);
        }
        unsigned char* row = rows + row_bytes * std::size_t(r);
        const std::size_t written = Rows::planes_to_row(plane, row, layout.width);
        std::memset(row + written, 0, row_bytes - written);  // the row's padding words
    }
}

struct DeepPlanes {
    char data_format[5];
    PlaneLayout layout;
    int bits;
    void (*to_planes)(const PixelLayout&, const unsigned char*, const PlanePicture&);
    void (*to_rows)(const PixelLayout&, const PlanePicture&, unsigned char*);
};

// The codec's planes of each layout: Y'CbCr as it is stored, RGB as G, B, R
// (then alpha), grey as one plane.
constexpr DeepPlanes deep_planes[] = {
    {"v210", PlaneLayout::yuv422, 10, to_planes<V210>, to_rows<V210>},
    {"v410", PlaneLayout::yuv444, 10, to_planes<WordPixels<false, 2>>, to_rows<WordPixels<false, 2>>},
    {"r210", PlaneLayout::gbr444, 10, to_planes<WordPixels<true, 0>>, to_rows<WordPixels<true, 0>>},
    {"R10k", PlaneLayout::gbr444, 10, to_planes<WordPixels<true, 2>>, to_rows<WordPixels<true, 2>>},
    {"AVrp", PlaneLayout::gbr444, 10, to_planes<WordPixels<false, 2>>, to_rows<WordPixels<false, 2>>},
    {"b48r", PlaneLayout::gbr444, 16, to_planes<Words16<2, 0, 1>>, to_rows<Words16<2, 0, 1>>},
    {"b64a", PlaneLayout::gbra444, 16, to_planes<Words16<3, 2, 0, 1>>, to_rows<Words16<3, 2, 0, 1>>},
    {"b16g", PlaneLayout::grey, 16, to_planes<Words16<0>>, to_rows<Words16<0>>},
};

const DeepPlanes* find_deep(const PixelFormat& format)
{
    for (const DeepPlanes& deep : deep_planes) {
        if (std::memcmp(deep.data_format, format.data_format, 4) == 0) {
            return &deep;
        }
    }
    return nullptr;
}

}  // namespace

DeepLayout deep_layout(const PixelFormat& format)
{
    const DeepPlanes* deep = find_deep(format);
    return deep != nullptr ? DeepLayout{deep->layout, deep->bits} : DeepLayout{};
}

PlaneShape deep_shape(const PixelFormat& format, int width, int height)
{
    const DeepLayout deep = deep_layout(format);
    return deep.bits != 0 ? plane_shape(deep.layout, width, height, deep.bits) : PlaneShape{};
}

void deep_to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture)
{
    find_deep(*layout.format)->to_planes(layout, stored, picture);
}

void planes_to_deep(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows)
{
    find_deep(*layout.format)->to_rows(layout, picture, rows);
}
