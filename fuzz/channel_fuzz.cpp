// Channel streams and their count tables on any bytes.
//   bytes 0 and 1: the channel's length (little-endian), the rest: the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    std::vector<unsigned char> out(data[0] | (data[1] << 8));
    (void)test::uncompact_channel(std::vector<unsigned char>(data + 2, data + size), out);
    return 0;
}
