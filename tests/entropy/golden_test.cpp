// The coded bytes are part of the file format: these are fixed values that
// every correct coder produces.
#include <gtest/gtest.h>

#include <vector>

#include "entropy/compress.h"
#include "entropy/fibonacci.h"
#include "entropy/zero.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes rle(const Bytes& in, int level)
{
    Bytes out(in.size() * 2 + 8);
    out.resize(static_cast<std::size_t>(zero::RLE(in.data(), out.data(), static_cast<int>(in.size()), level)));
    return out;
}

Bytes zeros_then(std::size_t n, unsigned char last)
{
    Bytes b(n, 0);
    b.push_back(last);
    return b;
}

TEST(ZeroRunGolden, Tokens)
{
    EXPECT_EQ(rle({5, 0, 0, 0, 7}, 1), (Bytes{5, 0, 1, 7}));
    EXPECT_EQ(rle({0, 7}, 1), (Bytes{0, 0, 7}));
    EXPECT_EQ(rle({5, 0, 7, 0, 0, 0, 0, 9}, 2), (Bytes{5, 0, 7, 0, 0, 1, 9}));
    EXPECT_EQ(rle({0, 0, 9, 0, 0, 0, 4}, 3), (Bytes{0, 0, 9, 0, 0, 0, 0, 4}));
    EXPECT_EQ(rle(zeros_then(4, 3), 1), (Bytes{0, 0xFE, 3}));
    EXPECT_EQ(rle(zeros_then(4, 3), 2), (Bytes{0, 0, 1, 3}));
    EXPECT_EQ(rle(zeros_then(4, 3), 3), (Bytes{0, 0, 0, 0xFF, 3}));
    EXPECT_EQ(rle(zeros_then(256, 1), 1), (Bytes{0, 0x80, 1}));
    EXPECT_EQ(rle(zeros_then(257, 1), 1), (Bytes{0, 0x80, 0, 0, 1}));
    EXPECT_EQ(rle(zeros_then(258, 1), 3), (Bytes{0, 0, 0, 0x80, 1}));
    EXPECT_EQ(rle(zeros_then(259, 1), 3), (Bytes{0, 0, 0, 0x80, 0, 1}));
}

TEST(ZeroRunGolden, TheBlockEndCountsAsZeros)
{
    // A zero among the last level - 1 bytes closes with a run token.
    EXPECT_EQ(rle({7, 0}, 2), (Bytes{7, 0, 0, 0}));
    EXPECT_EQ(rle({7, 0}, 3), (Bytes{7, 0, 0, 0, 0}));
    EXPECT_EQ(rle({7, 0, 0}, 3), (Bytes{7, 0, 0, 0, 0}));
    EXPECT_EQ(rle({7, 0}, 1), (Bytes{7, 0, 0}));
    // The decoder drops what the last token stands for beyond the block.
    for (int level = 2; level <= 3; ++level) {
        const Bytes coded = rle({7, 0}, level);
        Bytes back(2, 0xEE);
        EXPECT_EQ(zero::deRLE(coded.data(), static_cast<int>(coded.size()), back.data(), 2, level),
                  static_cast<int>(coded.size()));
        EXPECT_EQ(back, (Bytes{7, 0}));
    }
}

TEST(ZeroRunGolden, LevelChoice)
{
    EXPECT_EQ(zero::testRLE(Bytes(100, 9).data(), 100, 16), 0);
    Bytes mixed(40, 1);
    mixed.insert(mixed.end(), 20, 0);
    mixed.insert(mixed.end(), 40, 1);
    EXPECT_EQ(zero::testRLE(mixed.data(), 100, 16), 1);  // scores 18, 17, 16
    EXPECT_EQ(zero::testRLE(mixed.data(), 100, 19), 0);
    Bytes pairs;
    for (int i = 0; i < 50; ++i) {
        pairs.insert(pairs.end(), {1, 0});
    }
    EXPECT_EQ(zero::testRLE(pairs.data(), 100, 16), 0);  // scores -50, 0, 0
    EXPECT_EQ(zero::testRLE(pairs.data(), 100, 0), 2);   // a tie goes to the lower level
    Bytes quads;
    for (int i = 0; i < 40; ++i) {
        quads.insert(quads.end(), {1, 0, 0, 0});
    }
    EXPECT_EQ(zero::testRLE(quads.data(), 160, 16), 1);  // scores 40, 0, -40
    EXPECT_EQ(zero::testRLE(Bytes(1000, 0).data(), 1000, 16), 1);
    EXPECT_EQ(zero::testRLE(Bytes(1000, 0).data(), 1000, 993), 0);  // the best score is 992
    // Triples of zeros pay best at level 3: 01 00 00 00 ... scores 40, 0, -40;
    // runs of two: 01 00 00 scores 0, -1 each, 0 at level 3.
    Bytes runs;
    for (int i = 0; i < 30; ++i) {
        runs.insert(runs.end(), {1, 0, 0, 0, 0, 0});
    }
    EXPECT_EQ(zero::testRLE(runs.data(), 180, 16), 1);  // 5 zeros: 3, 2, 1 each
}

Bytes encode_table(const std::vector<unsigned>& counts)
{
    Bytes out(1300, 0xAA);
    out.resize(FibonacciEncode2(counts.data(), out.data(), static_cast<unsigned>(counts.size())) + 1);
    return out;  // with the byte after the table
}

