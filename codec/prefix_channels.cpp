// The channels of frames of type 12: deep planes' low bytes prefix coded,
// their high bytes, nearly all 0, as channel streams.
#include <cstring>

#include "codec/channels.h"
#include "common/byte_order.h"
#include "entropy/prefix.h"

unsigned int compact_prefix_channels(Compress& compactor, int planes, const unsigned char* const channel[],
                                     const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                                     unsigned char* out)
{
    unsigned char* offsets = out + head - 4 * (2 * planes - 1);
    std::size_t at = head;
    for (int k = 0; k < planes; ++k) {
        if (k > 0) {
            put_le32(offsets + 4 * (k - 1), static_cast<std::uint32_t>(at));
        }
        at += prefix_encode(channel[2 * k], length[2 * k], out + at);
    }
    // The high channels side by side, each at the place its stream would
    // take if the ones before it took their longest, then moved down: a
    // prefix stream is shorter than a channel stream's bound, so all of it
    // keeps within the frame's bound.
    const unsigned char* in[max_side_by_side] = {};
    unsigned int lengths[max_side_by_side] = {};
    unsigned char* to[max_side_by_side] = {};
    unsigned char* run[max_side_by_side] = {};
    unsigned int sizes[max_side_by_side] = {};
    std::size_t room = at;
    for (int k = 0; k < planes; ++k) {
        in[k] = channel[2 * k + 1], lengths[k] = length[2 * k + 1];
        to[k] = out + room, run[k] = scratch;
        room += compact_bound(lengths[k]);
        scratch += lengths[k];
    }
    compactor.compact_side_by_side(planes, in, lengths, to, run, sizes);
    for (int k = 0; k < planes; ++k) {
        put_le32(offsets + 4 * (planes + k - 1), static_cast<std::uint32_t>(at));
        std::memmove(out + at, to[k], sizes[k]);
        at += sizes[k];
    }
    return static_cast<unsigned int>(at);
}

Status uncompact_prefix_channels(Compress& compactor, const unsigned char* frame, std::size_t size,
                                 std::uint32_t head, int planes, unsigned char* const channel[],
                                 const unsigned int length[], unsigned char* scratch)
{
    std::size_t starts[max_channels + 1];
    if (const Status status = channel_starts(frame, size, head, 2 * planes, starts); status != Status::ok) {
        return status;
    }
    for (int k = 0; k < planes; ++k) {
        const Status status = prefix_decode(frame + starts[k], starts[k + 1] - starts[k], channel[2 * k], length[2 * k]);
        if (status != Status::ok) {
            return status;
        }
    }
    const unsigned char* streams[max_side_by_side] = {};
    std::size_t stream_sizes[max_side_by_side] = {};
    unsigned char* to[max_side_by_side] = {};
    unsigned int lengths[max_side_by_side] = {};
    unsigned char* run[max_side_by_side] = {};
    for (int k = 0; k < planes; ++k) {
        streams[k] = frame + starts[planes + k];
        stream_sizes[k] = starts[planes + k + 1] - starts[planes + k];
        to[k] = channel[2 * k + 1], lengths[k] = length[2 * k + 1], run[k] = scratch;
        scratch += lengths[k];
    }
    return compactor.uncompact_side_by_side(planes, streams, stream_sizes, to, lengths, run);
}
