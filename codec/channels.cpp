#include "codec/channels.h"

#include <cstring>

#include "common/byte_order.h"

unsigned int compact_channels(Compress& compactor, int count, const unsigned char* const planes[],
                              const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                              unsigned char* out)
{
    unsigned char* streams[max_side_by_side] = {};
    unsigned char* runs[max_side_by_side] = {};
    std::size_t at = head;
    std::size_t run_at = 0;
    for (int c = 0; c < count; ++c) {
        streams[c] = out + at;
        runs[c] = scratch + run_at;
        at += compact_bound(length[c]);
        run_at += length[c];
    }
    unsigned int reported[max_side_by_side] = {};
    compactor.compact_side_by_side(count, planes, length, streams, runs, reported);
    unsigned char* offsets = out + head - 4 * (count - 1);
    std::uint32_t offset = head;
    for (int c = 0; c < count; ++c) {
        if (c > 0) {
            put_le32(offsets + 4 * (c - 1), offset);
            std::memmove(out + offset, streams[c], reported[c]);
        }
        offset += reported[c];
    }
    return offset;
}

Status uncompact_channels(Compress& compactor, const unsigned char* frame, std::size_t size, std::uint32_t head,
                          int count, unsigned char* const planes[], const unsigned int length[],
                          unsigned char* scratch)
{
    if (size < head) {
        return Status::truncated;
    }
    const unsigned char* offsets = frame + head - 4 * (count - 1);
    std::size_t starts[max_side_by_side + 1];
    starts[0] = head;
    for (int c = 1; c < count; ++c) {
        starts[c] = get_le32(offsets + 4 * (c - 1));
    }
    starts[count] = size;
    for (int c = 0; c < count; ++c) {
        if (starts[c + 1] < starts[c] || starts[c + 1] > size) {
            return Status::bad_offsets;
        }
    }
    const unsigned char* streams[max_side_by_side] = {};
    std::size_t stream_sizes[max_side_by_side] = {};
    unsigned char* runs[max_side_by_side] = {};
    std::size_t run_at = 0;
    for (int c = 0; c < count; ++c) {
        streams[c] = frame + starts[c];
        stream_sizes[c] = starts[c + 1] - starts[c];
        runs[c] = scratch + run_at;
        run_at += length[c];
    }
    return compactor.uncompact_side_by_side(count, streams, stream_sizes, planes, length, runs);
}
