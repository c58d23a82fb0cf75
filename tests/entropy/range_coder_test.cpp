// The range coder's loops against a plain model of the coder that takes one
// step at a time, holds back its last byte and counts the 0xFF bytes behind
// it, and finds each value by a binary search: every stream must be the
// model's, byte for byte, whether channels are coded alone or side by side,
// and every stream must decode back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "entropy/range_coder.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes model_encode(const std::uint32_t* prob, unsigned bits, const Bytes& in)
{
    Bytes out;
    std::uint32_t low = 0;
    std::uint32_t range = 0x80000000u;
    unsigned held = 0;
    std::uint32_t pending = 0;
    for (const unsigned s : in) {
        const std::uint32_t r = range >> bits;
        low += r * prob[s];
        range = s < 255 ? r * (prob[s + 1] - prob[s]) : range - r * prob[255];
        while (range <= 0x00800000u) {
            if (low <= 0x7F7FFFFFu) {
                out.push_back(static_cast<unsigned char>(held));
                out.insert(out.end(), pending, 0xFF);
                pending = 0;
                held = low >> 23;
            } else if ((low & 0x80000000u) != 0) {
                out.push_back(static_cast<unsigned char>(held + 1));
                out.insert(out.end(), pending, 0x00);
                pending = 0;
                held = (low >> 23) & 0xFF;
            } else {
                ++pending;
            }
            range <<= 8;
            low = (low << 8) & 0x7FFFFFFFu;
        }
    }
    const bool carry = (low >> 23) > 255;
    out.push_back(static_cast<unsigned char>(carry ? held + 1 : held));
    out.insert(out.end(), pending, carry ? 0x00 : 0xFF);
    const std::uint32_t last = low << 1;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(last >> shift));
    }
    return out;
}

Bytes model_decode(const std::uint32_t* prob, unsigned bits, const Bytes& in, std::size_t length,
                   bool* ran_out = nullptr)
{
    std::size_t next = 1;
    auto read = [&]() -> unsigned { return next < in.size() ? in[next++] : (++next, 0u); };
    unsigned b = read();
    std::uint32_t low = b >> 1;
    std::uint32_t range = 0x80;
    Bytes out;
    for (std::size_t i = 0; i < length; ++i) {
        while (range <= 0x00800000u) {
            range <<= 8;
            const unsigned c = read();
            low = (low << 8) | ((b & 1u) << 7) | (c >> 1);
            b = c;
        }
        const std::uint32_t r = range >> bits;
        const std::uint32_t t = low / r;
        unsigned s;
        if (t >= prob[256]) {
            s = 255;
            low -= r * prob[255];
            range -= r * prob[255];
        } else {
            s = t >= prob[128] ? 128 : 0;
            for (unsigned k = 64; k >= 1; k /= 2) {
                if (t >= prob[s + k]) {
                    s += k;
                }
            }
            low -= r * prob[s];
            range = s < 255 ? r * (prob[s + 1] - prob[s]) : range - r * prob[255];
        }
        out.push_back(static_cast<unsigned char>(s));
    }
    if (ran_out != nullptr) {
        *ran_out = next > in.size();
    }
    return out;
}

// Channels whose values, table and length steer the coder through its
// cases: one byte out for nearly every value, several values per byte, the
// carries that values near the top of the table bring, values of one share,
// and value 255 with the remainder of the range.
Bytes channel(const std::string& kind, std::size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(length);
    for (auto& v : b) {
        const unsigned r = random();
        if (kind == "noise") {
            v = static_cast<unsigned char>(r);
        } else if (kind == "skewed") {
            v = static_cast<unsigned char>(std::lround(std::normal_distribution<double>(0, 2)(random)));
        } else if (kind == "top") {  // mostly 255 and 254: long carries
            v = static_cast<unsigned char>(r % 64 == 0 ? r >> 8 : 254 + (r >> 20) % 2);
        } else if (kind == "rare") {  // one common value and rare others
            v = r % 500 == 0 ? static_cast<unsigned char>(r >> 12) : 3;
        } else {  // "two": two values, a quarter and three quarters
            v = r % 4 == 0 ? 0 : 255;
        }
    }
    return b;
}

RangeTable table_for(const Bytes& in)
{
    unsigned counts[256] = {};
    for (const unsigned v : in) {
        ++counts[v];
    }
    RangeTable table;
    build_shares(counts, in.size(), table.prob, table.bits);
    prepare_table(table, true);
    return table;
}

const char* const kinds[] = {"noise", "skewed", "top", "rare", "two"};
const std::size_t lengths[] = {1, 2, 3, 5, 8, 9, 15, 100, 1000, 4096, 50000, 300000, 600000};

