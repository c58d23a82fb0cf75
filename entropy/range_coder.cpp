#include "entropy/range_coder.h"

#include "common/byte_order.h"
#include "common/cpu.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::uint32_t code_mask = 0x7FFFFFFFu;  // low's 31 code bits

#if defined(__GNUC__)
#define REELPACK_RARELY(x) __builtin_expect(!!(x), 0)
#define REELPACK_LIKELY(x) __builtin_expect(!!(x), 1)
#else
#define REELPACK_RARELY(x) (x)
#define REELPACK_LIKELY(x) (x)
#endif

// The loops over the channels coded side by side are unrolled, so that each
// channel's state stays in registers of its own.
#if defined(__clang__)
#define REELPACK_EACH_CHANNEL _Pragma("unroll")
#elif defined(__GNUC__)
#define REELPACK_EACH_CHANNEL _Pragma("GCC unroll 4")
#else
#define REELPACK_EACH_CHANNEL
#endif

// The bits a range is shifted left by to renormalise it: a byte at a time
// while it is at most 2^23, so whole bytes of the leading zeros of
// range - 1, less one bit. A range of at least 1 needs at most three bytes.
inline unsigned renormalisation_shift(std::uint32_t range)
{
    return (unsigned(__builtin_clz((range - 1) | 1)) - 1) & ~7u;
}

// How a coder loop renormalises: a channel that takes about a byte for
// every value coded renormalises once nearly every time, which a branch
// predicts well; any other would mispredict that branch often, and takes
// the number of shifts from the range's leading zeros instead.
enum class Renormalise { by_branch, by_count };

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
        const unsigned shift = renormalisation_shift(e.range);
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

// Orders channel numbers by length, shortest first.
void order_by_length(int count, const std::size_t* length, int* order)
{
    for (int c = 0; c < count; ++c) {
        int at = c;
        for (; at > 0 && length[order[at - 1]] > length[c]; --at) {
            order[at] = order[at - 1];
        }
        order[at] = c;
    }
}

