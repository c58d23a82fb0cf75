// Frames of every 10- and 16-bit layout, their samples distinct and of full
// range, through the planes and back, the rows back as stored with the
// padding, set in the stored frame, zero; and the first pixel of a row
// beginning 01 23 45 67 89 AB CD EF in its planes as ffmpeg decodes it.
#include "quicktime/deep_planes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "quicktime/deep_rows.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(DeepPlanes, ThroughThePlanesAndBack)
{
    struct Case {
        const char* format;
        int width;
        std::vector<std::uint16_t> first_pixel;  // plane by plane
    };
    const std::vector<std::uint16_t> v410 = {0x052, 0x0C0, 0x19D};
    const std::vector<Case> cases = {
        {"v210", 5, {0x148, 0x301, 0x274}}, {"v210", 53, {0x148, 0x301, 0x274}},
        {"v410", 3, v410}, {"r210", 65, {0x0D1, 0x167, 0x012}},
        {"R10k", 3, {0x234, 0x159, 0x004}}, {"AVrp", 70, v410}, {"b48r", 3, {0x4567, 0x89AB, 0x0123}},
        {"b64a", 3, {0x89AB, 0xCDEF, 0x4567, 0x0123}}, {"b16g", 3, {0x0123}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width));
        const PixelFormat& format = *find_pixel_format(c.format, 24);
        PixelLayout layout = pixel_layout(format, c.width, 2);
        const PlaneShape shape = deep_shape(format, c.width, 2);
        ASSERT_GT(shape.count, 0);
        // Planes of distinct samples of the shape's bits, to rows and back.
        std::vector<std::vector<std::uint16_t>> planes(std::size_t(shape.count));
        PlanePicture picture;
        unsigned next = 1;
        for (int p = 0; p < shape.count; ++p) {
            planes[std::size_t(p)].resize(std::size_t(2 * shape.width[p]));
            for (std::uint16_t& s : planes[std::size_t(p)]) {
                s = std::uint16_t((next = next * 2654435761u + 7) >> (32 - shape.bits));
            }
            picture.plane[p] = reinterpret_cast<unsigned char*>(planes[std::size_t(p)].data());
            picture.stride[p] = std::ptrdiff_t(2 * shape.width[p]);
        }
        Bytes rows(2 * layout.row_bytes, 0xEE);
        planes_to_deep(layout, picture, rows.data());
        Bytes over_other(rows.size(), 0x11);
        planes_to_deep(layout, picture, over_other.data());
        EXPECT_EQ(over_other, rows);  // every byte is written, the padding too
        // The same rows, their padding and the bits outside samples set,
        // at a wider stride, come back as those planes and those rows.
        Bytes stored = rows;
        if (format.deep != nullptr) {
            for (std::size_t k = 0; k < rows.size(); ++k) {
                stored[k] = rows[k] | static_cast<unsigned char>(~format.deep->keep[k % 4]);
            }
        }
        layout.stride = layout.row_bytes + 4;
        stored.insert(stored.begin() + std::ptrdiff_t(layout.row_bytes), {0xFF, 0xFF, 0xFF, 0xFF});
        std::vector<std::vector<std::uint16_t>> back(planes.size());
        PlanePicture again;
        for (int p = 0; p < shape.count; ++p) {
            back[std::size_t(p)].assign(planes[std::size_t(p)].size(), 0xFFFF);
            again.plane[p] = reinterpret_cast<unsigned char*>(back[std::size_t(p)].data());
            again.stride[p] = picture.stride[p];
        }
        deep_to_planes(layout, stored.data(), again);
        EXPECT_EQ(back, planes);
        Bytes repacked(rows.size(), 0xEE);
        planes_to_deep(layout, again, repacked.data());
        EXPECT_EQ(repacked, rows);
        const Bytes known = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
        std::copy(known.begin(), known.end(), stored.begin());
        deep_to_planes(layout, stored.data(), again);
        for (int p = 0; p < shape.count; ++p) {
            EXPECT_EQ(back[std::size_t(p)][0], c.first_pixel[std::size_t(p)]) << p;
        }
    }
}

}  // namespace
