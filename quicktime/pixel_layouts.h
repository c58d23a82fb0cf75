// The pixel layouts of the movies reelpack converts: one table from a
// sample description's (data format, depth) to how a frame's pixels lie in
// the movie, the conversion that turns its stored rows into the rows the
// AVI file holds, and what the AVI file says about its frames. A new
// layout is a new row of the table.
//
// Frames of RGB layouts reach the AVI writer and the codec bottom row
// first, each pixel blue, green, red (and alpha where the AVI frames have 32
// bits), rows packed with no gap. Y'CbCr layouts keep their samples: the
// -u AVI file holds their rows top row first in a Y'CbCr packing, and the
// codec takes them as planes (codec/planes.h). So do the 10- and 16-bit
// layouts, RGB among them, whose -u AVI file holds the movie's packing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/planes.h"
#include "codec/predict.h"
#include "common/failure.h"

struct PixelLayout;
struct YcbcrPlanes;
struct DeepRows;

// Converts rows [first_row, first_row + rows) of the frame the AVI file
// holds (counted in its order: bottom up for RGB, top down for Y'CbCr) from
// one frame as the movie stores it, written one after another at
// `destination`.
using ConvertRows = void (*)(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination,
                             int first_row, int rows);

// What a pixel's stored bytes are.
enum class PixelKind {
    rgb,      // colour components, of the layout's own order and size ("b16g": 16-bit grey, 0 black)
    ycbcr,    // Y', Cb and Cr samples (and alpha), of 8 bits or, packed in words, 10
    indexed,  // one byte, the number of a colour in the description's colour table
    grey,     // one byte, from white at 0 to black at 255
};

struct PixelFormat {
    char data_format[5];
    int depth;  // 0: any, the data format alone saying how the samples lie
    // How a frame's pixels lie in the movie.
    PixelKind kind;
    int pixel_bytes;    // of one stored pixel
    int row_alignment;  // rows may be padded to a multiple of this many bytes (0: to any stride)
    bool top_down;      // the top row stored first
    // How its rows become the AVI file's.
    ConvertRows convert;
    // What the AVI file says about its frames.
    int bit_count;                // of the frames the AVI file holds
    std::uint32_t plain_code;     // the compression code of -u frames: 0, a plain bitmap
    bool avi_holds_stored;        // packed rows are already the -u frames
    bool codec_reads_stored;      // packed rows go to the codec as stored, read in codec_order
    PixelOrder codec_order;
    // Y'CbCr layouts: pixels stored in groups (rows hold whole groups), the
    // stored bytes of a black group, which stand for bytes the movie does
    // not hold (null: zeros), and the codec's planes (null for RGB).
    int pixel_group = 1;  // 2 where two pixels share their chroma
    const char* black = nullptr;
    const YcbcrPlanes* planes = nullptr;
    // Layouts of 10-bit samples in 32-bit words: the bytes of a group of
    // pixel_group pixels (0: pixel_group x pixel_bytes), and the samples'
    // place in the words.
    int group_bytes = 0;
    const DeepRows* deep = nullptr;
    // Bits of a sample; the codec takes those of more than 8 as the planes
    // of quicktime/deep_planes.h.
    int sample_bits = 8;
};

// The four-byte code `c` as a little-endian 32-bit field holds it.
constexpr std::uint32_t fourcc(const char (&c)[5])
{
    return std::uint32_t(std::uint8_t(c[0])) | std::uint32_t(std::uint8_t(c[1])) << 8 |
           std::uint32_t(std::uint8_t(c[2])) << 16 | std::uint32_t(std::uint8_t(c[3])) << 24;
}

// Bytes of a stored row of `width` pixels with no padding: whole groups.
constexpr std::size_t packed_row(const PixelFormat& format, int width)
{
    const std::size_t group = std::size_t(format.pixel_group);
    const std::size_t group_bytes =
        format.group_bytes > 0 ? std::size_t(format.group_bytes) : group * std::size_t(format.pixel_bytes);
    return (std::size_t(width) + group - 1) / group * group_bytes;
}

// The row for (data format, depth), or null when the table has none.
const PixelFormat* find_pixel_format(const char* data_format, int depth);

// Whether any row is of `data_format`: a movie of any other format is not
// uncompressed video reelpack knows.
bool known_data_format(const char* data_format);

// What the video of a data format that is not known is: compressed, an
// uncompressed layout with no row yet, or neither.
UnreadVideo unread_video(const char* data_format);

// The layout of one movie's frames: its row of the table and its sizes.
struct PixelLayout {
    const PixelFormat* format = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;       // bytes from one stored row to the next
    std::size_t frame_bytes = 0;  // stride x height: what a frame takes in the movie
    int bit_count = 24;           // of the frames the AVI file holds
    std::size_t row_bytes = 0;    // of a row of the frames the AVI file holds uncompressed
    unsigned char palette[256][3] = {};  // indexed and grey: B G R of each value

    // Whether the stored rows have no padding.
    bool packed() const { return stride == packed_row(*format, width); }
    // Whether the codec takes the frames as stored, without a conversion.
    bool as_stored() const { return format->codec_reads_stored && packed(); }
    // Whether the frames are, as stored, what a -u AVI file holds.
    bool avi_holds_stored() const { return format->avi_holds_stored && packed(); }
    // The order in which the codec reads the frames it is given.
    PixelOrder codec_order() const { return as_stored() ? format->codec_order : PixelOrder::frame; }
};

// The layout of `format`'s frames of width x height, packed rows; the
// palette is left for the caller to fill.
PixelLayout pixel_layout(const PixelFormat& format, int width, int height);

// Converts rows [first_row, first_row + rows) of the frame the AVI file
// holds (counted in its order) from one frame as the movie stores it,
// written one after another at `destination`.
inline void movie_rows_to_frame(const PixelLayout& layout, const unsigned char* source, unsigned char* destination,
                                int first_row, int rows)
{
    layout.format->convert(layout, source, destination, first_row, rows);
}
