// One channel's stream, written and read as the codec writes and reads each
// of a frame's, for the tests and the fuzz targets.
#pragma once

#include <cstddef>
#include <vector>

#include "common/status.h"
#include "entropy/compress.h"

namespace test {

// Writes the stream of `in` at `out`, which holds compact_bound(in.size())
// bytes, and returns its reported length (0 when memory cannot be had).
inline unsigned compact_channel(const std::vector<unsigned char>& in, unsigned char* out)
{
    Compress c;
    if (!c.InitCompressBuffers()) {
        return 0;
    }
    std::vector<unsigned char> scratch(in.size());  // no more room than the channel
    const unsigned char* from = in.data();
    unsigned char* run = scratch.data();
    const unsigned length = static_cast<unsigned>(in.size());
    unsigned reported = 0;
    c.compact_side_by_side(1, &from, &length, &out, &run, &reported);
    return reported;
}

// Restores out.size() bytes from `stream`.
inline Status uncompact_channel(const std::vector<unsigned char>& stream, std::vector<unsigned char>& out)
{
    Compress c;
    if (!c.InitCompressBuffers()) {
        return Status::no_memory;
    }
    std::vector<unsigned char> scratch(out.size());
    const unsigned char* from = stream.data();
    const std::size_t size = stream.size();
    unsigned char* to = out.data();
    unsigned char* run = scratch.data();
    const unsigned length = static_cast<unsigned>(out.size());
    return c.uncompact_side_by_side(1, &from, &size, &to, &length, &run);
}

}  // namespace test
