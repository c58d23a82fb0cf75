// The 32-bit range coder of the channel streams, and the scaled table that
// drives it. A table is built once per channel from its 256 byte counts; the
// coder loops then read it in the forms they need: an entry per value for
// the steps of coding, and a lookup from the high bits of a code value to the
// value whose share holds it, for decoding.
//
// Several channels can be coded side by side: each has its own table, input
// and output, and the streams are exactly those that coding them one by one
// writes, but one loop advances all of them, so that the processor overlaps
// their steps instead of waiting on each one's chain of dependent operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/status.h"

// Up to this many channels are coded side by side.
constexpr int max_side_by_side = 4;

// The largest total of a scaled table, 2^23, so that range >> bits stays
// at 1 or more; a longer channel is coded with its shares scaled to it.
constexpr unsigned max_total_bits = 23;
constexpr std::uint32_t max_total = 1u << max_total_bits;

// Bits of a code value that the decoder's lookup reads.
constexpr unsigned max_lookup_bits = 12;
// Bits that the direct lookup of a dense table reads.
constexpr unsigned direct_bits = 12;

// One value's step: the range coder adds r x start to low and makes the range
// r x freq; for value 255 it also keeps what the truncation of r leaves over,
// range & keep (keep = total - 1), so that the last value takes it. `end` is
// where the next value starts (2^32 - 1 after 255): the decoder's value v is
// the one with r x start <= low < r x end.
struct RangeEntry {
    std::uint32_t start;
    std::uint32_t freq;
    std::uint32_t keep;
    std::uint32_t end;
};

struct RangeTable {
    std::uint32_t prob[257];        // cumulative scaled shares; prob[256] is the total
    unsigned bits = 0;              // log2 of the total
    bool dense = false;             // nearly a byte out for every value coded (and bits >= 8)
    RangeEntry entries[256];
    unsigned lookup_shift = 0;      // code values >> lookup_shift index the lookup
    // The last value that starts at or before each bucket of code values;
    // the upper half covers the values past the total, which only 255 takes.
    unsigned char lookup[2u << max_lookup_bits];
    // For a dense table, the same value's whole entry in one word: start in
    // bits 0 to 23, the value in 24 to 31, bit 32 set for 255, freq from bit
    // 40; one load where the lookup and the entry take two in a row.
    unsigned direct_shift = 0;
    std::uint64_t direct[2u << direct_bits];
};

// The 256 byte counts of `length` bytes: the table a channel is coded with.
void count_bytes(const unsigned char* in, std::size_t length, unsigned int* counts);

// Scales 256 counts that describe `length` bytes to shares of a power-of-two
// total and makes `prob` cumulative; sets `bits`. The encoder and the decoder
// both build their table here, so that they agree bit for bit.
void build_shares(const unsigned int* counts, std::uint64_t length, unsigned int* prob, unsigned int& bits);

// Completes a table whose prob and bits are set: the entries for coding, and
// with `for_decoding` the lookup as well.
void prepare_table(RangeTable& table, bool for_decoding);

// Range-codes `count` channels (1 to max_side_by_side) of length[c] bytes
// from in[c] to out[c], and sets emitted[c] to each one's E, the bytes
// emitted, the encoder's first byte (always 0) included. E is at most
// 3 x length[c] + 5, the first byte, at most three a value and four to
// close, which is the room out[c] needs; nothing beyond the E is written.
void range_encode_side_by_side(int count, const RangeTable* const tables[], const unsigned char* const in[],
                               const std::size_t length[], unsigned char* const out[], std::size_t emitted[]);

// Decodes `count` channels of length[c] bytes (at least 1 each) from at most
// in_size[c] coded bytes that start with the encoder's unstored first byte
// at in[c][0], which is not read. Input past in_size reads as zero and makes
// the result Status::truncated; values that no encoder could have coded make
// it Status::bad_stream. The first failure found is returned.
[[nodiscard]] Status range_decode_side_by_side(int count, const RangeTable* const tables[],
                                               const unsigned char* const in[], const std::size_t in_size[],
                                               unsigned char* const out[], const std::size_t length[]);
