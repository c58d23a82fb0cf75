// Frames reach the AVI writer and the codec bottom row first, each pixel
// blue, green, red, rows packed with no gap. "raw " movies store them top
// row first and red, green, blue.
#pragma once

#include <cstddef>

// Converts `rows` rows of one "raw " frame of 3 x width x height bytes at
// `source`, from row `first_row` on (counted as the converted frame counts
// them, bottom up), written one after another at `destination`; the source
// is left as it is.
void raw_to_BGR_rows(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                     int rows);

// How a frame's pixels lie in the movie.
enum class PixelKind {
    rgb24,     // "raw " depth 24: top row first, R G B
    bgr24,     // "WRLE" depth 24: bottom row first, B G R, as the AVI holds them
    argb32,    // "raw " depth 32: top row first, A R G B
    rgb555,    // "raw " depth 16: top row first, big-endian 0RRRRRGG GGGBBBBB
    indexed8,  // "raw " depth 8 with a colour table, or 40 (grey): top row first, one byte a pixel
};

struct PixelLayout {
    PixelKind kind = PixelKind::rgb24;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;       // bytes from one stored row to the next
    std::size_t frame_bytes = 0;  // stride x height: what a frame takes in the movie
    int bit_count = 24;           // of the frames the AVI file holds: 24, or 32 with alpha
    unsigned char palette[256][3] = {};  // indexed8: B G R of each value

    // Whether the frames can go on exactly as the fast paths take them:
    // packed 24-bit rows.
    bool packed24() const
    {
        return (kind == PixelKind::rgb24 || kind == PixelKind::bgr24) && stride == std::size_t(width) * 3;
    }
};

// Converts rows [first_row, first_row + rows) of the frame the AVI file
// holds (counted bottom up: 3 bytes a pixel, B G R, or 4 with alpha, B G R
// A) from one frame as the movie stores it, written one after another at
// `destination`.
void movie_rows_to_frame(const PixelLayout& layout, const unsigned char* source, unsigned char* destination,
                         int first_row, int rows);