TEST(RangeCoder, StreamsAreTheModelsByteForByte)
{
    for (const char* kind : kinds) {
        for (std::size_t length : lengths) {
            const Bytes in = channel(kind, length, static_cast<unsigned>(length * 7 + 1));
            const RangeTable table = table_for(in);
            const Bytes expected = model_encode(table.prob, table.bits, in);
            Bytes out(3 * length + 16, 0xA5);
            const std::size_t emitted = range_encode(table, in.data(), in.size(), out.data());
            ASSERT_EQ(emitted, expected.size()) << kind << " " << length;
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << kind << " " << length;
            for (std::size_t i = emitted; i < out.size(); ++i) {
                ASSERT_EQ(out[i], 0xA5) << "wrote past the stream: " << kind << " " << length;
            }
            EXPECT_EQ(model_decode(table.prob, table.bits, expected, length), in) << kind << " " << length;
            Bytes back(length);
            ASSERT_EQ(range_decode(table, out.data(), emitted, back.data(), length), Status::ok)
                << kind << " " << length;
            EXPECT_EQ(back, in) << kind << " " << length;
        }
    }
}

TEST(RangeCoder, SideBySideIsOneByOne)
{
    // Three and four channels of different kinds and lengths, so that they
    // end one after another and the last ones go on alone.
    for (unsigned seed = 0; seed < 6; ++seed) {
        const int count = seed % 2 == 0 ? 3 : 4;
        Bytes in[max_side_by_side];
        RangeTable tables[max_side_by_side];
        Bytes expected[max_side_by_side];
        Bytes out[max_side_by_side];
        const RangeTable* table_of[max_side_by_side];
        const unsigned char* in_of[max_side_by_side];
        unsigned char* out_of[max_side_by_side];
        std::size_t length[max_side_by_side];
        for (int c = 0; c < count; ++c) {
            length[c] = seed == 0 ? 70000 : 20000 + 37000 * ((seed + 3 * c) % 5) + c;
            in[c] = channel(kinds[(seed + c) % 5], length[c], seed * 10 + c);
            tables[c] = table_for(in[c]);
            expected[c] = model_encode(tables[c].prob, tables[c].bits, in[c]);
            out[c].assign(3 * length[c] + 16, 0);
            table_of[c] = &tables[c];
            in_of[c] = in[c].data();
            out_of[c] = out[c].data();
        }
        std::size_t emitted[max_side_by_side];
        range_encode_side_by_side(count, table_of, in_of, length, out_of, emitted);
        Bytes back[max_side_by_side];
        unsigned char* back_of[max_side_by_side];
        const unsigned char* coded_of[max_side_by_side];
        for (int c = 0; c < count; ++c) {
            ASSERT_EQ(emitted[c], expected[c].size()) << seed << " " << c;
            ASSERT_TRUE(std::equal(expected[c].begin(), expected[c].end(), out[c].begin())) << seed << " " << c;
            back[c].assign(length[c], 0);
            back_of[c] = back[c].data();
            coded_of[c] = out[c].data();
        }
        ASSERT_EQ(range_decode_side_by_side(count, table_of, coded_of, emitted, back_of, length), Status::ok);
        for (int c = 0; c < count; ++c) {
            EXPECT_EQ(back[c], in[c]) << seed << " " << c;
        }
    }
}

TEST(RangeCoder, ShortStreamsReadZerosAndSayTruncated)
{
    // A stream cut short decodes as the model decodes it, with zeros past
    // the end, and is reported as truncated exactly when the model reads
    // past its end (the last bytes of a stream are not always needed);
    // unless the decoder finds the values damaged first.
    for (const char* kind : kinds) {
        const Bytes in = channel(kind, 5000, 77);
        const RangeTable table = table_for(in);
        const Bytes stream = model_encode(table.prob, table.bits, in);
        int truncated = 0;
        for (std::size_t cut : {std::size_t(1), std::size_t(2), stream.size() / 2, stream.size() - 4,
                                stream.size() - 1}) {
            const Bytes part(stream.begin(), stream.begin() + static_cast<long>(cut));
            Bytes back(in.size());
            const Status status = range_decode(table, part.data(), part.size(), back.data(), back.size());
            bool ran_out = false;
            const Bytes expected = model_decode(table.prob, table.bits, part, in.size(), &ran_out);
            if (status != Status::bad_stream) {
                EXPECT_EQ(status, ran_out ? Status::truncated : Status::ok) << kind << " " << cut;
                EXPECT_EQ(back, expected) << kind << " " << cut;
            }
            truncated += status == Status::truncated;
        }
        EXPECT_GT(truncated, 0) << kind;
        Bytes longer = stream;
        longer.insert(longer.end(), 9, 0x5A);
        Bytes back(in.size());
        EXPECT_EQ(range_decode(table, longer.data(), longer.size(), back.data(), back.size()), Status::ok);
        EXPECT_EQ(back, in);
    }
}

TEST(RangeCoder, DamagedStreamsStayInTheirBuffers)
{
    // Random bytes under every kind of table: whatever the result, the
    // decoder reads only its input and writes only its output (the
    // sanitizer build checks both).
    std::mt19937 random(5);
    for (const char* kind : kinds) {
        const RangeTable table = table_for(channel(kind, 20000, 3));
        for (int trial = 0; trial < 40; ++trial) {
            Bytes junk(1 + random() % 3000);
            for (auto& v : junk) {
                v = static_cast<unsigned char>(random());
            }
            Bytes back(1 + random() % 20000);
            const Status status = range_decode(table, junk.data(), junk.size(), back.data(), back.size());
            EXPECT_TRUE(status == Status::ok || status == Status::truncated || status == Status::bad_stream);
        }
    }
}

}  // namespace
