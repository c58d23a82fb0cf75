#include "quicktime/pixel_layouts.h"

#include <cstring>

#include "common/cpu.h"
#include "quicktime/deep_rows.h"
#include "quicktime/ycbcr_rows.h"

namespace {

// Rows reversed and channels exchanged in one pass over each row, so the
// frame is read and written once.
REELPACK_INLINE void reverse_rgb_rows(const unsigned char* source, std::size_t stride, unsigned char* destination,
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

void reverse_rgb_plain(const unsigned char* source, std::size_t stride, unsigned char* destination, int width,
                       int height, int first_row, int rows)
{
    reverse_rgb_rows(source, stride, destination, width, height, first_row, rows);
}

#ifdef REELPACK_X86_COPIES
// Exchanging the bytes of three-byte pixels takes shuffles that AVX2 has.
REELPACK_TARGET("avx2")
void reverse_rgb_avx2(const unsigned char* source, std::size_t stride, unsigned char* destination, int width,
                      int height, int first_row, int rows)
{
    reverse_rgb_rows(source, stride, destination, width, height, first_row, rows);
}
#endif

// "raw " 24: top row first, R G B.
void rgb24_rows(const PixelLayout& layout, const unsigned char* source, unsigned char* destination, int first_row,
                int rows)
{
    const int width = layout.width;
    const int height = layout.height;
    if (width <= 0 || height <= 0 || first_row < 0 || rows <= 0 || rows > height - first_row) {
        return;
    }
#ifdef REELPACK_X86_COPIES
    if (cpu_has_avx2()) {
        reverse_rgb_avx2(source, layout.stride, destination, width, height, first_row, rows);
        return;
    }
#endif
    reverse_rgb_plain(source, layout.stride, destination, width, height, first_row, rows);
}

// Calls convert_row(stored row, AVI row, width) for each row asked for,
// the stored rows taken in the layout's order.
template <typename ConvertRow>
REELPACK_INLINE void each_row(const PixelLayout& layout, const unsigned char* source, unsigned char* destination,
                              int first_row, int rows, ConvertRow convert_row)
{
    const std::size_t width = std::size_t(layout.width);
    const std::size_t out_row = width * std::size_t(layout.bit_count / 8);
    for (int y = first_row; y < first_row + rows; ++y) {
        const int stored = layout.format->top_down ? layout.height - 1 - y : y;
        convert_row(source + layout.stride * std::size_t(stored), destination + out_row * std::size_t(y - first_row),
                    width);
    }
}

// Pixels stored B G R (A) as the AVI holds them ("WRLE", "24BG", "BGRA"):
// the rows are copied, in the AVI's order.
void same_order_rows(const PixelLayout& layout, const unsigned char* source, unsigned char* destination,
                     int first_row, int rows)
{
    const std::size_t pixel_bytes = std::size_t(layout.format->pixel_bytes);
    each_row(layout, source, destination, first_row, rows,
             [pixel_bytes](const unsigned char* from, unsigned char* to, std::size_t width) {
                 std::memcpy(to, from, pixel_bytes * width);
             });
}

// 32-bit pixels whose blue, green, red and alpha lie at bytes B, G, R and
// A of the stored pixel, the alpha kept.
template <int B, int G, int R, int A>
void reorder32_rows(const PixelLayout& layout, const unsigned char* source, unsigned char* destination, int first_row,
                    int rows)
{
    each_row(layout, source, destination, first_row, rows,
             [](const unsigned char* from, unsigned char* to, std::size_t width) {
                 for (std::size_t x = 0; x < width; ++x) {
                     to[4 * x] = from[4 * x + B];
                     to[4 * x + 1] = from[4 * x + G];
                     to[4 * x + 2] = from[4 * x + R];
                     to[4 * x + 3] = from[4 * x + A];
                 }
             });
}

// "raw " 32 (A R G B), "RGBA" and "ABGR".
constexpr ConvertRows argb32_rows = reorder32_rows<3, 2, 1, 0>;
constexpr ConvertRows rgba32_rows = reorder32_rows<2, 1, 0, 3>;
constexpr ConvertRows abgr32_rows = reorder32_rows<1, 2, 3, 0>;

// Five or six bits of a colour widened to eight as a player widens them:
// the top bits repeated below, so that the largest value becomes 255.
template <int bits>
inline unsigned char widen(unsigned v)
{
    return static_cast<unsigned char>((v << (8 - bits)) | (v >> (2 * bits - 8)));
}

// Big-endian 16-bit pixels, five bits of blue below `green_bits` of green
// and five of red: "raw " 16 is 0RRRRRGG GGGBBBBB, "B565" RRRRRGGG GGGBBBBB.
template <int green_bits>
void rgb16_rows(const PixelLayout& layout, const unsigned char* source, unsigned char* destination, int first_row,
                int rows)
{
    each_row(layout, source, destination, first_row, rows,
             [](const unsigned char* from, unsigned char* to, std::size_t width) {
                 for (std::size_t x = 0; x < width; ++x) {
                     const unsigned v = (unsigned(from[2 * x]) << 8) | from[2 * x + 1];
                     to[3 * x] = widen<5>(v & 31);
                     to[3 * x + 1] = widen<green_bits>((v >> 5) & ((1u << green_bits) - 1));
                     to[3 * x + 2] = widen<5>((v >> (5 + green_bits)) & 31);
                 }
             });
}

constexpr ConvertRows rgb555_rows = rgb16_rows<5>;
constexpr ConvertRows rgb565_rows = rgb16_rows<6>;

// One byte a pixel, through the layout's palette.
void palette_rows(const PixelLayout& layout, const unsigned char* source, unsigned char* destination, int first_row,
                  int rows)
{
    each_row(layout, source, destination, first_row, rows,
             [&layout](const unsigned char* from, unsigned char* to, std::size_t width) {
                 for (std::size_t x = 0; x < width; ++x) {
                     std::memcpy(to + 3 * x, layout.palette[from[x]], 3);
                 }
             });
}

// The 10-bit Y'CbCr layouts' black, Y' 64 and Cb, Cr 512, for the bytes a
// cut-short movie lacks: a "v210" group of 48 pixels, whose samples
// alternate chroma and Y' three to a little-endian word, and a "v410" word.
struct V210Group {
    char bytes[128];
};

constexpr V210Group v210_black()
{
    V210Group group{};
    for (int word = 0; word < 32; ++word) {
        std::uint32_t v = 0;
        for (int j = 0; j < 3; ++j) {
            v |= std::uint32_t((3 * word + j) % 2 != 0 ? 64 : 512) << (10 * j);
        }
        for (int b = 0; b < 4; ++b) {
            group.bytes[4 * word + b] = static_cast<char>(v >> (8 * b) & 0xFF);
        }
    }
    return group;
}

constexpr V210Group black_v210 = v210_black();

// "WRLE" rows are padded to four bytes, the others to even lengths. Packed
// 24-bit frames go on as stored: "WRLE" frames are already the AVI's, and
// the codec reads "raw " frames in their own order, so that the compressed
// mode does not convert them first. The other layouts are stored top down
// in orders the codec does not read: their rows are turned over as they
// are converted.
constexpr PixelFormat pixel_formats[] = {
    // format, depth, kind, bytes, align, top down, conversion, bits, -u code, AVI as stored, codec as stored, order
    {"raw ", 24, PixelKind::rgb, 3, 2, true, rgb24_rows, 24, 0, false, true, PixelOrder::movie},
    {"WRLE", 24, PixelKind::rgb, 3, 4, false, same_order_rows, 24, 0, true, true, PixelOrder::frame},
    {"24BG", 24, PixelKind::rgb, 3, 2, true, same_order_rows, 24, 0, false, false, PixelOrder::frame},
    {"raw ", 32, PixelKind::rgb, 4, 2, true, argb32_rows, 32, 0, false, false, PixelOrder::frame},
    {"BGRA", 32, PixelKind::rgb, 4, 2, true, same_order_rows, 32, 0, false, false, PixelOrder::frame},
    {"RGBA", 32, PixelKind::rgb, 4, 2, true, rgba32_rows, 32, 0, false, false, PixelOrder::frame},
    {"ABGR", 32, PixelKind::rgb, 4, 2, true, abgr32_rows, 32, 0, false, false, PixelOrder::frame},
    {"B565", 16, PixelKind::rgb, 2, 2, true, rgb565_rows, 24, 0, false, false, PixelOrder::frame},
    {"raw ", 16, PixelKind::rgb, 2, 2, true, rgb555_rows, 24, 0, false, false, PixelOrder::frame},
    {"raw ", 8, PixelKind::indexed, 1, 2, true, palette_rows, 24, 0, false, false, PixelOrder::frame},
    {"raw ", 40, PixelKind::grey, 1, 2, true, palette_rows, 24, 0, false, false, PixelOrder::frame},
    // Y'CbCr, of any depth, at the stride their frames' size shows: the -u
    // AVI file holds their own packing (then: pixels a group, black, planes).
    {"2vuy", 0, PixelKind::ycbcr, 2, 0, true, ycbcr_rows, 16, fourcc("UYVY"), true, false, PixelOrder::frame, 2,
     "\x80\x10\x80\x10", &planes_2vuy},
    {"yuvs", 0, PixelKind::ycbcr, 2, 0, true, ycbcr_rows, 16, fourcc("YUY2"), true, false, PixelOrder::frame, 2,
     "\x10\x80\x10\x80", &planes_yuvs},
    {"yuv2", 0, PixelKind::ycbcr, 2, 0, true, yuv2_rows, 16, fourcc("YUY2"), false, false, PixelOrder::frame, 2,
     "\x10\x00\x10\x00", &planes_yuv2},
    {"v308", 0, PixelKind::ycbcr, 3, 0, true, ycbcr_rows, 24, fourcc("v308"), true, false, PixelOrder::frame, 1,
     "\x80\x10\x80", &planes_v308},
    {"v408", 0, PixelKind::ycbcr, 4, 0, true, ycbcr_rows, 32, fourcc("v408"), true, false, PixelOrder::frame, 1,
     "\x80\x10\x80\x00", &planes_v408},
    // 10-bit samples in 32-bit words, rows of whole groups as ffmpeg reads
    // them ("v210" 48 pixels in 128 bytes, "r210" and "AVrp" 64 pixels), at
    // the stride their frames' size shows: the -u AVI file holds their own
    // packing, its padding zero (then: pixels a group, black, no 8-bit planes:
    // the codec's are quicktime/deep_planes.cpp's).
    {"v210", 0, PixelKind::ycbcr, 4, 0, true, deep_rows, 20, fourcc("v210"), false, false, PixelOrder::frame, 48,
     black_v210.bytes, nullptr, 128, &rows_v210, 10},
    {"v410", 0, PixelKind::ycbcr, 4, 0, true, deep_rows, 32, fourcc("v410"), false, false, PixelOrder::frame, 1,
     "\x00\x08\x04\x80", nullptr, 0, &rows_v410, 10},
    {"r210", 0, PixelKind::rgb, 4, 0, true, deep_rows, 32, fourcc("r210"), false, false, PixelOrder::frame, 64,
     nullptr, nullptr, 0, &rows_r210, 10},
    {"R10k", 0, PixelKind::rgb, 4, 0, true, deep_rows, 32, fourcc("R10k"), false, false, PixelOrder::frame, 1,
     nullptr, nullptr, 0, &rows_r10k, 10},
    {"AVrp", 0, PixelKind::rgb, 4, 0, true, deep_rows, 32, fourcc("AVrp"), false, false, PixelOrder::frame, 64,
     nullptr, nullptr, 0, &rows_avrp, 10},
    // 16-bit big-endian samples, all of whose bits are the sample's: the -u
    // AVI file holds the movie's rows, under the movie's own data format.
    {"b48r", 0, PixelKind::rgb, 6, 0, true, ycbcr_rows, 48, fourcc("b48r"), true, false, PixelOrder::frame, 1,
     nullptr, nullptr, 0, nullptr, 16},
    {"b64a", 0, PixelKind::rgb, 8, 0, true, ycbcr_rows, 64, fourcc("b64a"), true, false, PixelOrder::frame, 1,
     nullptr, nullptr, 0, nullptr, 16},
    {"b16g", 0, PixelKind::rgb, 2, 0, true, ycbcr_rows, 16, fourcc("b16g"), true, false, PixelOrder::frame, 1,
     nullptr, nullptr, 0, nullptr, 16},
};

// Uncompressed layouts that have no row yet, whose movies are refused as
// such: a layout leaves this list when its row is added to the table.
constexpr char layouts_not_read_yet[][5] = {
    "L555", "L565",
};

// Compressed video, whose movies are refused with the way to an
// uncompressed one.
constexpr char compressed_formats[][5] = {
    "avc1", "avc3", "hvc1", "hev1", "mp4v", "mp2v", "mpeg", "h263", "s263", "vp08", "vp09", "av01",
    "jpeg", "mjpa", "mjpb", "png ", "tiff", "gif ", "rle ", "smc ", "rpza", "cvid", "SVQ1", "SVQ3",
    "apco", "apcs", "apcn", "apch", "ap4h", "ap4x", "icod", "AVdn", "AVdh", "AVd1",
    "dvc ", "dvcp", "dvpp", "dv5n", "dv5p", "dvh2", "dvh3", "dvh5", "dvh6", "dvhp", "dvhq",
    "xd54", "xd55", "xd5b", "xd5c", "xdv7", "hdv1", "hdv2", "hdv3", "hdv5", "hdv6",
};

template <std::size_t entries>
bool listed(const char (&list)[entries][5], const char* data_format)
{
    for (const char* entry : list) {
        if (std::memcmp(entry, data_format, 4) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

UnreadVideo unread_video(const char* data_format)
{
    if (listed(compressed_formats, data_format)) {
        return UnreadVideo::compressed;
    }
    return listed(layouts_not_read_yet, data_format) ? UnreadVideo::uncompressed : UnreadVideo::unknown;
}

const PixelFormat* find_pixel_format(const char* data_format, int depth)
{
    for (const PixelFormat& format : pixel_formats) {
        if (std::memcmp(format.data_format, data_format, 4) == 0 && (format.depth == depth || format.depth == 0)) {
            return &format;
        }
    }
    return nullptr;
}

bool known_data_format(const char* data_format)
{
    for (const PixelFormat& format : pixel_formats) {
        if (std::memcmp(format.data_format, data_format, 4) == 0) {
            return true;
        }
    }
    return false;
}

PixelLayout pixel_layout(const PixelFormat& format, int width, int height)
{
    PixelLayout layout;
    layout.format = &format;
    layout.width = width;
    layout.height = height;
    layout.stride = packed_row(format, width);
    layout.frame_bytes = layout.stride * std::size_t(height);
    layout.bit_count = format.bit_count;
    // Rows of whole groups of pixels, bit_count bits each; packed words
    // stay as they are.
    layout.row_bytes = format.deep != nullptr
                           ? layout.stride
                           : (layout.stride / std::size_t(format.pixel_bytes)) * std::size_t(format.bit_count / 8);
    return layout;
}
