// 10-bit layouts' -u rows from a stored frame whose every bit is set, the
// rows padded further than the layout's own stride: only the samples' bits
// come through, the bits and words between and after them zero, in rows of
// the layout's whole groups.
#include "quicktime/deep_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(DeepRows, OnlyTheSamplesBitsComeThrough)
{
    struct Case {
        const char* format;
        int width;
        std::size_t row_bytes;
        Bytes kept;  // the bytes of the row's words that hold samples
    };
    const Bytes v210_word = {0xFF, 0xFF, 0xFF, 0x3F}, low_first = {0xFC, 0xFF, 0xFF, 0xFF};
    auto words = [](const Bytes& word, int count, const Bytes& tail = {}) {
        Bytes all;
        for (int i = 0; i < count; ++i) {
            all.insert(all.end(), word.begin(), word.end());
        }
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    const std::vector<Case> cases = {
        // Odd: eleven samples, the twelfth Y' past the picture.
        {"v210", 5, 128, words(v210_word, 3, {0xFF, 0xFF, 0x0F, 0x00})},
        {"v210", 50, 256, words(v210_word, 33, {0xFF, 0x03, 0x00, 0x00})},
        {"v410", 3, 12, words(low_first, 3)},
        {"r210", 65, 512, words({0x3F, 0xFF, 0xFF, 0xFF}, 65)},
        {"R10k", 3, 12, words({0xFF, 0xFF, 0xFF, 0xFC}, 3)},
        {"AVrp", 3, 256, words(low_first, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width));
        PixelLayout layout = pixel_layout(*find_pixel_format(c.format, 24), c.width, 2);
        ASSERT_EQ(layout.row_bytes, c.row_bytes);
        ASSERT_EQ(layout.stride, c.row_bytes);
        layout.stride += 8;
        const Bytes stored(2 * layout.stride, 0xFF);
        Bytes expected = c.kept;
        expected.resize(c.row_bytes);
        expected.insert(expected.end(), expected.begin(), expected.end());
        Bytes rows(2 * c.row_bytes, 0xEE);
        deep_rows(layout, stored.data(), rows.data(), 0, 2);
        EXPECT_EQ(rows, expected);
    }
}

}  // namespace
