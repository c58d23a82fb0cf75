// "raw " rows reversed and red exchanged with blue, by the plain copy and
// the one for newer processors, for widths around its 32-byte steps.
#include "driver/pixels.h"

#include <gtest/gtest.h>

#include <vector>

#include "entropy/cpu.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(RawToBgr, BothCopiesConvertRowsOfEveryWidth)
{
    for (bool plain : {false, true}) {
        cpu_use_plain_copies(plain);
        // Top row P Q, bottom row R S.
        const Bytes square = {1, 2, 3, 4, 5, 6, /**/ 7, 8, 9, 10, 11, 12};
        Bytes converted(12);
        raw_to_BGR_rows(square.data(), converted.data(), 2, 2, 0, 2);
        EXPECT_EQ(converted, (Bytes{9, 8, 7, 12, 11, 10, /**/ 3, 2, 1, 6, 5, 4}));
        for (int width = 1; width <= 70; ++width) {
            const int height = 5;
            const std::size_t row = std::size_t(width) * 3;
            Bytes frame(row * height);
            for (std::size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<unsigned char>(i * 13 + width);
            }
            // Two rows from the middle of the frame, and nothing past them.
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
