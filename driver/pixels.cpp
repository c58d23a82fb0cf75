#include "driver/pixels.h"

#include <cstddef>

void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    // Rows reversed and channels exchanged in one pass over each row, so the
    // frame is read and written once.
    const std::size_t row_bytes = std::size_t(3) * std::size_t(width);
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = source + row_bytes * std::size_t(height - 1 - y);
        unsigned char* to = destination + row_bytes * std::size_t(y);
        for (std::size_t k = 0; k < row_bytes; k += 3) {
            to[k] = from[k + 2];
            to[k + 1] = from[k + 1];
            to[k + 2] = from[k];
        }
    }
}
