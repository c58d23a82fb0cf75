// The entropy coders. Their bytes are part of the file format: they are
// pinned, or checked against plain models that take one step at a time.
// Every stream decodes back, stays within its bound, and damage is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "entropy/compress.h"
#include "entropy/range_coder.h"
#include "entropy/zero.h"

#include "support/files.h"

namespace {

using Bytes = std::vector<unsigned char>;

using test::fnv1a;

// Channels of the kinds the codec and the range coder meet.
Bytes channel(const std::string& kind, std::size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(length);
    for (auto& v : b) {
        const unsigned r = random();
        if (kind == "noise") {
            v = static_cast<unsigned char>(r);
        } else if (kind == "sparse") {
            v = (r % 97 == 0) ? static_cast<unsigned char>(r >> 8) : 0;
        } else if (kind == "skewed") {
            v = static_cast<unsigned char>(std::lround(std::normal_distribution<double>(0, 3)(random)));
        } else if (kind == "top") {  // mostly 255 and 254: long carries
            v = static_cast<unsigned char>(r % 64 == 0 ? r >> 8 : 254 + (r >> 20) % 2);
        } else if (kind == "rare") {  // one common value and rare others
            v = r % 500 == 0 ? static_cast<unsigned char>(r >> 12) : 3;
        } else {  // "high": values of 128 and more only
            v = static_cast<unsigned char>(128 + r % 128);
        }
    }
    return b;
}

// ---- The zero-run coder against a model that takes a byte at a time.

Bytes model_rle(const Bytes& in, int level)
{
    const int length = static_cast<int>(in.size());
    auto at = [&](int k) -> unsigned char { return k < length ? in[static_cast<std::size_t>(k)] : 0; };
    Bytes out;
    for (int i = 0; i < length;) {
        if (at(i) != 0) {
            out.push_back(at(i++));
        } else if (level >= 2 && at(i + 1) != 0) {
            out.insert(out.end(), {0, at(i + 1)});
            i += 2;
        } else if (level == 3 && at(i + 1) == 0 && at(i + 2) != 0) {
            out.insert(out.end(), {0, 0, at(i + 2)});
            i += 3;
        } else {
            int n = level;
            while (i + n < length && at(i + n) == 0 && n < level + 255) {
                ++n;
            }
            const int extra = n - level;  // zigzagged: even e as e / 2, odd as 256 - (e + 1) / 2
            out.insert(out.end(), static_cast<std::size_t>(level), 0);
            out.push_back(static_cast<unsigned char>(extra % 2 == 0 ? extra / 2 : 256 - (extra + 1) / 2));
            i += n;
        }
    }
    return out;
}

// Zero runs and stretches of other bytes of lengths up to the given limits.
Bytes runs(std::size_t length, int longest_zeros, int longest_literal, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b;
    for (bool zeros = random() % 2 == 0; b.size() < length; zeros = !zeros) {
        const unsigned limit = static_cast<unsigned>(zeros ? longest_zeros : longest_literal);
        const std::size_t n = std::min<std::size_t>(1 + random() % limit, length - b.size());
        for (std::size_t k = 0; k < n; ++k) {
            b.push_back(zeros ? 0 : static_cast<unsigned char>(1 + random() % 255));
        }
    }
    return b;
}

TEST(ZeroRun, CodedBytesAndBlockAreTheModels)
{
    // Blocks across the coder's 8- and 64-byte steps, runs longer than one
    // token, and lone zeros that make the coded form longer than the block
    // part of the way.
    std::vector<Bytes> blocks;
    for (std::size_t length = 1; length <= 140; ++length) {
        blocks.push_back(runs(length, 3, 3, static_cast<unsigned>(length)));
        blocks.push_back(runs(length, 9, 2, static_cast<unsigned>(length) + 500));
    }
    unsigned seed = 1000;
    for (std::size_t length : {1000, 65536, 200000}) {
        for (int longest_zeros : {1, 2, 3, 4, 70, 300, 5000}) {
            for (int longest_literal : {1, 4, 40}) {
                blocks.push_back(runs(length, longest_zeros, longest_literal, ++seed));
            }
        }
    }
    blocks.push_back(Bytes(100000, 0));
    Bytes doubling;
    for (int k = 0; k < 32650; ++k) {
        doubling.insert(doubling.end(), {0, 1});
    }
    doubling.insert(doubling.end(), 32768, 0);
    blocks.push_back(doubling);
    for (const Bytes& block : blocks) {
        const int length = static_cast<int>(block.size());
        for (int level = 1; level <= 3; ++level) {
            const Bytes expected = model_rle(block, level);
            // Exactly the room the coder is promised: the sanitizer build
            // catches a step past it.
            Bytes coded(std::max(block.size(), expected.size()), 0xEE);
            const int n = zero::RLE(block.data(), coded.data(), length, level);
            ASSERT_EQ(Bytes(coded.begin(), coded.begin() + std::max(n, 0)), expected) << length << " level " << level;
            const Bytes exact(coded.begin(), coded.begin() + n);
            Bytes back(block.size(), 0xEE);
            ASSERT_EQ(zero::deRLE(exact.data(), n, back.data(), length, level), n) << length << " level " << level;
            ASSERT_EQ(back, block) << length << " level " << level;
        }
    }
}

TEST(ZeroRun, PinnedTokensAndDamagedStreams)
{
    auto zeros_then = [](std::size_t n, unsigned char last) {
        Bytes b(n, 0);
        b.push_back(last);
        return b;
    };
    const struct {
        Bytes block;
        int level;
        Bytes coded;
    } pinned[] = {
        {{5, 0, 0, 0, 7}, 1, {5, 0, 1, 7}},
        {{5, 0, 7, 0, 0, 0, 0, 9}, 2, {5, 0, 7, 0, 0, 1, 9}},
        {{0, 0, 9, 0, 0, 0, 4}, 3, {0, 0, 9, 0, 0, 0, 0, 4}},
        {zeros_then(4, 3), 1, {0, 0xFE, 3}},
        {zeros_then(4, 3), 3, {0, 0, 0, 0xFF, 3}},
        {zeros_then(256, 1), 1, {0, 0x80, 1}},
        {zeros_then(257, 1), 1, {0, 0x80, 0, 0, 1}},
        {zeros_then(259, 1), 3, {0, 0, 0, 0x80, 0, 1}},
        {{7, 0}, 3, {7, 0, 0, 0, 0}},  // the block's end counts as zeros
    };
    for (const auto& p : pinned) {
        Bytes coded(p.block.size() * 2 + 8);
        coded.resize(static_cast<std::size_t>(zero::RLE(p.block.data(), coded.data(), int(p.block.size()), p.level)));
        EXPECT_EQ(coded, p.coded) << p.block.size() << " level " << p.level;
        Bytes back(p.block.size(), 0xEE);
        EXPECT_EQ(zero::deRLE(coded.data(), int(coded.size()), back.data(), int(back.size()), p.level),
                  int(coded.size()));
        EXPECT_EQ(back, p.block);
    }
    const struct {
        Bytes coded;
        int level;
    } damaged[] = {
        {{0, 0x04}, 1},                    // 9 zeros: past the block by more than a last token may
        {{5, 5, 5, 5, 5, 5, 0, 0, 9}, 3},  // a literal triple past the end
        {{5, 0}, 2},                       // the input ends inside a token
        {{5, 0}, 1},
    };
    for (const auto& d : damaged) {
        Bytes out(8, 0xEE);
        EXPECT_EQ(zero::deRLE(d.coded.data(), int(d.coded.size()), out.data(), 8, d.level), -1);
    }
}

// ---- Channel streams: level, table and range coder together.

Bytes compact(const Bytes& in)
{
    Compress c;
    EXPECT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(in.size()) + 16));
    Bytes out(compact_bound(in.size()) + 64, 0xAA);
    const unsigned length = c.compact(in.data(), out.data(), static_cast<unsigned>(in.size()));
    EXPECT_LE(length, compact_bound(in.size()));
    EXPECT_EQ(out[length - 1], 0);  // the reported length's unwritten last byte
    for (std::size_t i = length; i < out.size(); ++i) {
        EXPECT_EQ(out[i], 0xAA) << "written past the reported length of " << in.size();
    }
    out.resize(length);
    return out;
}

