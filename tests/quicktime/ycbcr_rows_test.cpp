// Y'CbCr frames of two padded rows, the second the first plus 0x10, as the
// codec's planes (each sample in its plane, "yuv2"'s chroma unsigned) and
// back as stored, rows packed. At an odd width the Y' after the last pixel
// is kept only where it repeats the last pixel's, and comes back so.
#include "quicktime/ycbcr_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(YcbcrRows, ThroughThePlanesAndBack)
{
    struct Case {
        const char* format;
        int width;
        Bytes row, planes;  // the planes' first rows: Y', Cb, Cr, alpha
        bool kept = true;
    };
    const Bytes pairs = {2, 4, 6, 1, 5, 3, 7};
    const std::vector<Case> cases = {
        {"2vuy", 3, {1, 2, 3, 4, 5, 6, 7, 6}, pairs},
        {"2vuy", 3, {1, 2, 3, 4, 5, 6, 7, 9}, pairs, false},
        {"yuvs", 3, {2, 1, 4, 3, 6, 5, 6, 7}, pairs},
        {"yuv2", 3, {2, 0x81, 4, 0x83, 6, 0x85, 6, 0x87}, pairs},
        {"v308", 2, {3, 2, 1, 7, 4, 5}, {2, 4, 1, 5, 3, 7}},
        {"v408", 2, {1, 2, 3, 9, 5, 4, 7, 8}, {2, 4, 1, 5, 3, 7, 9, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        PixelLayout layout = pixel_layout(*find_pixel_format(c.format, 24), c.width, 2);
        layout.stride = c.row.size() + 3;
        Bytes stored = c.row, packed = c.row;
        stored.resize(layout.stride, 0xEE);
        for (unsigned char b : c.row) {
            stored.push_back(b + 0x10);
            packed.push_back(b + 0x10);
        }
        const PlaneShape shape = plane_shape(layout.format->planes->layout, c.width, 2, 8);
        Bytes planes(2 * c.planes.size()), expected;
        PlanePicture picture;
        for (int p = 0, at = 0; p < shape.count; at += shape.width[p++]) {
            picture.plane[p] = planes.data() + 2 * at;
            picture.stride[p] = shape.width[p];
            for (int x = 0; x < 2 * shape.width[p]; ++x) {
                expected.push_back(c.planes[std::size_t(at + x % shape.width[p])] + (x < shape.width[p] ? 0 : 0x10));
            }
        }
        EXPECT_EQ(movie_to_planes(layout, stored.data(), picture), c.kept);
        EXPECT_EQ(planes, expected);
        Bytes back(packed.size());
        planes_to_movie(layout, picture, back.data());
        if (!c.kept) {
            packed[c.row.size() - 1] = packed[c.row.size() - 3];
            packed.back() = packed[packed.size() - 3];
        }
        EXPECT_EQ(back, packed);
    }
}

}  // namespace
