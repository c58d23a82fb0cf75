#include "driver/pixels.h"

#include <cstddef>
#include <cstring>

#include "common/cpu.h"

namespace {

// Rows reversed and channels exchanged in one pass over each row, so the
// frame is read and written once.
REELPACK_INLINE void convert_rows(const unsigned char* source, std::size_t stride, unsigned char* destination,
                                  int width, int height, int first_row, int rows)
{
    const std::size_t row_bytes = std::size_t(3) * std::size_t(width);
    for (int y = first_row; y < first_row + rows; ++y) {
        const unsigned char* from = source + stride * std::size_t(height - 1 - y);
        unsigned char* to = destination + row_bytes * std::size_t(y - first_row);
        // The rows are read from the bottom up, which the processor does not
        // foresee across rows: the row two ahead is asked for early.
        if (y + 2 < height) {
            const unsigned char* ahead = source + stride * std::size_t(height - 3 - y);
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

void convert_plain(const unsigned char* source, std::size_t stride, unsigned char* destination, int width, int height,
                   int first_row, int rows)
{
    convert_rows(source, stride, destination, width, height, first_row, rows);
}

#ifdef REELPACK_X86_COPIES
// Exchanging the bytes of three-byte pixels takes shuffles that AVX2 has.
REELPACK_TARGET("avx2")
void convert_avx2(const unsigned char* source, std::size_t stride, unsigned char* destination, int width, int height,
                  int first_row, int rows)
{
    convert_rows(source, stride, destination, width, height, first_row, rows);
}
#endif

// "raw " 24-bit rows stored `stride` bytes apart.
void rgb_rows(const unsigned char* source, std::size_t stride, unsigned char* destination, int width, int height,
              int first_row, int rows)
{
    if (width <= 0 || height <= 0 || first_row < 0 || rows <= 0 || rows > height - first_row) {
        return;
    }
#ifdef REELPACK_X86_COPIES
    if (cpu_has_avx2()) {
        convert_avx2(source, stride, destination, width, height, first_row, rows);
        return;
    }
#endif
    convert_plain(source, stride, destination, width, height, first_row, rows);
}

// Five bits of a colour widened to eight as a player widens them: the top
// bits repeated below, so that 31 becomes 255.
inline unsigned char widen5(unsigned v) { return static_cast<unsigned char>((v << 3) | (v >> 2)); }

}  // namespace

void raw_to_BGR_rows(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                     int rows)
{
    rgb_rows(source, std::size_t(3) * std::size_t(width), destination, width, height, first_row, rows);
}

void movie_rows_to_frame(const PixelLayout& layout, const unsigned char* source, unsigned char* destination,
                         int first_row, int rows)
{
    const std::size_t width = std::size_t(layout.width);
    const int height = layout.height;
    if (layout.kind == PixelKind::rgb24) {
        rgb_rows(source, layout.stride, destination, layout.width, height, first_row, rows);
        return;
    }
    const std::size_t out_row = width * std::size_t(layout.bit_count / 8);
    for (int y = first_row; y < first_row + rows; ++y) {
        unsigned char* to = destination + out_row * std::size_t(y - first_row);
        // Only "WRLE" rows are stored bottom up, as the AVI holds them.
        const int stored = layout.kind == PixelKind::bgr24 ? y : height - 1 - y;
        const unsigned char* from = source + layout.stride * std::size_t(stored);
        switch (layout.kind) {
        case PixelKind::rgb24:
        case PixelKind::bgr24:
            std::memcpy(to, from, out_row);
            break;
        case PixelKind::argb32:
            for (std::size_t x = 0; x < width; ++x) {
                to[4 * x] = from[4 * x + 3];
                to[4 * x + 1] = from[4 * x + 2];
                to[4 * x + 2] = from[4 * x + 1];
                to[4 * x + 3] = from[4 * x];
            }
            break;
        case PixelKind::rgb555:
            for (std::size_t x = 0; x < width; ++x) {
                const unsigned v = (unsigned(from[2 * x]) << 8) | from[2 * x + 1];
                to[3 * x] = widen5(v & 31);
                to[3 * x + 1] = widen5((v >> 5) & 31);
                to[3 * x + 2] = widen5((v >> 10) & 31);
            }
            break;
        case PixelKind::indexed8:
            for (std::size_t x = 0; x < width; ++x) {
                std::memcpy(to + 3 * x, layout.palette[from[x]], 3);
            }
            break;
        }
    }
}