Status uncompact(const Bytes& stream, Bytes& out)
{
    Compress c;
    EXPECT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(out.size()) + 16));
    return c.uncompact(stream.data(), stream.size(), out.data(), static_cast<unsigned>(out.size()));
}

TEST(Channel, PinnedStreamsAndShares)
{
    Bytes sparse(100, 0);
    sparse[0] = 1;
    sparse[99] = 2;
    const struct {
        Bytes in;
        Bytes stream;
    } pinned[] = {
        {{0x61, 0x62, 0x63}, {0x00, 0xD7, 0x0B, 0x33, 0x61, 0x9C, 0x58, 0x00, 0x00, 0x00, 0x00}},
        {{0x61, 0x61, 0x61, 0x61}, {0x00, 0xD7, 0x09, 0xB8, 0x67, 0x80, 0, 0, 0, 0, 0}},
        {{0x01}, {0x00, 0xF6, 0xC3, 0xFC, 0, 0, 0, 0, 0}},
        {{}, {0x00, 0xE3, 0x00, 0, 0, 0, 0, 0}},
        {sparse, {0x01, 0x04, 0x00, 0x00, 0x00, 0x66, 0x6C, 0x39, 0x8D, 0xCE, 0x00, 0x4E, 0, 0, 0, 0, 0}},
    };
    for (const auto& p : pinned) {
        EXPECT_EQ(compact(p.in), p.stream) << p.in.size();
    }

    // Shares: the single-precision ratio total / length applied in double,
    // truncated, and the remainder handed to the values below 128 in turn
    // (to those from 128 on when none below occurs). 50 bytes: 25 ones,
    // 8 fours, 17 sevens take 32, 11 and 21 of 64, where a ratio divided in
    // double precision would give 33, 10 and 21.
    Compress c;
    ASSERT_TRUE(c.InitCompressBuffers(64));
    Bytes mixed;
    for (auto [value, count] : {std::pair{1, 25}, {4, 8}, {7, 17}}) {
        mixed.insert(mixed.end(), count, static_cast<unsigned char>(value));
    }
    std::shuffle(mixed.begin(), mixed.end(), std::mt19937(1));
    const struct {
        Bytes in;
        unsigned bits;
        std::vector<std::pair<int, unsigned>> shares;  // value, share
    } tables[] = {
        {mixed, 6, {{1, 32}, {4, 11}, {7, 21}}},
        {Bytes(3, 9), 2, {{9, 4}}},  // 1.33333337 scales 3 to 4
        {{1, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209}, 4, {{1, 6}, {200, 1}, {209, 1}}},
        {Bytes(25, 0x41), 5, {{0x41, 32}}},
        {Bytes(43, 200), 6, {{200, 64}}},
    };
    for (const auto& t : tables) {
        c.calcprob(t.in.data(), static_cast<unsigned>(t.in.size()));
        EXPECT_EQ(c.prob_bits, t.bits);
        for (auto [value, share] : t.shares) {
            EXPECT_EQ(c.prob[value + 1] - c.prob[value], share) << t.in.size() << " value " << value;
        }
    }
    EXPECT_EQ(fnv1a(compact(mixed)), 0xd5c9b3953972ce98u);
    // Zero-run coding pays when it saves a thousandth of the channel (and 16
    // bytes at least): 1,000 runs of three zeros save 1,000 bytes of 200,000.
    Bytes runs_of_three = channel("high", 200000, 4);
    for (std::size_t k = 0; k < 1000; ++k) {
        std::fill_n(runs_of_three.begin() + static_cast<long>(k * 200), 3, 0);
    }
    EXPECT_EQ(compact(runs_of_three)[0], 1);
    const Bytes more = channel("high", 900000, 5);
    runs_of_three.insert(runs_of_three.end(), more.begin(), more.end());  // now not a thousandth
    EXPECT_EQ(compact(runs_of_three)[0], 0);
    // Counts of up to 15 bits in the table.
    EXPECT_EQ(fnv1a(compact(channel("skewed", 200000, 3))), 0x721d9b333f90fa53u);
}

