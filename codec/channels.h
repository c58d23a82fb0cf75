// A coded frame's channels: the channel offsets after the frame's head and
// the channel streams one after another, written and read for every frame
// type that codes planes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/status.h"
#include "entropy/compress.h"

// The bytes of a frame before its first channel stream: `fixed` bytes of
// its own (type and the like), then the offsets of channels 2 on.
[[nodiscard]] constexpr std::uint32_t channels_head(std::uint32_t fixed, int count)
{
    return fixed + 4 * std::uint32_t(count - 1);
}

// The most channels a frame has: two a plane of four planes.
constexpr int max_channels = 8;

// Codes `count` channels (1 to max_channels) of length[c] bytes at planes[c] into `out`, whose
// first `head` bytes end with the channel offsets, and returns the frame's
// length. The channels are coded side by side, each at the place its
// stream would take at its longest, then moved down behind the one before
// it: every stream keeps within compact_bound(), so the frame keeps within
// the head and that room for each channel. The bytes are those of coding
// each channel alone, whatever channels go side by side. `scratch` holds
// the channels' bytes together.
unsigned int compact_channels(Compress& compactor, int count, const unsigned char* const planes[],
                              const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                              unsigned char* out);

// Reads the offsets of a frame of `size` bytes and restores its `count`
// channels of length[c] bytes into planes[c]; `scratch` holds the channels'
// bytes together. Channel c's stream runs from its offset to the next one,
// the last to the frame's end: offsets out of order or past the frame are
// refused, and so is a frame shorter than its head.
[[nodiscard]] Status uncompact_channels(Compress& compactor, const unsigned char* frame, std::size_t size,
                                        std::uint32_t head, int count, unsigned char* const planes[],
                                        const unsigned int length[], unsigned char* scratch);

// The starts of a frame's `count` channel streams and, in starts[count],
// its end, refused as uncompact_channels() refuses them.
[[nodiscard]] Status channel_starts(const unsigned char* frame, std::size_t size, std::uint32_t head, int count,
                                    std::size_t starts[]);

// Frames of planes of deep samples whose low-byte channels are prefix
// coded: the `planes` low channels first, each a prefix stream, then the
// high ones, each a channel stream, all side by side. channel[] and
// length[] are in deep_channels() order (each plane's low, then high); the
// rest is as for compact_channels(), within the same bound.
unsigned int compact_prefix_channels(Compress& compactor, int planes, const unsigned char* const channel[],
                                     const unsigned int length[], std::uint32_t head, unsigned char* scratch,
                                     unsigned char* out);
[[nodiscard]] Status uncompact_prefix_channels(Compress& compactor, const unsigned char* frame, std::size_t size,
                                               std::uint32_t head, int planes, unsigned char* const channel[],
                                               const unsigned int length[], unsigned char* scratch);
