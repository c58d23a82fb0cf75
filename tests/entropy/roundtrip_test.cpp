// Every coder restores what it coded, stays within its bound, and refuses
// damaged input without reading or writing outside its buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "entropy/compress.h"
#include "entropy/fibonacci.h"
#include "entropy/zero.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Channels of the kinds the codec meets: noise, mostly zeros, skewed
// residual-like values, one value, values of 128 and more only.
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
        } else if (kind == "runs") {
            v = (r % 7 < 5) ? 0 : static_cast<unsigned char>(1 + r % 3);
        } else if (kind == "skewed") {
            const int d = static_cast<int>(std::round(std::normal_distribution<double>(0, 3)(random)));
            v = static_cast<unsigned char>(d);
        } else if (kind == "single") {
            v = 0x41;
        } else {  // high
            v = static_cast<unsigned char>(128 + r % 128);
        }
    }
    return b;
}

void expect_round_trip(const Bytes& in, const std::string& label)
{
    Compress encoder;
    ASSERT_TRUE(encoder.InitCompressBuffers(static_cast<unsigned>(in.size()) + 16));
    Bytes stream(compact_bound(in.size()));
    const unsigned reported = encoder.compact(in.data(), stream.data(), static_cast<unsigned>(in.size()));
    ASSERT_LE(reported, compact_bound(in.size())) << label;
    Compress decoder;
    ASSERT_TRUE(decoder.InitCompressBuffers(static_cast<unsigned>(in.size()) + 16));
    Bytes out(in.size(), 0xEE);
    ASSERT_EQ(decoder.uncompact(stream.data(), reported, out.data(), static_cast<unsigned>(in.size())), Status::ok) << label;
    EXPECT_EQ(out, in) << label;
}

TEST(ChannelRoundTrip, EveryKindAndLength)
{
    for (const char* kind : {"noise", "sparse", "runs", "skewed", "single", "high"}) {
        for (std::size_t length : {1, 2, 3, 7, 25, 29, 31, 41, 43, 255, 256, 257, 1000, 4097, 65536}) {
            expect_round_trip(channel(kind, length, static_cast<unsigned>(length)), std::string(kind) + " " +
                                                                                       std::to_string(length));
        }
    }
    expect_round_trip({}, "empty");
    expect_round_trip(Bytes(70000, 0), "all zeros");
}

TEST(ChannelRoundTrip, EveryZeroRunLevel)
{
    // Lone zeros cost a byte each at level 1 only, pairs at levels 1 and 2:
    // their mix with long runs steers the choice to each level in turn.
    Bytes ones;
    Bytes twos;
    Bytes threes;
    for (int i = 0; i < 300; ++i) {
        ones.insert(ones.end(), {0, 0, 0, 0, 5});
        twos.insert(twos.end(), {0, 5, 0, 5, 0, 0, 0, 0, 5});
        threes.insert(threes.end(), {0, 5, 0, 5, 0, 5, 0, 0, 5, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 5});
    }
    EXPECT_EQ(zero::testRLE(ones.data(), static_cast<int>(ones.size()), 16), 1);
    EXPECT_EQ(zero::testRLE(twos.data(), static_cast<int>(twos.size()), 16), 2);
    EXPECT_EQ(zero::testRLE(threes.data(), static_cast<int>(threes.size()), 16), 3);
    for (const Bytes& b : {ones, twos, threes, channel("runs", 5000, 3), channel("sparse", 5000, 4)}) {
        for (std::size_t cut : {b.size(), b.size() - 1, b.size() - 2}) {
            const Bytes part(b.begin(), b.begin() + static_cast<long>(cut));
            expect_round_trip(part, "cut " + std::to_string(cut));
            for (int level = 1; level <= 3; ++level) {
                Bytes coded(part.size() * 2 + 8);
                const int n = zero::RLE(part.data(), coded.data(), static_cast<int>(part.size()), level);
                Bytes back(part.size());
                EXPECT_EQ(zero::deRLE(coded.data(), n, back.data(), static_cast<int>(back.size()), level), n);
                EXPECT_EQ(back, part) << "level " << level;
            }
        }
    }
}

TEST(ChannelRoundTrip, PlanesAboveTheRangeCodersTotal)
{
    // More than 2^23 bytes in one call: the total stays 2^23 and every value
    // that occurs keeps a share.
    for (const char* kind : {"skewed", "noise"}) {
        Bytes big = channel(kind, 9000000, 11);
        big[123] = 0x7F;  // a value that occurs once
        Compress c;
        ASSERT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(big.size())));
        c.calcprob(big.data(), static_cast<unsigned>(big.size()));
        EXPECT_EQ(c.prob_bits, 23u);
        EXPECT_EQ(c.prob[256], 1u << 23);
        for (int v = 0; v < 256; ++v) {
            EXPECT_EQ(c.counts[v] != 0, c.prob[v + 1] > c.prob[v]) << v;
        }
        expect_round_trip(big, kind);
    }
}

