// The frame decoder on any bytes, and the round trip of any pixels: coded,
// decoded, compared, and coded again by the same instance to the same bytes.
//   byte 0: width - 1 (mod 32), byte 1: height - 1 (mod 32), byte 2: mode,
//   the rest: a coded frame (odd modes) or pixels (even modes).
// Mode bit 1 chooses 32-bit pixels over 24-bit ones; bits 2 to 4, when 1
// to 6, a plane layout (1 4:2:2, 2 4:4:4, 3 4:4:4 with alpha, 4 RGB, 5 RGB
// with alpha, 6 grey) instead, whose pictures are its planes packed one
// after another, and bits 5 to 7 the bits of their samples: 8, 9, 10, 12,
// 14, 16, 11, 15 (wider than 8 as host-order words, their pixels cut to
// those bits).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "codec/decoder.h"

namespace {

struct Frames {
    TarvicDecoder decoder;
    CodecInst codec;
    bool planes = false;

    Status begin(int width, int height, int mode)
    {
        const int layout = (mode >> 2) & 7;
        planes = layout != 0 && layout != 7;
        if (planes) {
            const int depths[8] = {8, 9, 10, 12, 14, 16, 11, 15};
            const int bits = depths[(mode >> 5) & 7];
            const PlaneLayout chosen = static_cast<PlaneLayout>(layout);
            const Status status = decoder.BeginPlanes(width, height, chosen, bits);
            return status != Status::ok ? status : codec.BeginPlanes(width, height, chosen, bits);
        }
        const int bits = (mode & 2) != 0 ? 32 : 24;
        codec.keep_alpha = bits == 32;
        const Status status = decoder.DecompressBegin(width, height, bits);
        return status != Status::ok ? status : codec.CompressBegin(width, height, bits);
    }
    std::size_t bound() const
    {
        return planes ? tarvic_planes_bound(codec.width, codec.height, codec.layout, codec.shape.bits)
                      : tarvic_frame_bound(codec.width, codec.height, codec.bit_count);
    }
    Status decode(const unsigned char* frame, std::size_t size, std::vector<unsigned char>& picture)
    {
        return planes ? decoder.DecompressPlanes(frame, size, packed_picture(decoder.shape, picture.data()))
                      : decoder.Decompress(frame, size, picture.data());
    }
    std::size_t code(std::vector<unsigned char>& pixels, std::vector<unsigned char>& out)
    {
        std::size_t size = 0;
        if (planes) {
            if (codec.CompressPlanes(packed_picture(codec.shape, pixels.data()), out.data(), size) != Status::ok) {
                __builtin_trap();
            }
            return size;
        }
        ICCOMPRESS block{};
        block.lpInput = pixels.data();
        block.lpOutput = out.data();
        codec.CompressContinue(&block, 0);
        return block.dwSize;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    const int width = 1 + data[0] % 32;
    const int height = 1 + data[1] % 32;
    const int mode = data[2];
    data += 3;
    size -= 3;
    Frames frames;
    if (frames.begin(width, height, mode) != Status::ok) {
        __builtin_trap();
    }
    std::vector<unsigned char> picture(frames.decoder.picture_bytes, 0);
    if ((mode & 1) != 0) {
        (void)frames.decode(data, size, picture);
        return 0;
    }
    std::vector<unsigned char> pixels(picture.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = size > 0 ? data[i % size] : 0;
    }
    // Samples wider than 8 bits hold no more than their bits, as a picture
    // handed to the codec does.
    const int bits = frames.planes ? frames.codec.shape.bits : 8;
    for (std::size_t i = 0; bits > 8 && i < pixels.size(); i += 2) {
        std::uint16_t sample = 0;
        std::memcpy(&sample, &pixels[i], 2);
        sample = static_cast<std::uint16_t>(sample & ((1u << bits) - 1));
        std::memcpy(&pixels[i], &sample, 2);
    }
    std::vector<unsigned char> first(frames.bound());
    std::vector<unsigned char> second(first.size());
    const std::size_t first_size = frames.code(pixels, first);
    if (frames.decode(first.data(), first_size, picture) != Status::ok || picture != pixels) {
        __builtin_trap();  // not lossless
    }
    if (frames.code(pixels, second) != first_size || std::memcmp(first.data(), second.data(), first_size) != 0) {
        __builtin_trap();  // not deterministic
    }
    return 0;
}
