#include "unpack/stream.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "library/tarvic.h"

namespace {

bool is_code(const unsigned char* code, const char* text) { return std::memcmp(code, text, 4) == 0; }

}  // namespace

bool describe_stream(const AviLayout& layout, VideoStream& stream)
{
    stream.tarvic = is_code(layout.compression, "TRVC");
    const bool plain = is_code(layout.compression, "\0\0\0\0");
    if ((!stream.tarvic && !plain) || (layout.bit_count != 24 && layout.bit_count != 32) || layout.width <= 0 ||
        layout.height <= 0 || tarvic_bound(layout.width, layout.height, layout.bit_count) == 0) {
        return false;
    }
    stream.row_bytes = std::size_t(layout.width) * std::size_t(layout.bit_count / 8);
    stream.frame_bytes = stream.row_bytes * std::size_t(layout.height);
    return true;
}

bool unpack_plain(const AviLayout& layout, const VideoStream& stream, const unsigned char* bytes, std::size_t size,
                  unsigned char* top, std::ptrdiff_t stride)
{
    const std::size_t row = stream.row_bytes;
    const std::size_t padded = (row + 3) & ~std::size_t(3);
    const std::size_t rows = static_cast<std::size_t>(layout.height);
    std::size_t stored;
    if (size == row * rows) {
        stored = row;
    } else if (size == padded * rows) {
        stored = padded;
    } else {
        return false;
    }
    for (std::size_t y = 0; y < rows; ++y) {
        const std::size_t from_top = layout.top_down ? y : rows - 1 - y;
        std::memcpy(top + std::ptrdiff_t(from_top) * stride, bytes + y * stored, row);
    }
    return true;
}

bool carried_sound(const AviLayout& layout, AviSound& sound)
{
    if (!layout.has_sound || layout.sound_format_size < 16) {
        return false;
    }
    const unsigned char* f = layout.sound_format;
    const unsigned tag = f[0] | (f[1] << 8);
    sound.channels = f[2] | (f[3] << 8);
    sound.rate = get_le32(f + 4);
    sound.bits = f[14] | (f[15] << 8);
    sound.is_float = tag == 3 || (tag == 0xFFFE && layout.sound_format_size >= 26 && f[24] == 3);
    if (sound.channels < 1 || sound.channels > 8 || sound.bits < 8 || sound.bits % 8 != 0 || sound.bits > 64) {
        return false;
    }
    unsigned char made[40];
    const int size = avi_sound_format(sound, made);
    return std::uint32_t(size) == layout.sound_format_size && std::memcmp(made, f, std::size_t(size)) == 0;
}

void print_info(const char* path, const AviLayout& layout, const VideoStream& stream)
{
    std::printf("file: %s\n", path);
    std::printf("width: %d\nheight: %d\n", layout.width, layout.height);
    std::printf("frame rate: %u/%u", layout.rate, layout.scale);
    if (layout.scale != 0) {
        std::printf(" (%.3f frames per second)", double(layout.rate) / double(layout.scale));
    }
    std::printf("\nframes: %zu\n", layout.frames.size());
    const bool alpha = layout.bit_count == 32;
    std::printf("codec: %s\n", stream.tarvic ? (alpha ? "Tarvic (TRVC), 32-bit with alpha" : "Tarvic (TRVC)")
                                              : (alpha ? "uncompressed 32-bit RGB with alpha" : "uncompressed 24-bit RGB"));
    std::printf("ffmpeg input options: -f rawvideo -pix_fmt %s -video_size %dx%d -framerate %u/%u -i -\n",
                alpha ? "bgra" : "bgr24", layout.width, layout.height, layout.rate, layout.scale == 0 ? 1u : layout.scale);
    AviSound sound;
    if (carried_sound(layout, sound)) {
        std::printf("sound: %u Hz, %d channels, %d-bit %s, %u sample frames in %zu chunks\n", sound.rate,
                    sound.channels, sound.bits, sound.is_float ? "floating point" : "linear PCM", layout.sound_length,
                    layout.sound.size());
    } else if (layout.has_sound) {
        std::printf("sound: a stream reelunpack does not carry (wave format 0x%04X)\n",
                    unsigned(layout.sound_format[0] | (layout.sound_format[1] << 8)));
    }
}
