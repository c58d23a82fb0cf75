#include "codec/channels.h"

#include <cstring>

#include "common/byte_order.h"

namespace {

// The order in which channels are coded side by side. Up to
// max_side_by_side they all go at once. A frame of more has two a plane:
// its planes' low bytes, which hold nearly all the work, and their high
// bytes, mostly runs of zeros; grouped in channel order, a low channel
// would run beside high ones that end at once, or alone, so the low bytes
// go side by side first and the high bytes after them. The streams lie in
// channel order whatever the order of coding.
void coding_order(int count, int order[])
{
    if (count <= max_side_by_side) {
        for (int c = 0; c < count; ++c) {
            order[c] = c;
        }
        return;
    }
    int at = 0;
    for (int c = 0; c < count; c += 2) {
        order[at++] = c;
    }
    for (int c = 1; c < count; c += 2) {
        order[at++] = c;
    }
}

// Runs `code(group, channels)` over the channels in coding order, at most
// max_side_by_side at once, until one does not return ok.
template <typename Code>
Status in_groups(int count, Code code)
{
    int order[max_channels];
    coding_order(count, order);
    for (int first = 0; first < count; first += max_side_by_side) {
        const int group = count - first < max_side_by_side ? count - first : max_side_by_side;
        if (const Status status = code(group, order + first); status != Status::ok) {
            return status;
        }
    }
    return Status::ok;
}

}  // namespace

unsigned int compact_channels(Compress& compactor, int count, const unsigned char* const planes[],
                              const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                              unsigned char* out)
{
    // Each channel is coded at its room: where its stream would start if
    // every stream before it took its longest.
    unsigned char* streams[max_channels] = {};
    unsigned char* runs[max_channels] = {};
    std::size_t at = head;
    std::size_t run_at = 0;
    for (int c = 0; c < count; ++c) {
        streams[c] = out + at;
        runs[c] = scratch + run_at;
        at += compact_bound(length[c]);
        run_at += length[c];
    }
    unsigned int reported[max_channels] = {};
    (void)in_groups(count, [&](int group, const int* channels) {
        const unsigned char* in[max_side_by_side] = {};
        unsigned int lengths[max_side_by_side] = {};
        unsigned char* to[max_side_by_side] = {};
        unsigned char* run[max_side_by_side] = {};
        unsigned int sizes[max_side_by_side] = {};
        for (int k = 0; k < group; ++k) {
            const int c = channels[k];
            in[k] = planes[c], lengths[k] = length[c], to[k] = streams[c], run[k] = runs[c];
        }
        compactor.compact_side_by_side(group, in, lengths, to, run, sizes);
        for (int k = 0; k < group; ++k) {
            reported[channels[k]] = sizes[k];
        }
        return Status::ok;
    });
    // Then each stream, in channel order, moves down behind the one before
    // it: a stream keeps within its room, so none is overwritten before it
    // has moved.
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

Status channel_starts(const unsigned char* frame, std::size_t size, std::uint32_t head, int count,
                      std::size_t starts[])
{
    if (size < head) {
        return Status::truncated;
    }
    const unsigned char* offsets = frame + head - 4 * (count - 1);
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
    return Status::ok;
}

Status uncompact_channels(Compress& compactor, const unsigned char* frame, std::size_t size, std::uint32_t head,
                          int count, unsigned char* const planes[], const unsigned int length[],
                          unsigned char* scratch)
{
    std::size_t starts[max_channels + 1];
    if (const Status status = channel_starts(frame, size, head, count, starts); status != Status::ok) {
        return status;
    }
    unsigned char* runs[max_channels] = {};
    std::size_t run_at = 0;
    for (int c = 0; c < count; ++c) {
        runs[c] = scratch + run_at;
        run_at += length[c];
    }
    return in_groups(count, [&](int group, const int* channels) {
        const unsigned char* streams[max_side_by_side] = {};
        std::size_t stream_sizes[max_side_by_side] = {};
        unsigned char* to[max_side_by_side] = {};
        unsigned int lengths[max_side_by_side] = {};
        unsigned char* run[max_side_by_side] = {};
        for (int k = 0; k < group; ++k) {
            const int c = channels[k];
            streams[k] = frame + starts[c];
            stream_sizes[k] = starts[c + 1] - starts[c];
            to[k] = planes[c], lengths[k] = length[c], run[k] = runs[c];
        }
        return compactor.uncompact_side_by_side(group, streams, stream_sizes, to, lengths, run);
    });
}
