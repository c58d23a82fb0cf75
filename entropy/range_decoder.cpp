#include "common/byte_order.h"
#include "entropy/range_coder.h"
#include "entropy/range_loops.h"

#include <algorithm>

namespace {

using range_loops::Renormalise;

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

// A value as a lookup names it: where its share starts, its size, what the
// truncation of r leaves over that it takes (255 only), and the value.
struct Share {
    std::uint32_t start;
    std::uint32_t freq;
    std::uint32_t kept;
    unsigned value;
};

// From the lookup and then the entry of the value it names.
template <Divide how>
REELPACK_INLINE Share share_by_lookup(std::uint64_t low_code, std::uint32_t range, std::uint32_t r,
                                      const RangeTable& t)
{
    const unsigned s = t.lookup[bucket_of<how>(low_code, r, t.lookup_shift)];
    const RangeEntry& x = t.entries[s];
    return {x.start, x.freq, range & x.keep, s};
}

// From the direct lookup of a dense table, in one load. The steps from one
// value's entry to the next one's are the whole cost of a dense channel:
// what the range keeps for 255 is taken from it before the entry arrives,
// so that only r x freq lies between the two.
template <Divide how>
REELPACK_INLINE Share share_direct(std::uint64_t low_code, std::uint32_t range, std::uint32_t r, const RangeTable& t)
{
    const std::uint32_t rest = range & (t.prob[256] - 1);
    const std::uint64_t x = t.direct[bucket_of<how>(low_code, r, t.direct_shift)];
    return {static_cast<std::uint32_t>(x & 0xFFFFFFu), static_cast<std::uint32_t>(x >> 40),
            (x >> 32) & 1u ? rest : 0u, static_cast<unsigned>(x >> 24) & 255u};
}

// One value, r (range >> bits) given. While the stream is sound low stays
// below range, so q = low / r stays below twice the total and within the
// lookups; the loops stop at the first value that breaks it. A value at or
// past the total can only be 255, which takes what the truncation of r
// leaves over. A lookup names the right value but for a few buckets that
// hold the start of another.
template <Divide how, bool direct>
REELPACK_INLINE unsigned decode_value(std::uint64_t low_code, std::uint64_t& code, std::uint32_t& range,
                                      std::uint32_t r, const RangeTable& t, bool& bad)
{
    const std::uint32_t low = static_cast<std::uint32_t>(low_code >> 32);
    Share x = direct ? share_direct<how>(low_code, range, r, t) : share_by_lookup<how>(low_code, range, r, t);
    if (REELPACK_RARELY(std::uint64_t(r) * (x.start + x.freq) <= low && x.value < 255)) {
        unsigned s = x.value;
        do {
            ++s;
        } while (std::uint64_t(r) * t.entries[s].end <= low);
        x = {t.entries[s].start, t.entries[s].freq, range & t.entries[s].keep, s};
    }
    code -= std::uint64_t(r * x.start) << 32;
    range = r * x.freq + x.kept;
    bad |= (low - r * x.start >= range) | (x.freq == 0);
    return x.value;
}

bool by_reciprocal(const RangeTable& table) { return table.bits >= reciprocal_min_bits; }

// One value far from the end of the input, its bits read ahead kept at 32:
// the bytes that a renormalisation shifts into low are replaced at once
// from `at`. low is taken before they are added, so that the refill waits
// on nothing in the chain of steps.
template <Renormalise renormalise_how, Divide divide_how>
REELPACK_INLINE unsigned step_far(std::uint64_t& code, std::uint32_t& range, const unsigned char*& at,
                                  const RangeTable& t, bool& bad)
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
            const unsigned s = decode_value<divide_how, true>(shifted, whole, range, r, t, bad);
            code = whole;
            return s;
        }
        shift = 0;
        while (range <= 0x800000u) {
            range <<= 8;
            shift += 8;
        }
    } else {
        shift = range_loops::renormalisation_shift(range);
        range <<= shift;
    }
    const std::uint64_t shifted = code << shift;
    const std::uint64_t refill = ((get_be64(at) << 7) >> 32) >> (32 - shift);
    at += shift / 8;
    std::uint64_t whole = shifted | refill;
    const unsigned s = decode_value<divide_how, false>(shifted, whole, range, range >> t.bits, t, bad);
    code = whole;
    return s;
}


// Decodes the channels together while all of them are far from the end of
// their input and sound; returns where they stopped.
template <int N, Renormalise renormalise_how, Divide divide_how>
REELPACK_INLINE std::size_t decode_together(DecoderState (&state)[N], const DecoderInput (&input)[N],
                                            unsigned char* const (&out)[N], std::size_t from, std::size_t to, bool& bad)
{
    std::uint64_t code[N];
    std::uint32_t range[N];
    const unsigned char* at[N];
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
                                       unsigned char* const (&out)[N], std::size_t from, std::size_t to, bool& bad)
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
REELPACK_INLINE void decode_alone(DecoderState& d, const DecoderInput& input, unsigned char* out, std::size_t from,
                                  std::size_t to, bool& bad)
{
    DecoderState state[1] = {d};
    const DecoderInput inputs[1] = {input};
    unsigned char* const outputs[1] = {out};
    std::size_t i = decode_far<1>(state, inputs, outputs, from, to, bad);
    d = state[0];
    for (; i < to && !bad; ++i) {
        read_ahead_near_end(d, input);
        renormalise_near_end(d.code, d.range, d.avail);
        const std::uint32_t r = d.range >> input.table->bits;
        out[i] = static_cast<unsigned char>(
            decode_value<Divide::by_division, false>(d.code, d.code, d.range, r, *input.table, bad));
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

// The decoder's loops are built twice, as the encoder's are.
REELPACK_INLINE void decode_channels(Decoding& decoding, int count, const std::size_t length[])
{
    range_loops::in_phases<DecodePhase>(count, length, &decoding, nullptr, nullptr);
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