TEST(ChannelRoundTrip, StaysWithinItsBound)
{
    // Incompressible channels of every small length, where the count table
    // weighs most.
    for (std::size_t length = 0; length < 300; ++length) {
        const Bytes b = channel("noise", length, static_cast<unsigned>(length) + 99);
        Compress c;
        ASSERT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(length) + 1));
        Bytes out(compact_bound(length) + 64, 0xAA);
        const unsigned reported = c.compact(b.data(), out.data(), static_cast<unsigned>(length));
        EXPECT_LE(reported, compact_bound(length));
        for (std::size_t i = reported; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0xAA) << "wrote past the reported length at " << length;
        }
    }
}

TEST(HostileChannels, EveryTruncationIsRefused)
{
    for (const char* kind : {"noise", "sparse", "skewed"}) {
        const Bytes in = channel(kind, 3000, 5);
        Compress c;
        ASSERT_TRUE(c.InitCompressBuffers(4000));
        Bytes stream(compact_bound(in.size()));
        const unsigned reported = c.compact(in.data(), stream.data(), 3000);
        // The last two bytes hold no information (the unwritten byte and the
        // coder's final zero bits may be), so cut from there on down.
        for (unsigned cut = 0; cut + 3 < reported; ++cut) {
            const Bytes part(stream.begin(), stream.begin() + cut);
            Bytes out(3000);
            EXPECT_NE(c.uncompact(part.data(), part.size(), out.data(), 3000), Status::ok) << kind << " " << cut;
        }
    }
}

TEST(HostileChannels, DamagedStreamsAreErrorsNotCrashes)
{
    std::mt19937 random(7);
    Compress c;
    ASSERT_TRUE(c.InitCompressBuffers(512));
    Bytes out(512);
    // A level byte of 7, a zero-run length beyond the buffer, a count table
    // that never ends, and counts that describe another length.
    const Bytes level7 = {7, 0xE3, 0, 0, 0, 0, 0};
    EXPECT_EQ(c.uncompact(level7.data(), level7.size(), out.data(), 10), Status::bad_level);
    const Bytes too_long = {1, 0xFF, 0xFF, 0xFF, 0x7F, 0xE3, 0, 0, 0};
    EXPECT_EQ(c.uncompact(too_long.data(), too_long.size(), out.data(), 10), Status::bad_size);
    const Bytes endless(600, 0x00);
    unsigned counts[256];
    unsigned consumed = 0;
    EXPECT_NE(FibonacciDecode2(endless.data(), endless.size(), counts, 256, &consumed), Status::ok);
    const Bytes long_code = {0x00, 0x01, 0xFF};  // eight digits before the closing bit
    EXPECT_EQ(FibonacciDecode2(long_code.data(), long_code.size(), counts, 256, &consumed), Status::bad_table);
    Bytes abc_stream(compact_bound(3));
    const Bytes abc = {0x61, 0x62, 0x63};
    const unsigned reported = c.compact(abc.data(), abc_stream.data(), 3);
    EXPECT_EQ(c.uncompact(abc_stream.data(), reported, out.data(), 4), Status::bad_table);

    // Random bytes behind every level byte.
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes junk(1 + random() % 64);
        for (auto& b : junk) {
            b = static_cast<unsigned char>(random());
        }
        junk[0] = static_cast<unsigned char>(trial % 5);
        const unsigned length = 1 + random() % 500;
        (void)c.uncompact(junk.data(), junk.size(), out.data(), length);
    }
    // Bytes flipped in a valid stream.
    const Bytes in = channel("skewed", 400, 9);
    Bytes stream(compact_bound(in.size()));
    const unsigned length = c.compact(in.data(), stream.data(), 400);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes damaged(stream.begin(), stream.begin() + length);
        damaged[random() % length] ^= static_cast<unsigned char>(1 + random() % 255);
        (void)c.uncompact(damaged.data(), damaged.size(), out.data(), 400);
    }
}

TEST(HostileChannels, ZeroRunDecoderStaysInItsBuffers)
{
    Bytes out(8, 0xEE);
    // A run that passes the block by more than the last token may.
    const Bytes run = {0, 0x04};  // 9 zeros at level 1
    EXPECT_EQ(zero::deRLE(run.data(), 2, out.data(), 8, 1), -1);
    // A literal triple that passes the end.
    const Bytes triple = {5, 5, 5, 5, 5, 5, 0, 0, 9};
    EXPECT_EQ(zero::deRLE(triple.data(), 9, out.data(), 8, 3), -1);
    // Input that ends inside a token.
    const Bytes cut = {5, 0};
    EXPECT_EQ(zero::deRLE(cut.data(), 2, out.data(), 8, 2), -1);
    EXPECT_EQ(zero::deRLE(cut.data(), 2, out.data(), 8, 1), -1);
}

}  // namespace
