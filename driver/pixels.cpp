#include "driver/pixels.h"

#include <cstddef>

#include "entropy/cpu.h"

namespace {

// Rows reversed and channels exchanged in one pass over each row, so the
// frame is read and written once.
REELPACK_INLINE void convert_rows(const unsigned char* source, unsigned char* destination, int width, int height,
                                  int first_row, int rows)
{
    const std::size_t row_bytes = std::size_t(3) * std::size_t(width);
    for (int y = first_row; y < first_row + rows; ++y) {
        const unsigned char* from = source + row_bytes * std::size_t(height - 1 - y);
        unsigned char* to = destination + row_bytes * std::size_t(y - first_row);
        // The rows are read from the bottom up, which the processor does not
        // foresee across rows: the row two ahead is asked for early.
        if (y + 2 < height) {
            const unsigned char* ahead = source + row_bytes * std::size_t(height - 3 - y);
            for (std::size_t k = 0; k < row_bytes; k += 64) {
                __builtin_prefetch(ahead + k);
            }
        }
        for (std::size_t k = 0; k < row_bytes; k += 3) {
            to[k] = from[k + 2];
            to[k + 1] = from[k + 1];
            to[k + 2] = from[k];
        }
    }
}

void convert_plain(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                   int rows)
{
    convert_rows(source, destination, width, height, first_row, rows);
}

#ifdef REELPACK_X86_COPIES
// Exchanging the bytes of three-byte pixels takes shuffles that AVX2 has.
REELPACK_TARGET("avx2")
void convert_avx2(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                  int rows)
{
    convert_rows(source, destination, width, height, first_row, rows);
}
#endif

}  // namespace

void raw_to_BGR_rows(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                     int rows)
{
    if (width <= 0 || height <= 0 || first_row < 0 || rows <= 0 || rows > height - first_row) {
        return;
    }
#ifdef REELPACK_X86_COPIES
    if (cpu_has_avx2()) {
        convert_avx2(source, destination, width, height, first_row, rows);
        return;
    }
#endif
    convert_plain(source, destination, width, height, first_row, rows);
}

void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height)
{
    raw_to_BGR_rows(source, destination, width, height, 0, height);
}
