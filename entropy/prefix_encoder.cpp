#include <cstring>

#include "common/byte_order.h"
#include "entropy/prefix.h"

namespace {

// The counts of a channel's bytes, in four tables so that runs of one byte
// do not wait on their own increments.
void count_bytes(const unsigned char* in, std::size_t length, std::uint32_t counts[256])
{
    std::uint32_t part[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++part[0][in[i]], ++part[1][in[i + 1]], ++part[2][in[i + 2]], ++part[3][in[i + 3]];
    }
    for (; i < length; ++i) {
        ++part[0][in[i]];
    }
    for (int s = 0; s < 256; ++s) {
        counts[s] = part[0][s] + part[1][s] + part[2][s] + part[3][s];
    }
}

// One part's bits, lowest first. Four codes of at most 12 bits go in
// between stores, onto fewer than 8 bits held: 56 at most, in the 64 of
// the buffer. A store writes 8 bytes and keeps the whole ones, with no
// branch; the room past the stream's end takes the last store.
std::size_t encode_part(const unsigned char* in, std::size_t length, const std::uint32_t* table, unsigned char* out)
{
    unsigned char* at = out;
    std::uint64_t bits = 0;
    unsigned held = 0;
    auto put = [&](unsigned char symbol) {
        const std::uint32_t entry = table[symbol];
        bits |= std::uint64_t(entry >> 4) << held;
        held += entry & 15;
    };
    auto store = [&] {
        put_le64(at, bits);
        at += held >> 3;
        bits >>= held & ~7u;
        held &= 7;
    };
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        put(in[i]), put(in[i + 1]), put(in[i + 2]), put(in[i + 3]);
        store();
    }
    for (; i < length; ++i) {
        put(in[i]);
    }
    store();  // the last bits are in the byte at `at`, 0 above them
    return std::size_t(at - out) + (held + 7) / 8;
}

}  // namespace

std::size_t prefix_encode(const unsigned char* in, std::size_t length, unsigned char* out)
{
    std::uint32_t counts[256];
    count_bytes(in, length, counts);
    if (counts[in[0]] == length) {
        out[0] = 0;
        out[1] = in[0];
        return 2;
    }
    unsigned char lengths[256];
    prefix_lengths(counts, lengths);
    std::uint16_t codes[256];
    prefix_codes(lengths, codes);
    // Each symbol's code and length in one word, for one load a symbol.
    std::uint32_t table[256];
    out[0] = 1;
    for (int s = 0; s < 256; ++s) {
        table[s] = std::uint32_t(codes[s]) << 4 | lengths[s];
    }
    for (int s = 0; s < 256; s += 2) {
        out[1 + s / 2] = static_cast<unsigned char>(lengths[s] | lengths[s + 1] << 4);
    }
    std::size_t at = prefix_head;
    for (int k = 0; k < prefix_parts; ++k) {
        const std::size_t from = length * k / prefix_parts;
        const std::size_t to = length * (k + 1) / prefix_parts;
        const std::size_t bytes = encode_part(in + from, to - from, table, out + at);
        if (k + 1 < prefix_parts) {
            put_le32(out + 1 + 128 + 4 * k, static_cast<std::uint32_t>(bytes));
        }
        at += bytes;
    }
    return at;
}