TEST(Channel, EveryKindAndLevelComesBackWithinItsBound)
{
    std::vector<Bytes> channels = {{}, Bytes(70000, 0)};
    for (const char* kind : {"noise", "sparse", "skewed", "high"}) {
        for (std::size_t length : {1, 2, 3, 7, 29, 31, 255, 256, 257, 4097, 65536}) {
            channels.push_back(channel(kind, length, static_cast<unsigned>(length)));
        }
    }
    // Incompressible channels of every small length, where the table weighs most.
    for (std::size_t length = 0; length < 300; length += 7) {
        channels.push_back(channel("noise", length, static_cast<unsigned>(length) + 99));
    }
    // Lone zeros cost a byte each at level 1 only, pairs at levels 1 and 2:
    // their mix with long runs steers the level to each in turn.
    Bytes levels[3];
    for (int i = 0; i < 300; ++i) {
        levels[0].insert(levels[0].end(), {0, 0, 0, 0, 5});
        levels[1].insert(levels[1].end(), {0, 5, 0, 5, 0, 0, 0, 0, 5});
        levels[2].insert(levels[2].end(), {0, 5, 0, 5, 0, 5, 0, 0, 5, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 5});
    }
    for (int level = 1; level <= 3; ++level) {
        const Bytes& b = levels[level - 1];
        for (std::size_t cut : {b.size(), b.size() - 1, b.size() - 2}) {
            channels.emplace_back(b.begin(), b.begin() + static_cast<long>(cut));
            EXPECT_EQ(compact(channels.back())[0], level);
        }
    }
    for (const Bytes& in : channels) {
        Bytes out(in.size(), 0xEE);
        ASSERT_EQ(uncompact(compact(in), out), Status::ok) << in.size();
        EXPECT_EQ(out, in) << in.size();
    }
}

