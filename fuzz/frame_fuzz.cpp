// The frame decoder on any bytes, and the round trip of any pixels: coded,
// decoded, compared, and coded again by the same instance to the same bytes.
//   byte 0: width - 1 (mod 32), byte 1: height - 1 (mod 32), byte 2: mode,
//   the rest: a coded frame (odd modes) or pixels (even modes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "codec/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    const int width = 1 + data[0] % 32;
    const int height = 1 + data[1] % 32;
    const int mode = data[2];
    const int bits = (mode & 2) != 0 ? 32 : 24;
    data += 3;
    size -= 3;
    TarvicDecoder decoder;
    if (decoder.DecompressBegin(width, height, bits) != Status::ok) {
        __builtin_trap();
    }
    std::vector<unsigned char> picture(decoder.picture_bytes, 0);
    if ((mode & 1) != 0) {
        (void)decoder.Decompress(data, size, picture.data());
        return 0;
    }
    std::vector<unsigned char> pixels(decoder.picture_bytes);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = size > 0 ? data[i % size] : 0;
    }
    CodecInst codec;
    if (codec.CompressBegin(width, height, bits) != Status::ok) {
        __builtin_trap();
    }
    codec.keep_alpha = bits == 32;
    std::vector<unsigned char> first(tarvic_frame_bound(width, height, bits));
    std::vector<unsigned char> second(first.size());
    ICCOMPRESS block{};
    block.lpInput = pixels.data();
    block.lpOutput = first.data();
    codec.CompressContinue(&block, 0);
    const std::uint32_t first_size = block.dwSize;
    if (decoder.Decompress(first.data(), first_size, picture.data()) != Status::ok || picture != pixels) {
        __builtin_trap();  // not lossless
    }
    block.lpOutput = second.data();
    codec.CompressContinue(&block, 0);
    if (block.dwSize != first_size || std::memcmp(first.data(), second.data(), first_size) != 0) {
        __builtin_trap();  // not deterministic
    }
    return 0;
}
