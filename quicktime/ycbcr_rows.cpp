#include "quicktime/ycbcr_rows.h"

#include <cstdint>
#include <cstring>

namespace {

// Row r of plane p.
inline unsigned char* plane_row(const PlanePicture& picture, int p, int r)
{
    return picture.plane[p] + std::ptrdiff_t(r) * picture.stride[p];
}

// "yuv2" stores chroma signed; XOR with 0x80 makes it unsigned and back.
constexpr unsigned char signed_chroma = 0x80;

// Pairs of pixels in four bytes (4:2:2), the samples at the places given,
// the chroma XORed with `Flip`. Odd widths end in a whole pair, whose second
// Y' lies past the picture.
template <int Y0, int Cb, int Y1, int Cr, unsigned char Flip>
bool pairs_to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture)
{
    const int pairs = layout.width / 2;
    unsigned char extra_differs = 0;
    for (int r = 0; r < layout.height; ++r) {
        const unsigned char* __restrict from = stored + layout.stride * std::size_t(r);
        unsigned char* __restrict y = plane_row(picture, 0, r);
        unsigned char* __restrict cb = plane_row(picture, 1, r);
        unsigned char* __restrict cr = plane_row(picture, 2, r);
        for (int i = 0; i < pairs; ++i) {
            y[2 * i] = from[4 * i + Y0];
            y[2 * i + 1] = from[4 * i + Y1];
            cb[i] = from[4 * i + Cb] ^ Flip;
            cr[i] = from[4 * i + Cr] ^ Flip;
        }
        if (layout.width % 2 != 0) {
            const unsigned char* last = from + 4 * pairs;
            y[2 * pairs] = last[Y0];
            cb[pairs] = last[Cb] ^ Flip;
            cr[pairs] = last[Cr] ^ Flip;
            extra_differs |= last[Y1] ^ last[Y0];
        }
    }
    return extra_differs == 0;
}

template <int Y0, int Cb, int Y1, int Cr, unsigned char Flip>
void planes_to_pairs(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows)
{
    const int pairs = layout.width / 2;
    // Whole pairs; only the picture's sizes are read, so that a layout of
    // width and height alone will do.
    const std::size_t row_bytes = (std::size_t(layout.width) + 1) / 2 * 4;
    for (int r = 0; r < layout.height; ++r) {
        unsigned char* __restrict to = rows + row_bytes * std::size_t(r);
        const unsigned char* __restrict y = plane_row(picture, 0, r);
        const unsigned char* __restrict cb = plane_row(picture, 1, r);
        const unsigned char* __restrict cr = plane_row(picture, 2, r);
        for (int i = 0; i < pairs; ++i) {
            to[4 * i + Y0] = y[2 * i];
            to[4 * i + Y1] = y[2 * i + 1];
            to[4 * i + Cb] = cb[i] ^ Flip;
            to[4 * i + Cr] = cr[i] ^ Flip;
        }
        if (layout.width % 2 != 0) {
            unsigned char* last = to + 4 * pairs;
            last[Y0] = last[Y1] = y[2 * pairs];
            last[Cb] = cb[pairs] ^ Flip;
            last[Cr] = cr[pairs] ^ Flip;
        }
    }
}

// One pixel in `Bytes` bytes (4:4:4), the samples at the places given;
// `A` < 0 where there is no alpha.
template <int Bytes, int Y, int Cb, int Cr, int A>
bool pixels_to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture)
{
    for (int r = 0; r < layout.height; ++r) {
        const unsigned char* __restrict from = stored + layout.stride * std::size_t(r);
        unsigned char* __restrict y = plane_row(picture, 0, r);
        unsigned char* __restrict cb = plane_row(picture, 1, r);
        unsigned char* __restrict cr = plane_row(picture, 2, r);
        unsigned char* __restrict alpha = A < 0 ? nullptr : plane_row(picture, 3, r);
        for (int x = 0; x < layout.width; ++x) {
            y[x] = from[Bytes * x + Y];
            cb[x] = from[Bytes * x + Cb];
            cr[x] = from[Bytes * x + Cr];
            if constexpr (A >= 0) {
                alpha[x] = from[Bytes * x + A];
            }
        }
    }
    return true;
}