TEST(Channel, AboveTheRangeCodersTotalEveryValueKeepsAShare)
{
    Bytes big = channel("skewed", 9000000, 11);
    big[123] = 0x7F;  // a value that occurs once
    Compress c;
    ASSERT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(big.size())));
    c.calcprob(big.data(), static_cast<unsigned>(big.size()));
    EXPECT_EQ(c.prob_bits, 23u);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(c.counts[v] != 0, c.prob[v + 1] > c.prob[v]) << v;
    }
    Bytes out(big.size());
    const Bytes stream = compact(big);
    EXPECT_EQ(fnv1a(stream), 0x58863383ddeadb7eu);  // counts of up to 24 bits in the table
    ASSERT_EQ(uncompact(stream, out), Status::ok);
    EXPECT_TRUE(out == big);
}

TEST(Channel, DamagedStreamsAreRefused)
{
    const Bytes in = channel("skewed", 3000, 5);
    const Bytes stream = compact(in);
    // The last bytes hold no information (the unwritten byte and the coder's
    // final zero bits may be), so every cut from there on down.
    for (std::size_t cut = 0; cut + 3 < stream.size(); ++cut) {
        Bytes out(in.size());
        EXPECT_NE(uncompact(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)), out), Status::ok) << cut;
    }
    Bytes endless(600, 0);  // a count table that never ends
    const struct {
        Bytes stream;
        std::size_t length;
        Status status;
    } damaged[] = {
        {endless, 10, Status::bad_table},
        {{7, 0xE3, 0, 0, 0, 0, 0}, 10, Status::bad_level},
        {{1, 0xFF, 0xFF, 0xFF, 0x7F, 0xE3, 0, 0, 0}, 10, Status::bad_size},  // a zero-run length past the buffer
        {compact({0x61, 0x62, 0x63}), 4, Status::bad_table},                 // counts of another length
        {compact({0x61, 0x62, 0x63}), 2, Status::bad_table},
        {{0, 0x00, 0x01, 0xFF, 0, 0, 0}, 4, Status::bad_table},             // eight digits before the closing bit
    };
    for (const auto& d : damaged) {
        Bytes out(d.length);
        EXPECT_EQ(uncompact(d.stream, out), d.status);
    }
}

