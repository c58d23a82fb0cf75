#include "common/byte_order.h"
#include "entropy/range_coder.h"
#include "entropy/range_loops.h"

namespace {

using range_loops::Renormalise;

constexpr std::uint32_t code_mask = 0x7FFFFFFFu;  // low's 31 code bits

// The encoder writes each byte as soon as it leaves low and adds a carry
// into the bytes already written when one comes. That gives the bytes that
// holding back the last byte and counting the 0xFF bytes behind it gives:
// low + range never grows past the top of the interval in force when a byte
// was written, so a carry always stops at a byte below 0xFF, and never
// reaches the first byte.
struct Encoder {
    std::uint32_t low;
    std::uint32_t range;
    unsigned char* next;  // where the next byte goes
    const RangeEntry* entries;
    unsigned bits;
    unsigned char* first;
};

inline void begin(Encoder& e, const RangeTable& table, unsigned char* out)
{
    e.low = 0;
    e.range = 0x80000000u;
    e.entries = table.entries;
    e.bits = table.bits;
    e.first = out;
    out[0] = 0;  // the encoder's first byte, which no carry reaches
    e.next = out + 1;
}

inline void add_carry(unsigned char* last)
{
    while (*last == 0xFF) {
        *last-- = 0;
    }
    ++*last;
}

template <Renormalise how>
REELPACK_INLINE void step(Encoder& e, unsigned value)
{
    const RangeEntry& x = e.entries[value];
    const std::uint32_t r = e.range >> e.bits;
    e.low += r * x.start;
    e.range = r * x.freq + (e.range & x.keep);
    // A carry goes into the last byte written; only when that byte was
    // 0xFF does it travel further. The carry bit itself goes out of low with
    // the shift below, or with the mask where there is none.
    const unsigned carry = e.low >> 31;
    const unsigned char last = static_cast<unsigned char>(e.next[-1] + carry);
    e.next[-1] = last;
    if (REELPACK_RARELY(last == 0 && carry != 0)) {
        add_carry(e.next - 2);
    }
    if (how == Renormalise::by_branch) {
        e.low &= code_mask;
        while (e.range <= 0x800000u) {
            *e.next++ = static_cast<unsigned char>(e.low >> 23);
            e.low = (e.low << 8) & code_mask;
            e.range <<= 8;
        }
    } else {
        // Bits 30 to 23 of low are the next byte out, 22 to 15 the one
        // after, and so on: four are stored at once and as many kept as the
        // range needs shifts.
        const unsigned shift = range_loops::renormalisation_shift(e.range);
        put_be32(e.next, e.low << 1);
        e.next += shift / 8;
        e.low = (e.low << shift) & code_mask;
        e.range <<= shift;
    }
}

inline std::size_t finish(Encoder& e)
{
    put_be32(e.next, e.low << 1);
    return static_cast<std::size_t>(e.next + 4 - e.first);
}

// Channels coded together from `from` up to `to`.
template <int N, Renormalise how>
REELPACK_INLINE void encode_together(Encoder (&e)[N], const unsigned char* const (&in)[N], std::size_t from,
                                     std::size_t to)
{
    for (std::size_t i = from; i < to; ++i) {
        REELPACK_EACH_CHANNEL
        for (int c = 0; c < N; ++c) {
            step<how>(e[c], in[c][i]);
        }
    }
}

// Gathers the channels in `order` that are still coding, codes them together
// up to the first one's end, and puts them back.
template <int N>
REELPACK_INLINE void encode_phase(Encoder* all, const RangeTable* const* tables, const unsigned char* const* in,
                                  const int* order, std::size_t from, std::size_t to)
{
    Encoder e[N];
    const unsigned char* inputs[N];
    for (int c = 0; c < N; ++c) {
        e[c] = all[order[c]];
        inputs[c] = in[order[c]];
    }
    if (N == 1 && tables[order[0]]->dense) {
        encode_together<N, Renormalise::by_branch>(e, inputs, from, to);
    } else {
        encode_together<N, Renormalise::by_count>(e, inputs, from, to);
    }
    for (int c = 0; c < N; ++c) {
        all[order[c]] = e[c];
    }
}

template <int N>
struct EncodePhase {
    REELPACK_INLINE static void run(Encoder* all, const void* tables, const void* in, const int* order,
                                    std::size_t from, std::size_t to)
    {
        encode_phase<N>(all, static_cast<const RangeTable* const*>(tables),
                        static_cast<const unsigned char* const*>(in), order, from, to);
    }
};

// The coder's loops are built twice, the second time for processors with
// BMI2 and LZCNT, whose shifts by a register and count of leading zeros take
// one step each; every part of a loop is inlined into both.
REELPACK_INLINE void encode_channels(int count, const RangeTable* const tables[], const unsigned char* const in[],
                                     const std::size_t length[], unsigned char* const out[], std::size_t emitted[])
{
    Encoder e[max_side_by_side];
    for (int c = 0; c < count; ++c) {
        begin(e[c], *tables[c], out[c]);
    }
    range_loops::in_phases<EncodePhase>(count, length, e, tables, in);
    for (int c = 0; c < count; ++c) {
        emitted[c] = finish(e[c]);
    }
}

void encode_plain(int count, const RangeTable* const tables[], const unsigned char* const in[],
                  const std::size_t length[], unsigned char* const out[], std::size_t emitted[])
{
    encode_channels(count, tables, in, length, out, emitted);
}

#ifdef REELPACK_X86_COPIES
REELPACK_TARGET("bmi2,lzcnt") void encode_bmi2(int count, const RangeTable* const tables[],
                                                 const unsigned char* const in[], const std::size_t length[],
                                                 unsigned char* const out[], std::size_t emitted[])
{
    encode_channels(count, tables, in, length, out, emitted);
}
#endif

}  // namespace

void range_encode_side_by_side(int count, const RangeTable* const tables[], const unsigned char* const in[],
                               const std::size_t length[], unsigned char* const out[], std::size_t emitted[])
{
    if (count < 1 || count > max_side_by_side) {
        return;
    }
#ifdef REELPACK_X86_COPIES
    if (cpu_has_bmi2()) {
        encode_bmi2(count, tables, in, length, out, emitted);
        return;
    }
#endif
    encode_plain(count, tables, in, length, out, emitted);
}
