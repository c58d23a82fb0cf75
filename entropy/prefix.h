// The prefix coder: a channel of bytes as a canonical prefix code of at most
// prefix_longest bits a symbol, built from the channel's own counts, its
// symbols cut into prefix_parts runs of bits that a decoder reads side by
// side. It trades a little size against the range coder for speed: one
// table lookup a symbol, and four independent chains of them.
//
// The stream: a form byte; form 0 is one value for every byte (the value
// follows: 2 bytes); form 1 has the code lengths (256 of 4 bits, two a byte,
// the even symbol in the low half), the byte lengths of the first
// prefix_parts - 1 parts (4 bytes each, little-endian; the last part runs to
// the stream's end), then the parts. Part k holds bytes [L k / 4, L (k + 1) / 4).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/status.h"

constexpr int prefix_longest = 12;
constexpr int prefix_parts = 4;
constexpr std::size_t prefix_head = 1 + 128 + 4 * (prefix_parts - 1);

// The room a stream of a channel of `length` bytes is written in: the
// reported length is at most this less 8, the bytes the writer may store
// past its end.
constexpr std::size_t prefix_bound(std::size_t length)
{
    return prefix_head + (length * prefix_longest + 7) / 8 + prefix_parts + 8;
}

// Codes `length` bytes (1 or more) into `out`, which holds
// prefix_bound(length) bytes, and returns the stream's length.
std::size_t prefix_encode(const unsigned char* in, std::size_t length, unsigned char* out);

// Restores exactly `length` bytes into `out` from a stream of `size` bytes.
// Never reads or writes out of either; a stream that is not exactly one the
// encoder could write (an incomplete or overfull code, a part that ends
// before its symbols or goes on after them) gives a status.
[[nodiscard]] Status prefix_decode(const unsigned char* in, std::size_t size, unsigned char* out,
                                   std::size_t length);

// The code lengths (0 for a count of 0, otherwise 1 to prefix_longest) of
// a code whose lengths make a complete code, from counts of which at least
// two are not 0.
void prefix_lengths(const std::uint32_t counts[256], unsigned char lengths[256]);

// The canonical codes of those lengths, shortest first and, within a
// length, in symbol order; each with its bits reversed, as the stream
// holds a code's first bit in the lowest free bit.
void prefix_codes(const unsigned char lengths[256], std::uint16_t codes[256]);