TEST(FibonacciGolden, Tables)
{
    std::vector<unsigned> counts(256, 0);
    EXPECT_EQ(encode_table(counts), (Bytes{0xE3, 0x00, 0x00}));  // 16 bits: the next byte is cleared
    counts[97] = counts[98] = counts[99] = 1;
    EXPECT_EQ(encode_table(counts), (Bytes{0xD7, 0x0B, 0x33, 0x61, 0x9C, 0x00}));  // 40 bits: the next byte is cleared
    EXPECT_EQ(encode_table(std::vector<unsigned>(256, 1)), [] {
        Bytes b(128, 0x66);
        b.push_back(0x00);
        return b;
    }());
    EXPECT_EQ(encode_table(std::vector<unsigned>(256, 0xFFFFFFFEu)).size(), 1248u + 1);
    // Counts 1, 2, 3 and 7: 0110 0111 001100 1011000, then a zero at the
    // last entry with its run of 1: 11 11.
    std::vector<unsigned> small = {1, 2, 3, 7, 0};
    EXPECT_EQ(encode_table(small), (Bytes{0x67, 0x32, 0xC7, 0x80, 0xAA}));
}

TEST(FibonacciGolden, DecodingGivesBackEveryCountAndItsLength)
{
    std::vector<unsigned> counts(256, 0);
    for (int v = 0; v < 256; v += 3) {
        counts[v] = static_cast<unsigned>(v * v * 131u + 7u);
    }
    counts[255] = 0;
    counts[17] = 0xFFFFFFFEu;
    Bytes coded(1300);
    const unsigned m = FibonacciEncode2(counts.data(), coded.data(), 256);
    std::vector<unsigned> back(256, 99);
    unsigned consumed = 0;
    ASSERT_EQ(FibonacciDecode2(coded.data(), m, back.data(), 256, &consumed), Status::ok);
    EXPECT_EQ(consumed, m);
    EXPECT_EQ(back, counts);
    // Any shorter input runs out.
    for (unsigned cut = 0; cut < m; ++cut) {
        EXPECT_EQ(FibonacciDecode2(coded.data(), cut, back.data(), 256, &consumed), Status::truncated) << cut;
    }
}

Bytes compact(const Bytes& channel, unsigned* reported = nullptr)
{
    Compress c;
    EXPECT_TRUE(c.InitCompressBuffers(static_cast<unsigned>(channel.size()) + 16));
    Bytes out(compact_bound(channel.size()), 0xAA);
    const unsigned length = c.compact(channel.data(), out.data(), static_cast<unsigned>(channel.size()));
    if (reported != nullptr) {
        *reported = length;
    }
    out.resize(length - 1);  // the stream without the unwritten last byte
    return out;
}

TEST(ChannelGolden, Streams)
{
    unsigned reported = 0;
    EXPECT_EQ(compact({0x61, 0x62, 0x63}, &reported), (Bytes{0x00, 0xD7, 0x0B, 0x33, 0x61, 0x9C, 0x58, 0x00, 0x00, 0x00}));
    EXPECT_EQ(reported, 11u);
    EXPECT_EQ(compact({0x61, 0x61, 0x61, 0x61}, &reported), (Bytes{0x00, 0xD7, 0x09, 0xB8, 0x67, 0x80, 0, 0, 0, 0}));
    EXPECT_EQ(reported, 11u);
    EXPECT_EQ(compact({0x01}, &reported), (Bytes{0x00, 0xF6, 0xC3, 0xFC, 0, 0, 0, 0}));
    EXPECT_EQ(reported, 9u);
    EXPECT_EQ(compact({}, &reported), (Bytes{0x00, 0xE3, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(reported, 8u);
    Bytes sparse(100, 0);
    sparse[0] = 1;
    sparse[99] = 2;
    EXPECT_EQ(compact(sparse, &reported),
              (Bytes{0x01, 0x04, 0x00, 0x00, 0x00, 0x66, 0x6C, 0x39, 0x8D, 0xCE, 0x00, 0x4E, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(reported, 17u);
}

TEST(ChannelGolden, UnwrittenLastByteIsZero)
{
    Compress c;
    ASSERT_TRUE(c.InitCompressBuffers(64));
    Bytes out(compact_bound(3), 0xAA);
    const Bytes abc = {0x61, 0x62, 0x63};
    const unsigned length = c.compact(abc.data(), out.data(), 3);
    EXPECT_EQ(out[length - 1], 0);
}

TEST(ChannelGolden, SharesOfSingleValuedChannels)
{
    // Truncated shares of one value fall one short of the total; the
    // remainder goes to that value.
    Compress c;
    ASSERT_TRUE(c.InitCompressBuffers(64));
    for (unsigned length : {25u, 29u, 31u, 41u, 43u}) {
        const Bytes channel(length, 0x41);
        c.calcprob(channel.data(), length);
        EXPECT_EQ(c.prob[0x41], 0u);
        EXPECT_EQ(c.prob[0x42] - c.prob[0x41], c.prob[256]) << length;
        EXPECT_EQ(c.prob[256], 1u << c.prob_bits);
        // A value of 128 or more takes the remainder too, rather than the
        // placing never ending.
        const Bytes high(length, 200);
        c.calcprob(high.data(), length);
        EXPECT_EQ(c.prob[201] - c.prob[200], c.prob[256]) << length;
    }
    // Total 4 over length 3: the single-precision ratio 1.33333337 scales a
    // count of 3 to 4 and leaves nothing over.
    const Bytes three = {9, 9, 9};
    c.calcprob(three.data(), 3);
    EXPECT_EQ(c.prob_bits, 2u);
    EXPECT_EQ(c.prob[10] - c.prob[9], 4u);
}

}  // namespace
