// The prefix coder: its bytes are part of the file format, so a small
// stream is pinned byte by byte; every channel comes back within its bound,
// code lengths stay within the limit and make a complete code, and damage
// gives a status without a read or write out of bounds.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "entropy/prefix.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encode(const Bytes& in)
{
    Bytes out(prefix_bound(in.size()));
    const std::size_t size = prefix_encode(in.data(), in.size(), out.data());
    EXPECT_LE(size + 8, out.size());
    out.resize(size);
    return out;
}

// Decodes into a picture one byte longer than the channel, whose last byte
// must stay as it was.
Status decode(const Bytes& stream, std::size_t length, Bytes* back = nullptr)
{
    Bytes out(length + 1, 0xA5);
    const Status status = prefix_decode(stream.data(), stream.size(), out.data(), length);
    EXPECT_EQ(out[length], 0xA5);
    if (back != nullptr) {
        *back = Bytes(out.begin(), out.end() - 1);
    }
    return status;
}

// 0 1 0 2 0 1 0 3: codes 0, 10, 110, 111 (lengths 1, 2, 3, 3), two symbols
// a part, each code's first bit in the lowest free bit.
Bytes worked()
{
    Bytes b = {1, 0x21, 0x33};
    b.resize(1 + 128);
    b.insert(b.end(), {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x02, 0x06, 0x02, 0x0E});
    return b;
}

TEST(Prefix, PinnedStreams)
{
    EXPECT_EQ(encode({0, 1, 0, 2, 0, 1, 0, 3}), worked());
    EXPECT_EQ(encode(Bytes(5000, 7)), (Bytes{0, 7}));
}

TEST(Prefix, EveryKindComesBackWithinItsBound)
{
    std::mt19937 random(3);
    for (int kind = 0; kind < 4; ++kind) {
        for (std::size_t length : {1, 2, 3, 4, 5, 7, 8, 33, 257, 4097, 100001}) {
            Bytes in(length);
            for (auto& v : in) {
                const unsigned r = random();
                const unsigned values[4] = {r, r % 3, r % 61 == 0 ? r >> 8 : 1, unsigned(std::geometric_distribution<>(0.05)(random))};
                v = static_cast<unsigned char>(values[kind]);
            }
            Bytes back;
            ASSERT_EQ(decode(encode(in), length, &back), Status::ok) << kind << " " << length;
            EXPECT_EQ(back, in) << kind << " " << length;
        }
    }
}

// Counts that would give Huffman codes far longer than the limit, or none
// shorter than it.
TEST(Prefix, LengthsStayWithinTheLimitAndMakeACompleteCode)
{
    std::uint32_t fibonacci[256] = {1, 1}, flat[256], two[256] = {1, 1000000000};
    for (int s = 2; s < 40; ++s) {
        fibonacci[s] = fibonacci[s - 1] + fibonacci[s - 2];
    }
    std::fill(flat, flat + 256, 9);
    for (const std::uint32_t* counts : {fibonacci, flat, two}) {
        unsigned char lengths[256];
        prefix_lengths(counts, lengths);
        unsigned sum = 0;
        for (int s = 0; s < 256; ++s) {
            EXPECT_EQ(lengths[s] != 0, counts[s] != 0) << s;
            EXPECT_LE(lengths[s], prefix_longest);
            sum += lengths[s] != 0 ? 4096u >> lengths[s] : 0;
        }
        EXPECT_EQ(sum, 4096u);
    }
}

TEST(Prefix, DamagedStreamsAreRefused)
{
    auto with = [](Bytes b, std::size_t at, unsigned char v) { return b[at] = v, b; };
    const Bytes w = worked();
    Bytes longer = w;
    longer.push_back(0);
    const Bytes cut(w.begin(), w.end() - 1);
    const struct {
        Bytes stream;
        Status status;
    } damaged[] = {
        {{}, Status::truncated},
        {{0}, Status::truncated},
        {{0, 7, 0}, Status::bad_stream},                   // one value, and more
        {{2, 7}, Status::bad_stream},                      // no such form
        {Bytes(w.begin(), w.begin() + 140), Status::truncated},
        {with(w, 1, 0x2D), Status::bad_table},      // a length past the limit
        {with(w, 1, 0x11), Status::bad_table},      // overfull: 0, 1 and more of one bit
        {with(w, 2, 0x43), Status::bad_table},      // short of full
        {with(w, 129, 9), Status::bad_offsets},     // a part past the stream
        {with(w, 129, 0), Status::bad_stream},      // parts' bytes shifted: part 1 empty, part 2 two
        {cut, Status::bad_stream},                         // the last part's codes run past its end
        {longer, Status::bad_stream},                      // a byte after the last codes
    };
    for (const auto& d : damaged) {
        EXPECT_EQ(decode(d.stream, 8), d.status) << &d - damaged;
    }
    // Any cut of a long stream, and bytes changed anywhere: a status or
    // wrong bytes, never a read or write out of bounds.
    std::mt19937 random(9);
    Bytes in(20000);
    for (auto& v : in) {
        v = static_cast<unsigned char>(std::geometric_distribution<>(0.1)(random));
    }
    const Bytes stream = encode(in);
    for (std::size_t size = 0; size < stream.size(); size += 97) {
        EXPECT_NE(decode(Bytes(stream.begin(), stream.begin() + long(size)), in.size()), Status::ok) << size;
        (void)decode(with(stream, random() % stream.size(), static_cast<unsigned char>(random())), in.size());
    }
}

}  // namespace
