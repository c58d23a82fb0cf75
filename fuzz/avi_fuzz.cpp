// The AVI reader of reelunpack and the decoding of what it finds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    AviLayout layout;
    if (read_avi_layout(data, size, layout).failed()) {
        return 0;
    }
    for (const AviFrameRef& f : layout.frames) {
        if (f.offset > size || f.size > size - f.offset) {
            __builtin_trap();  // the reader promised frames within the file
        }
    }
    // Small pictures only, so the fuzzer spends its time on the structure.
    if (layout.bit_count != 24 || layout.width <= 0 || layout.height <= 0 || layout.width > 256 ||
        layout.height > 256) {
        return 0;
    }
    TarvicDecoder decoder;
    if (decoder.DecompressBegin(layout.width, layout.height, 24) != Status::ok) {
        return 0;
    }
    std::vector<unsigned char> picture(decoder.picture_bytes, 0);
    for (std::size_t i = 0; i < layout.frames.size() && i < 64; ++i) {
        (void)decoder.Decompress(data + layout.frames[i].offset, layout.frames[i].size, picture.data());
    }
    return 0;
}
