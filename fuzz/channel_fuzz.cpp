// Channel streams and their count tables on any bytes.
//   bytes 0 and 1: the channel's length (little-endian), the rest: the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "entropy/compress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const unsigned length = data[0] | (data[1] << 8);
    Compress compress;
    if (!compress.InitCompressBuffers(length)) {
        return 0;
    }
    std::vector<unsigned char> out(length + 1);
    (void)compress.uncompact(data + 2, size - 2, out.data(), length);
    return 0;
}
