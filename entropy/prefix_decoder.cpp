#include <cstring>

#include "common/byte_order.h"
#include "common/cpu.h"
#include "entropy/prefix.h"

namespace {

constexpr unsigned table_size = 1u << prefix_longest;

// One part's reader: its bytes [at, end), the bits not yet taken, lowest
// first, and how many of them are held. `past` counts the zero bytes read
// beyond the end, which only damage makes a code take.
struct Reader {
    const unsigned char* at;
    const unsigned char* end;
    std::uint64_t bits;
    unsigned held;
    std::size_t past;
    const unsigned char* start;
};

// While 8 bytes remain: one load fills the buffer to 56 bits or more, and
// the whole bytes that went in are passed, with no branch. Bits above
// `held` come in again with the next load, the same bits, so or-ing is
// safe.
REELPACK_INLINE void refill_fast(Reader& r)
{
    r.bits |= get_le64(r.at) << r.held;
    r.at += (63 - r.held) >> 3;
    r.held |= 56;
}

// Near the end: byte by byte, and zeros past it.
inline void refill_tail(Reader& r)
{
    while (r.held <= 56) {
        const bool inside = r.at < r.end;
        r.bits |= std::uint64_t(inside ? *r.at : 0) << r.held;
        r.at += inside ? 1 : 0;
        r.past += inside ? 0 : 1;
        r.held += 8;
    }
}

// One symbol: the table holds, for every 12 bits that may come next, the
// symbol whose code they begin with and its length.
REELPACK_INLINE unsigned char take(Reader& r, const std::uint16_t* table)
{
    const unsigned entry = table[r.bits & (table_size - 1)];
    r.bits >>= entry >> 8;
    r.held -= entry >> 8;
    return static_cast<unsigned char>(entry);
}

// The lengths into the lookup table; a code that does not fill the table
// exactly, neither short of it nor past it, is refused.
Status build_table(const unsigned char* packed, std::uint16_t* table)
{
    unsigned char lengths[256];
    unsigned sum = 0;
    for (int s = 0; s < 256; ++s) {
        lengths[s] = static_cast<unsigned char>(packed[s / 2] >> (4 * (s & 1)) & 15);
        if (lengths[s] > prefix_longest) {
            return Status::bad_table;
        }
        sum += lengths[s] == 0 ? 0 : table_size >> lengths[s];
    }
    if (sum != table_size) {
        return Status::bad_table;
    }
    std::uint16_t codes[256];
    prefix_codes(lengths, codes);
    for (int s = 0; s < 256; ++s) {
        const unsigned len = lengths[s];
        if (len != 0) {
            for (unsigned at = codes[s]; at < table_size; at += 1u << len) {
                table[at] = static_cast<std::uint16_t>(len << 8 | unsigned(s));
            }
        }
    }
    return Status::ok;
}

// A part is sound when its codes took all its bytes and no more: its last
// byte holds its last bits, and no code ran into the zeros past its end
// (which the reader holds, but no code has taken, when all is well).
bool exact(const Reader& r)
{
    const std::size_t taken = 8 * (std::size_t(r.at - r.start) + r.past) - r.held;
    return (taken + 7) / 8 == std::size_t(r.end - r.start);
}

// Four symbols of one part, from bytes that hold them all.
REELPACK_INLINE void take_four(Reader& r, unsigned char* o, const std::uint16_t* table)
{
    refill_fast(r);
    o[0] = take(r, table), o[1] = take(r, table), o[2] = take(r, table), o[3] = take(r, table);
}

// The four parts side by side, four symbols each a round while every
// reader has 8 bytes ahead and every part 4 symbols; then each to its end
// alone. Each part is a reader of its own, named, not an element of an
// array: a compiler keeps named readers in registers, where a loop over
// the array left their bits in memory, and every symbol waited on a
// store and a load of them.
REELPACK_INLINE void decode_parts_body(Reader* readers, unsigned char* const* out, const std::size_t* count,
                                       const std::uint16_t* table)
{
    static_assert(prefix_parts == 4, "the loop below names four parts");
    Reader r0 = readers[0], r1 = readers[1], r2 = readers[2], r3 = readers[3];
    std::size_t done = 0;
    const std::size_t rounds = count[0] / 4;  // the first part is the shortest
    for (; done < rounds; ++done) {
        const bool near_end = (r0.end - r0.at < 8) | (r1.end - r1.at < 8) | (r2.end - r2.at < 8) |
                              (r3.end - r3.at < 8);
        if (near_end) {
            break;
        }
        take_four(r0, out[0] + 4 * done, table);
        take_four(r1, out[1] + 4 * done, table);
        take_four(r2, out[2] + 4 * done, table);
        take_four(r3, out[3] + 4 * done, table);
    }
    readers[0] = r0, readers[1] = r1, readers[2] = r2, readers[3] = r3;
    for (int k = 0; k < prefix_parts; ++k) {
        for (std::size_t i = 4 * done; i < count[k]; ++i) {
            refill_tail(readers[k]);
            out[k][i] = take(readers[k], table);
        }
    }
}

// Built twice, as the range decoder's loops are: BMI2's shifts by any
// register free the one register that plain shifts take their count from.
void decode_parts_plain(Reader* readers, unsigned char* const* out, const std::size_t* count,
                        const std::uint16_t* table)
{
    decode_parts_body(readers, out, count, table);
}

#ifdef REELPACK_X86_COPIES
REELPACK_TARGET("bmi2") void decode_parts_bmi2(Reader* readers, unsigned char* const* out, const std::size_t* count,
                                                const std::uint16_t* table)
{
    decode_parts_body(readers, out, count, table);
}
#endif

void decode_parts(Reader* readers, unsigned char* const* out, const std::size_t* count, const std::uint16_t* table)
{
#ifdef REELPACK_X86_COPIES
    if (cpu_has_bmi2()) {
        decode_parts_bmi2(readers, out, count, table);
        return;
    }
#endif
    decode_parts_plain(readers, out, count, table);
}

}  // namespace

Status prefix_decode(const unsigned char* in, std::size_t size, unsigned char* out, std::size_t length)
{
    if (size < 2) {
        return Status::truncated;
    }
    if (in[0] == 0) {
        if (size != 2) {
            return Status::bad_stream;
        }
        std::memset(out, in[1], length);
        return Status::ok;
    }
    if (in[0] != 1) {
        return Status::bad_stream;
    }
    if (size < prefix_head) {
        return Status::truncated;
    }
    std::uint16_t table[table_size];
    if (const Status status = build_table(in + 1, table); status != Status::ok) {
        return status;
    }
    Reader readers[prefix_parts];
    unsigned char* starts[prefix_parts];
    std::size_t counts[prefix_parts];
    std::size_t at = prefix_head;
    for (int k = 0; k < prefix_parts; ++k) {
        const std::size_t bytes = k + 1 < prefix_parts ? get_le32(in + 1 + 128 + 4 * k) : size - at;
        if (bytes > size - at) {
            return Status::bad_offsets;
        }
        readers[k] = Reader{in + at, in + at + bytes, 0, 0, 0, in + at};
        const std::size_t from = length * k / prefix_parts;
        starts[k] = out + from;
        counts[k] = length * (k + 1) / prefix_parts - from;
        at += bytes;
    }
    decode_parts(readers, starts, counts, table);
    for (const Reader& r : readers) {
        if (!exact(r)) {
            return Status::bad_stream;
        }
    }
    return Status::ok;
}
