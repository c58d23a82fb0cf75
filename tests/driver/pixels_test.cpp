#include "driver/pixels.h"

#include <gtest/gtest.h>

#include <vector>

#include "entropy/cpu.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(RawToBgr, ReversesRowsAndExchangesRedAndBlue)
{
    const Bytes one = {10, 20, 30};
    Bytes out(3);
    raw_to_BGR(one.data(), out.data(), 1, 1);
    EXPECT_EQ(out, (Bytes{30, 20, 10}));

    // Top row P Q, bottom row R S.
    const Bytes square = {1, 2, 3, 4, 5, 6, /**/ 7, 8, 9, 10, 11, 12};
    const Bytes before = square;
    Bytes converted(12);
    raw_to_BGR(square.data(), converted.data(), 2, 2);
    EXPECT_EQ(converted, (Bytes{9, 8, 7, 12, 11, 10, /**/ 3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(square, before);

    const Bytes column = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes flipped(9);
    raw_to_BGR(column.data(), flipped.data(), 1, 3);
    EXPECT_EQ(flipped, (Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(RawToBgr, RowsOfOddWidthArePackedWithoutGaps)
{
    // 5 pixels of 3 bytes: 15 bytes a row, nothing added.
    Bytes frame(15 * 3);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<unsigned char>(i);
    }
    Bytes out(frame.size() + 4, 0xEE);
    raw_to_BGR(frame.data(), out.data(), 5, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(out[15 * y + 3 * x + c], frame[15 * (2 - y) + 3 * x + (2 - c)]);
            }
        }
    }
    EXPECT_EQ(out[45], 0xEE);

    Bytes untouched(6, 0xEE);
    raw_to_BGR(frame.data(), untouched.data(), 2, 0);
    EXPECT_EQ(untouched, Bytes(6, 0xEE));
}

TEST(RawToBgr, BothCopiesConvertRowsOfEveryWidth)
{
    // Widths around the 32-byte steps of the vector copy, and a row piece
    // from the middle of a frame, by the plain copy and the other.
    for (bool plain : {false, true}) {
        cpu_use_plain_copies(plain);
        for (int width = 1; width <= 70; ++width) {
            const int height = 5;
            const std::size_t row = std::size_t(width) * 3;
            Bytes frame(row * height);
            for (std::size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<unsigned char>(i * 13 + width);
            }
            Bytes out(row * 2 + 1, 0xEE);
            raw_to_BGR_rows(frame.data(), out.data(), width, height, 2, 2);
            for (int y = 0; y < 2; ++y) {
                for (std::size_t k = 0; k < row; ++k) {
                    const std::size_t from = row * std::size_t(height - 1 - (2 + y)) + k / 3 * 3 + (2 - k % 3);
                    ASSERT_EQ(out[row * std::size_t(y) + k], frame[from]) << width << " plain " << plain;
                }
            }
            EXPECT_EQ(out.back(), 0xEE);
        }
    }
    cpu_use_plain_copies(false);
}

}  // namespace
