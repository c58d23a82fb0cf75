// The entropy coders. Their bytes are part of the file format: the tokens
// and channel streams here are pinned, and every frame type's coded bytes
// are pinned with the frame layer. Every stream decodes back, stays within
// its bound, and damage is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "entropy/compress.h"
#include "entropy/zero.h"

#include "support/channel.h"
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

// ---- The zero-run coder.

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
    Bytes out(compact_bound(in.size()) + 64, 0xAA);
    const unsigned length = test::compact_channel(in, out.data());
    EXPECT_LE(length, compact_bound(in.size()));
    EXPECT_EQ(out[length - 1], 0);  // the reported length's unwritten last byte
    for (std::size_t i = length; i < out.size(); ++i) {
        EXPECT_EQ(out[i], 0xAA) << "written past the reported length of " << in.size();
    }
    out.resize(length);
    return out;
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
        unsigned counts[256];
        RangeTable table;
        count_bytes(t.in.data(), t.in.size(), counts);
        build_shares(counts, t.in.size(), table.prob, table.bits);
        EXPECT_EQ(table.bits, t.bits);
        for (auto [value, share] : t.shares) {
            EXPECT_EQ(table.prob[value + 1] - table.prob[value], share) << t.in.size() << " value " << value;
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
    for (const char* kind : {"noise", "sparse", "skewed", "high", "top", "rare"}) {
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
        ASSERT_EQ(test::uncompact_channel(compact(in), out), Status::ok) << in.size();
        EXPECT_EQ(out, in) << in.size();
    }
}

TEST(Channel, AboveTheRangeCodersTotalEveryValueKeepsAShare)
{
    Bytes big = channel("skewed", 9000000, 11);
    big[123] = 0x7F;  // a value that occurs once
    unsigned counts[256];
    RangeTable table;
    count_bytes(big.data(), big.size(), counts);
    build_shares(counts, big.size(), table.prob, table.bits);
    EXPECT_EQ(table.bits, 23u);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(counts[v] != 0, table.prob[v + 1] > table.prob[v]) << v;
    }
    Bytes out(big.size());
    const Bytes stream = compact(big);
    EXPECT_EQ(fnv1a(stream), 0x58863383ddeadb7eu);  // counts of up to 24 bits in the table
    ASSERT_EQ(test::uncompact_channel(stream, out), Status::ok);
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
        const Bytes short_stream(stream.begin(), stream.begin() + static_cast<long>(cut));
        EXPECT_NE(test::uncompact_channel(short_stream, out), Status::ok) << cut;
    }
    Bytes endless(600, 0);  // a count table that never ends
    const struct {
        Bytes stream;
        std::size_t length;
        Status status;
    } damaged[] = {
        {endless, 10, Status::bad_table},
        {{7, 0xE3, 0, 0, 0, 0, 0}, 10, Status::bad_level},
        {{1, 0xFF, 0xFF, 0xFF, 0x7F, 0xE3, 0, 0, 0}, 10, Status::bad_stream},  // a zero-run length past the channel
        {compact({0x61, 0x62, 0x63}), 4, Status::bad_table},                 // counts of another length
        {compact({0x61, 0x62, 0x63}), 2, Status::bad_table},
        {{0, 0x00, 0x01, 0xFF, 0, 0, 0}, 4, Status::bad_table},             // eight digits before the closing bit
    };
    for (const auto& d : damaged) {
        Bytes out(d.length);
        EXPECT_EQ(test::uncompact_channel(d.stream, out), d.status);
    }
}

}  // namespace