// Runs `phase<N>` over the channels in order of length: all of them up to
// the shortest one's end, then those left up to the next one's, and so on.
template <template <int> class Phase, typename State>
REELPACK_INLINE void in_phases(int count, const std::size_t* length, State* states, const void* tables,
                               const void* data)
{
    int order[max_side_by_side];
    order_by_length(count, length, order);
    std::size_t done = 0;
    for (int first = 0; first < count; ++first) {
        const std::size_t to = length[order[first]];
        switch (count - first) {
        case 4:
            Phase<4>::run(states, tables, data, order + first, done, to);
            break;
        case 3:
            Phase<3>::run(states, tables, data, order + first, done, to);
            break;
        case 2:
            Phase<2>::run(states, tables, data, order + first, done, to);
            break;
        default:
            Phase<1>::run(states, tables, data, order + first, done, to);
            break;
        }
        done = to;
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

// floor(2^32 / r) for every r a table of 2^19 or more can meet (range >> bits
// with range at most 2^31); 2^32 - 1 for r = 1.
constexpr unsigned max_reciprocal = 1u << 12;
constexpr unsigned reciprocal_min_bits = 31 - 12;

struct Reciprocals {
    std::uint32_t of[max_reciprocal + 1];
};

constexpr Reciprocals make_reciprocals()
{
    Reciprocals table{};
    table.of[0] = 0;
    table.of[1] = 0xFFFFFFFFu;
    for (unsigned r = 2; r <= max_reciprocal; ++r) {
        table.of[r] = static_cast<std::uint32_t>((std::uint64_t(1) << 32) / r);
    }
    return table;
}

constexpr Reciprocals reciprocals = make_reciprocals();

// How a decoder loop divides low by r: with a hardware division, or, where
// r is small enough for the table of reciprocals, by a multiplication that
// gives low / r or one less; the search for the value compares r x prob with
// low exactly, so both find the same value.
enum class Divide { by_division, by_reciprocal };

// The decoder reads the coded bytes offset by one bit: a renormalisation
// appends the low bit of the byte before and the seven high bits of the
// next one, a byte of the stream read one bit late. The decoder keeps low
// in the upper half of a 64-bit code with up to 32 of those bits below it,
// so that a renormalisation is a shift, and the bytes are read ahead, four
// at a time, away from its chain of dependent steps.
//
// Its state is kept apart from what it reads, so that a loop can hold the
// state of every channel it advances in registers.
struct DecoderState {
    std::uint64_t code;  // low in bits 62 to 32, then `avail` bits read ahead
    std::uint32_t range;
    unsigned avail;
    std::size_t pos;  // the next late byte to read ahead
};

struct DecoderInput {
    const unsigned char* in;
    std::size_t size;
    const RangeTable* table;
};

inline unsigned byte_at(const DecoderInput& input, std::size_t i) { return i < input.size ? input.in[i] : 0u; }

inline DecoderState begin(const DecoderInput& input)
{
    // in[0] is the encoder's unstored first byte; low starts as the seven
    // high bits of in[1].
    return {std::uint64_t(byte_at(input, 1) >> 1) << 32, 0x80, 0, 1};
}

// Whether eight bytes can be read at pos.
inline bool far_from_end(std::size_t pos, std::size_t size) { return pos + 8 <= size; }

// Tops the bits read ahead up to 32, far from the end of the input.
inline void read_ahead(std::uint64_t& code, unsigned& avail, std::size_t& pos, const unsigned char* in)
{
    // Late byte p is (in[p] << 7 | in[p + 1] >> 1): a big-endian word
    // shifted left by 7 holds seven of them in full.
    code |= ((get_be64(in + pos) << 7) >> 32) >> avail;
    pos += (32 - avail) >> 3;
    avail = 32;
}

// The same near the end: bytes past it read as zero.
inline void read_ahead_near_end(DecoderState& d, const DecoderInput& input)
{
    while (d.avail <= 24) {
        const unsigned late = ((byte_at(input, d.pos) << 8 | byte_at(input, d.pos + 1)) >> 1) & 0xFFu;
        d.code |= std::uint64_t(late) << (24 - d.avail);
        ++d.pos;
        d.avail += 8;
    }
}

// The bytes read into low so far, counted as the reader of one byte at a
// time counts them: past the input's size the stream was too short.
inline std::size_t bytes_taken(const DecoderState& d) { return 1 + d.pos - d.avail / 8; }

// Near the end of the input, a byte at a time.
inline void renormalise_near_end(std::uint64_t& code, std::uint32_t& range, unsigned& avail)
{
    while (range <= 0x800000u) {
        range <<= 8;
        code <<= 8;
        avail -= 8;
    }
}

// The bucket of q = low / r in a lookup read from q's bit `shift` up: it is
// (low >> shift) / r, which one shift of the code gives; with the reciprocal
// it can come out one less.
template <Divide how>
REELPACK_INLINE std::uint32_t bucket_of(std::uint64_t low_code, std::uint32_t r, unsigned shift)
{
    const std::uint32_t high_bits = static_cast<std::uint32_t>(low_code >> (32 + shift));
    return how == Divide::by_division
               ? high_bits / r
               : static_cast<std::uint32_t>((std::uint64_t(high_bits) * reciprocals.of[r]) >> 32);
}

// One value. While the stream is sound low stays below range, so q stays
// below twice the total and within the lookup; the loops stop at the first
// value that breaks it.
template <Divide how>
REELPACK_INLINE unsigned decode_value(std::uint64_t low_code, std::uint64_t &code, std::uint32_t &range,
                                      const RangeTable &t, bool &bad)
{
    const std::uint32_t low = static_cast<std::uint32_t>(low_code >> 32);
    const std::uint32_t r = range >> t.bits;
    const std::uint32_t bucket = bucket_of<how>(low_code, r, t.lookup_shift);
    // A value at or past the total can only be 255, which takes what the
    // truncation of r leaves over. The lookup names the right value but for
    // a few buckets that hold the start of another.
    unsigned s = t.lookup[bucket];
    const RangeEntry* x = &t.entries[s];
    if (REELPACK_RARELY(std::uint64_t(r) * x->end <= low)) {
        do {
            ++s;
        } while (std::uint64_t(r) * t.entries[s].end <= low);
        x = &t.entries[s];
    }
    code -= std::uint64_t(r * x->start) << 32;
    range = r * x->freq + (range & x->keep);
    bad |= (low - r * x->start >= range) | (x->freq == 0);
    return s;
}

// The same from the direct lookup of a dense table, r (range >> bits) given.
// The steps from one value's entry to the next one's are the whole cost of
// a dense channel: what the range keeps for 255 is taken from it before the
// entry arrives, so that only r x freq lies between the two.
template <Divide how>
REELPACK_INLINE unsigned decode_value_direct(std::uint64_t low_code, std::uint64_t& code, std::uint32_t& range,
                                             std::uint32_t r, const RangeTable& t, bool& bad)
{
    const std::uint32_t low = static_cast<std::uint32_t>(low_code >> 32);
    const std::uint32_t rest = range & (t.prob[256] - 1);
    const std::uint64_t x = t.direct[bucket_of<how>(low_code, r, t.direct_shift)];
    std::uint32_t start = static_cast<std::uint32_t>(x & 0xFFFFFFu);
    std::uint32_t freq = static_cast<std::uint32_t>(x >> 40);
    std::uint32_t kept = (x >> 32) & 1u ? rest : 0u;
    unsigned s = static_cast<unsigned>(x >> 24) & 255u;
    if (REELPACK_RARELY(std::uint64_t(r) * (start + freq) <= low && s < 255)) {
        do {
            ++s;
        } while (std::uint64_t(r) * t.entries[s].end <= low);
        start = t.entries[s].start;
        freq = t.entries[s].freq;
        kept = range & t.entries[s].keep;
    }
    code -= std::uint64_t(r * start) << 32;
    range = r * freq + kept;
    bad |= (low - r * start >= range) | (freq == 0);
    return s;
}

bool by_reciprocal(const RangeTable& table) { return table.bits >= reciprocal_min_bits; }

// One value far from the end of the input, its bits read ahead kept at 32:
// the bytes that a renormalisation shifts into low are replaced at once
// from `at`. low is taken before they are added, so that the refill waits
// on nothing in the chain of steps.
template <Renormalise renormalise_how, Divide divide_how>
REELPACK_INLINE unsigned step_far(std::uint64_t &code, std::uint32_t &range, const unsigned char *&at,
                                  const RangeTable &t, bool &bad)
{
    unsigned shift;
    if (renormalise_how == Renormalise::by_branch) {
        // Nearly always one byte, with shifts by a constant.
        if (REELPACK_LIKELY(range <= 0x800000u && range > 0x8000u)) {
            // r of the shifted range, in one step from the range as it was
            // (a dense table has 8 bits or more).
            const std::uint32_t r = range >> (t.bits - 8);
            range <<= 8;
            const std::uint64_t shifted = code << 8;
            const std::uint64_t refill = (get_be64(at) << 7) >> 56;
            at += 1;
            std::uint64_t whole = shifted | refill;
            const unsigned s = decode_value_direct<divide_how>(shifted, whole, range, r, t, bad);
            code = whole;
            return s;
        }
        shift = 0;
        while (range <= 0x800000u) {
            range <<= 8;
            shift += 8;
        }
    } else {
        shift = renormalisation_shift(range);
        range <<= shift;
    }
    const std::uint64_t shifted = code << shift;
    const std::uint64_t refill = ((get_be64(at) << 7) >> 32) >> (32 - shift);
    at += shift / 8;
    std::uint64_t whole = shifted | refill;
    const unsigned s = decode_value<divide_how>(shifted, whole, range, t, bad);
    code = whole;
    return s;
}

// Decodes the channels together while all of them are far from the end of
// their input and sound; returns where they stopped.
template <int N, Renormalise renormalise_how, Divide divide_how>
REELPACK_INLINE std::size_t decode_together(DecoderState (&state)[N], const DecoderInput (&input)[N],
                                            unsigned char *const (&out)[N], std::size_t from, std::size_t to, bool &bad)
{
    std::uint64_t code[N];
    std::uint32_t range[N];
    const unsigned char *at[N];
    for (int c = 0; c < N; ++c) {
        if (!far_from_end(state[c].pos, input[c].size)) {
            return from;
        }
        read_ahead(state[c].code, state[c].avail, state[c].pos, input[c].in);
        code[c] = state[c].code;
        range[c] = state[c].range;
        at[c] = input[c].in + state[c].pos;
    }
    bool stop = bad;
    std::size_t i = from;
    while (i < to && !stop) {
        // Every value reads at most three more bytes, and eight are read at
        // once: the values that keep every channel within its input.
        std::size_t safe = to - i;
        REELPACK_EACH_CHANNEL
        for (int c = 0; c < N; ++c) {
            const std::size_t left = static_cast<std::size_t>(input[c].in + input[c].size - at[c]);
            safe = std::min(safe, left < 8 ? 0 : (left - 8) / 3 + 1);
        }
        if (safe == 0) {
            break;
        }
        for (const std::size_t end = i + safe; i < end && !stop; ++i) {
            REELPACK_EACH_CHANNEL
            for (int c = 0; c < N; ++c) {
                out[c][i] = static_cast<unsigned char>(
                    step_far<renormalise_how, divide_how>(code[c], range[c], at[c], *input[c].table, stop));
            }
        }
    }
    bad = stop;
    for (int c = 0; c < N; ++c) {
        state[c] = {code[c], range[c], 32, static_cast<std::size_t>(at[c] - input[c].in)};
    }
    return i;
}

template <int N>
REELPACK_INLINE std::size_t decode_far(DecoderState (&state)[N], const DecoderInput (&input)[N],
                                       unsigned char *const (&out)[N], std::size_t from, std::size_t to, bool &bad)
{
    bool reciprocal = true;
    for (int c = 0; c < N; ++c) {
        reciprocal &= by_reciprocal(*input[c].table);
    }
    if (N == 1 && input[0].table->dense) {
        return reciprocal ? decode_together<N, Renormalise::by_branch, Divide::by_reciprocal>(state, input, out, from,
                                                                                               to, bad)
                          : decode_together<N, Renormalise::by_branch, Divide::by_division>(state, input, out, from,
                                                                                              to, bad);
    }
    return reciprocal
               ? decode_together<N, Renormalise::by_count, Divide::by_reciprocal>(state, input, out, from, to, bad)
               : decode_together<N, Renormalise::by_count, Divide::by_division>(state, input, out, from, to, bad);
}

// One channel to its end, the last bytes read with care.
REELPACK_INLINE void decode_alone(DecoderState &d, const DecoderInput &input, unsigned char *out, std::size_t from,
                                  std::size_t to, bool &bad)
{
    DecoderState state[1] = {d};
    const DecoderInput inputs[1] = {input};
    unsigned char *const outputs[1] = {out};
    std::size_t i = decode_far<1>(state, inputs, outputs, from, to, bad);
    d = state[0];
    for (; i < to && !bad; ++i) {
        read_ahead_near_end(d, input);
        renormalise_near_end(d.code, d.range, d.avail);
        out[i] =
            static_cast<unsigned char>(decode_value<Divide::by_division>(d.code, d.code, d.range, *input.table, bad));
    }
}

struct Decoding {
    DecoderState state[max_side_by_side];
    DecoderInput input[max_side_by_side];
    unsigned char* out[max_side_by_side];
    bool bad;
};

template <int N>
struct DecodePhase {
    REELPACK_INLINE static void run(Decoding* all, const void*, const void*, const int* order, std::size_t from,
                                    std::size_t to)
    {
        DecoderState state[N];
        DecoderInput input[N];
        unsigned char* out[N];
        for (int c = 0; c < N; ++c) {
            state[c] = all->state[order[c]];
            input[c] = all->input[order[c]];
            out[c] = all->out[order[c]];
        }
        const std::size_t stopped = N > 1 ? decode_far<N>(state, input, out, from, to, all->bad) : from;
        for (int c = 0; c < N; ++c) {
            decode_alone(state[c], input[c], out[c], stopped, to, all->bad);
            all->state[order[c]] = state[c];
        }
    }
};

}  // namespace

void build_shares(const unsigned int* counts, std::uint64_t length, unsigned int* prob, unsigned int& bits)
{
    prob[0] = 0;
    std::memcpy(prob + 1, counts, 256 * sizeof(unsigned int));
    std::uint32_t total = 1;
    bits = 0;
    if (length > max_total) {
        total = max_total;
        bits = max_total_bits;
    } else {
        while (total < length) {
            total <<= 1;
            ++bits;
        }
    }
    if (length == 0) {
        return;  // nothing is coded with an empty table
    }
    unsigned int* share = prob + 1;
    // The ratio is divided in single precision and applied in double: the
    // exact precisions decide every share.
    const float ratio = static_cast<float>(total) / static_cast<float>(length);
    std::uint64_t sum = 0;
    for (int v = 0; v < 256; ++v) {
        share[v] = static_cast<unsigned int>(static_cast<double>(counts[v]) * static_cast<double>(ratio));
        if (length > max_total && counts[v] != 0 && share[v] == 0) {
            share[v] = 1;  // a value that occurs must stay codable
        }
        sum += share[v];
    }
    for (int v = 0; sum > total; v = (v + 1) & 255) {
        if (share[v] > 1) {
            --share[v];
            --sum;
        }
    }
    if (sum < total) {
        // The remainder goes to values 0 to 127 in turn; when none of them
        // occurs, to 128 to 255 instead, so that it is always placed.
        int first = 128;
        for (int v = 0; v < 128; ++v) {
            if (share[v] != 0) {
                first = 0;
                break;
            }
        }
        std::uint64_t remainder = total - sum;
        for (int v = 0; remainder > 0; v = (v + 1) & 127) {
            if (share[first + v] != 0) {
                ++share[first + v];
                --remainder;
            }
        }
    }
    for (int v = 1; v <= 256; ++v) {
        prob[v] += prob[v - 1];
    }
}

void prepare_table(RangeTable& table, bool for_decoding)
{
    const std::uint32_t total = table.prob[256];
    double bits_per_value = 0;
    for (unsigned v = 0; v < 256; ++v) {
        const std::uint32_t share = table.prob[v + 1] - table.prob[v];
        const bool last = v == 255;
        table.entries[v] = {table.prob[v], share, last ? total - 1 : 0u, last ? 0xFFFFFFFFu : table.prob[v + 1]};
        if (share != 0) {
            const double p = double(share) / double(total);
            bits_per_value -= p * std::log2(p);
        }
    }
    table.dense = bits_per_value >= 7.0 && table.bits >= 8;
    if (!for_decoding) {
        return;
    }
    const unsigned lookup_bits = std::min(table.bits, max_lookup_bits);
    table.lookup_shift = table.bits - lookup_bits;
    unsigned s = 0;
    for (std::uint32_t j = 0; j < (1u << lookup_bits); ++j) {
        while (s < 255 && table.prob[s + 1] <= (j << table.lookup_shift)) {
            ++s;
        }
        table.lookup[j] = static_cast<unsigned char>(s);
    }
    std::memset(table.lookup + (1u << lookup_bits), 255, 1u << lookup_bits);
    if (table.dense) {
        const unsigned bits = std::min(table.bits, direct_bits);
        table.direct_shift = table.bits - bits;
        unsigned v = 0;
        for (std::uint32_t j = 0; j < (2u << bits); ++j) {
            // The value whose share holds the bucket's first code value.
            while (v < 255 && (j >= (1u << bits) || table.prob[v + 1] <= (j << table.direct_shift))) {
                ++v;
            }
            const RangeEntry& x = table.entries[v];
            table.direct[j] = std::uint64_t(x.start) | (std::uint64_t(v) << 24) | (std::uint64_t(v == 255) << 32) |
                              (std::uint64_t(x.freq) << 40);
        }
    }
}

std::size_t range_encode(const RangeTable& table, const unsigned char* in, std::size_t length, unsigned char* out)
{
    const RangeTable* const tables[1] = {&table};
    const unsigned char* const inputs[1] = {in};
    unsigned char* const outputs[1] = {out};
    std::size_t emitted = 0;
    range_encode_side_by_side(1, tables, inputs, &length, outputs, &emitted);
    return emitted;
}

// The coder's loops are built twice, the second time for processors with
// BMI2 and LZCNT, whose shifts by a register and count of leading zeros take
// one step each; every part of a loop is inlined into both.
namespace {

REELPACK_INLINE void encode_channels(int count, const RangeTable* const tables[], const unsigned char* const in[],
                                     const std::size_t length[], unsigned char* const out[], std::size_t emitted[])
{
    Encoder e[max_side_by_side];
    for (int c = 0; c < count; ++c) {
        begin(e[c], *tables[c], out[c]);
    }
    in_phases<EncodePhase>(count, length, e, tables, in);
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

Status range_decode(const RangeTable& table, const unsigned char* in, std::size_t in_size, unsigned char* out,
                    std::size_t length)
{
    const RangeTable* const tables[1] = {&table};
    const unsigned char* const inputs[1] = {in};
    unsigned char* const outputs[1] = {out};
    return range_decode_side_by_side(1, tables, inputs, &in_size, outputs, &length);
}

namespace {

REELPACK_INLINE void decode_channels(Decoding& decoding, int count, const std::size_t length[])
{
    in_phases<DecodePhase>(count, length, &decoding, nullptr, nullptr);
}

void decode_plain(Decoding& decoding, int count, const std::size_t length[])
{
    decode_channels(decoding, count, length);
}

#ifdef REELPACK_X86_COPIES
REELPACK_TARGET("bmi2,lzcnt") void decode_bmi2(Decoding& decoding, int count, const std::size_t length[])
{
    decode_channels(decoding, count, length);
}
#endif

}  // namespace

Status range_decode_side_by_side(int count, const RangeTable* const tables[], const unsigned char* const in[],
                                 const std::size_t in_size[], unsigned char* const out[], const std::size_t length[])
{
    if (count < 0 || count > max_side_by_side) {
        return Status::bad_size;
    }
    Decoding decoding;
    decoding.bad = false;
    for (int c = 0; c < count; ++c) {
        decoding.input[c] = {in[c], in_size[c], tables[c]};
        decoding.state[c] = begin(decoding.input[c]);
        decoding.out[c] = out[c];
    }
#ifdef REELPACK_X86_COPIES
    if (cpu_has_bmi2()) {
        decode_bmi2(decoding, count, length);
    } else {
        decode_plain(decoding, count, length);
    }
#else
    decode_plain(decoding, count, length);
#endif
    if (decoding.bad) {
        return Status::bad_stream;
    }
    for (int c = 0; c < count; ++c) {
        if (bytes_taken(decoding.state[c]) > in_size[c]) {
            return Status::truncated;  // bytes past the end were read as zero
        }
    }
    return Status::ok;
}