// ---- The range coder against a model that holds back its last byte and
// counts the 0xFF bytes behind it.

Bytes model_encode(const RangeTable& table, const Bytes& in)
{
    const std::uint32_t* prob = table.prob;
    Bytes out;
    std::uint32_t low = 0;
    std::uint32_t range = 0x80000000u;
    unsigned held = 0;
    std::uint32_t pending = 0;
    for (const unsigned s : in) {
        const std::uint32_t r = range >> table.bits;
        low += r * prob[s];
        range = s < 255 ? r * (prob[s + 1] - prob[s]) : range - r * prob[255];
        for (; range <= 0x00800000u; range <<= 8, low = (low << 8) & 0x7FFFFFFFu) {
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
        }
    }
    const bool carry = (low >> 23) > 255;
    out.push_back(static_cast<unsigned char>(carry ? held + 1 : held));
    out.insert(out.end(), pending, carry ? 0x00 : 0xFF);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>((low << 1) >> shift));
    }
    return out;
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

const char* const kinds[] = {"noise", "skewed", "top", "rare", "high"};

TEST(RangeCoder, StreamsAreTheModelsAndDecodeBack)
{
    for (const char* kind : kinds) {
        for (std::size_t length : {1, 2, 3, 5, 8, 9, 15, 100, 1000, 50000, 600000}) {
            const Bytes in = channel(kind, length, static_cast<unsigned>(length * 7 + 1));
            const RangeTable table = table_for(in);
            const Bytes expected = model_encode(table, in);
            Bytes out(3 * length + 16, 0xA5);
            const std::size_t emitted = range_encode(table, in.data(), in.size(), out.data());
            ASSERT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(emitted)), expected) << kind << " " << length;
            ASSERT_EQ(out[emitted], 0xA5) << kind << " " << length;
            Bytes back(length);
            ASSERT_EQ(range_decode(table, out.data(), emitted, back.data(), length), Status::ok) << kind << length;
            EXPECT_EQ(back, in) << kind << " " << length;
        }
    }
}

TEST(RangeCoder, SideBySideIsOneByOne)
{
    // Three and four channels of different kinds and lengths, so that they
    // end one after another and the last ones go on alone.
    for (unsigned seed = 0; seed < 4; ++seed) {
        const int count = seed % 2 == 0 ? 3 : 4;
        Bytes in[max_side_by_side], out[max_side_by_side], back[max_side_by_side];
        RangeTable tables[max_side_by_side];
        const RangeTable* table_of[max_side_by_side];
        const unsigned char* in_of[max_side_by_side];
        unsigned char *out_of[max_side_by_side], *back_of[max_side_by_side];
        std::size_t length[max_side_by_side], emitted[max_side_by_side];
        for (int c = 0; c < count; ++c) {
            length[c] = seed == 0 ? 70000 : 20000 + 37000 * ((seed + 3 * c) % 5) + c;
            in[c] = channel(kinds[(seed + c) % 5], length[c], seed * 10 + c);
            tables[c] = table_for(in[c]);
            out[c].assign(3 * length[c] + 16, 0);
            back[c].assign(length[c], 0);
            table_of[c] = &tables[c];
            in_of[c] = in[c].data();
            out_of[c] = out[c].data();
            back_of[c] = back[c].data();
        }
        range_encode_side_by_side(count, table_of, in_of, length, out_of, emitted);
        for (int c = 0; c < count; ++c) {
            out[c].resize(emitted[c]);
            ASSERT_EQ(out[c], model_encode(tables[c], in[c])) << seed << " " << c;
        }
        ASSERT_EQ(range_decode_side_by_side(count, table_of, out_of, emitted, back_of, length), Status::ok);
        for (int c = 0; c < count; ++c) {
            EXPECT_EQ(back[c], in[c]) << seed << " " << c;
        }
    }
}

}  // namespace