template <int Bytes, int Y, int Cb, int Cr, int A>
void planes_to_pixels(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows)
{
    const std::size_t row_bytes = std::size_t(layout.width) * Bytes;
    for (int r = 0; r < layout.height; ++r) {
        unsigned char* __restrict to = rows + row_bytes * std::size_t(r);
        const unsigned char* __restrict y = plane_row(picture, 0, r);
        const unsigned char* __restrict cb = plane_row(picture, 1, r);
        const unsigned char* __restrict cr = plane_row(picture, 2, r);
        const unsigned char* __restrict alpha = A < 0 ? nullptr : plane_row(picture, 3, r);
        for (int x = 0; x < layout.width; ++x) {
            to[Bytes * x + Y] = y[x];
            to[Bytes * x + Cb] = cb[x];
            to[Bytes * x + Cr] = cr[x];
            if constexpr (A >= 0) {
                to[Bytes * x + A] = alpha[x];
            }
        }
    }
}

// Rows [first_row, first_row + rows) of the stored frame, top down, each
// handed to convert_row(stored row, -u row, bytes of the -u row).
template <typename ConvertRow>
void each_stored_row(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination,
                     int first_row, int rows, ConvertRow convert_row)
{
    for (int r = first_row; r < first_row + rows; ++r) {
        convert_row(stored + layout.stride * std::size_t(r), destination + layout.row_bytes * std::size_t(r - first_row),
                    layout.row_bytes);
    }
}

}  // namespace

const YcbcrPlanes planes_2vuy = {PlaneLayout::yuv422, pairs_to_planes<1, 0, 3, 2, 0>, planes_to_pairs<1, 0, 3, 2, 0>};
const YcbcrPlanes planes_yuvs = {PlaneLayout::yuv422, pairs_to_planes<0, 1, 2, 3, 0>, planes_to_pairs<0, 1, 2, 3, 0>};
const YcbcrPlanes planes_yuv2 = {PlaneLayout::yuv422, pairs_to_planes<0, 1, 2, 3, signed_chroma>,
                                 planes_to_pairs<0, 1, 2, 3, signed_chroma>};
const YcbcrPlanes planes_v308 = {PlaneLayout::yuv444, pixels_to_planes<3, 1, 2, 0, -1>,
                                 planes_to_pixels<3, 1, 2, 0, -1>};
const YcbcrPlanes planes_v408 = {PlaneLayout::yuva444, pixels_to_planes<4, 1, 0, 2, 3>,
                                 planes_to_pixels<4, 1, 0, 2, 3>};

void ycbcr_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
                int rows)
{
    each_stored_row(layout, stored, destination, first_row, rows,
                    [](const unsigned char* from, unsigned char* to, std::size_t bytes) { std::memcpy(to, from, bytes); });
}

void yuv2_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
               int rows)
{
    // Chroma is every odd byte of Y'0 Cb Y'1 Cr: one XOR of eight bytes
    // flips the chroma of two pairs, whatever the host's byte order.
    static constexpr unsigned char odd_bytes[8] = {0, signed_chroma, 0, signed_chroma, 0, signed_chroma, 0, signed_chroma};
    std::uint64_t flip;
    std::memcpy(&flip, odd_bytes, sizeof flip);
    each_stored_row(layout, stored, destination, first_row, rows,
                    [flip](const unsigned char* from, unsigned char* to, std::size_t bytes) {
                        std::size_t k = 0;
                        for (; k + 8 <= bytes; k += 8) {
                            std::uint64_t v;
                            std::memcpy(&v, from + k, 8);
                            v ^= flip;
                            std::memcpy(to + k, &v, 8);
                        }
                        for (; k < bytes; ++k) {
                            to[k] = from[k] ^ odd_bytes[k % 8];
                        }
                    });
}
