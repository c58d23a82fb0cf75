#include "codec/channels.h"

#include <cstring>

#include "common/byte_order.h"

unsigned int compact_channels(Compress& compactor, int count, const unsigned char* const planes[],
                              const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                              unsigned char* out)
{
    unsigned char* offsets = out + head - 4 * (count - 1);
    std::uint32_t offset = head;
    std::size_t run_at = 0;
    // The range coders run side by side at most max_side_by_side at once;
    // more channels go in groups, each group's streams placed after the
    // streams before it, which keeps every stream within its room.
    for (int first = 0; first < count; first += max_side_by_side) {
        const int group = count - first < max_side_by_side ? count - first : max_side_by_side;
        unsigned char* streams[max_side_by_side] = {};
        unsigned char* runs[max_side_by_side] = {};
        std::size_t at = offset;
        for (int c = 0; c < group; ++c) {
            streams[c] = out + at;
            runs[c] = scratch + run_at;
            at += compact_bound(length[first + c]);
            run_at += length[first + c];
        }
        unsigned int reported[max_side_by_side] = {};
        compactor.compact_side_by_side(group, planes + first, length + first, streams, runs, reported);
        for (int c = 0; c < group; ++c) {
            if (first + c > 0) {
                put_le32(offsets + 4 * (first + c - 1), offset);
                std::memmove(out + offset, streams[c], reported[c]);
            }
            offset += reported[c];
        }
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
    std::size_t starts[max_channels + 1];
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
    std::size_t run_at = 0;
    for (int first = 0; first < count; first += max_side_by_side) {
        const int group = count - first < max_side_by_side ? count - first : max_side_by_side;
        const unsigned char* streams[max_side_by_side] = {};
        std::size_t stream_sizes[max_side_by_side] = {};
        unsigned char* runs[max_side_by_side] = {};
        for (int c = 0; c < group; ++c) {
            streams[c] = frame + starts[first + c];
            stream_sizes[c] = starts[first + c + 1] - starts[first + c];
            runs[c] = scratch + run_at;
            run_at += length[first + c];
        }
        const Status status =
            compactor.uncompact_side_by_side(group, streams, stream_sizes, planes + first, length + first, runs);
        if (status != Status::ok) {
            return status;
        }
    }
    return Status::ok;
}
