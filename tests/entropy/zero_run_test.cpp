// The zero-run coder against a plain model that takes the block one byte at
// a time: the coded bytes, the chosen level and the restored block must be
// the model's for blocks of every mix of zeros and lengths, runs across the
// coder's 8- and 64-byte steps, and runs longer than one token.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "entropy/zero.h"

namespace {

using Bytes = std::vector<unsigned char>;

unsigned char model_count_byte(int extra)
{
    return static_cast<unsigned char>((extra & 1) == 0 ? extra / 2 : 256 - (extra + 1) / 2);
}

Bytes model_rle(const Bytes& in, int level)
{
    const int length = static_cast<int>(in.size());
    auto at = [&](int k) -> unsigned char { return k < length ? in[static_cast<std::size_t>(k)] : 0; };
    Bytes out;
    int i = 0;
    while (i < length) {
        const unsigned char x = at(i);
        if (x != 0) {
            out.push_back(x);
            ++i;
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
            out.insert(out.end(), static_cast<std::size_t>(level), 0);
            out.push_back(model_count_byte(n - level));
            i += n;
        }
    }
    return out;
}

int model_test(const Bytes& in, int threshold)
{
    int s1 = 0;
    int s2 = 0;
    int s3 = 0;
    std::size_t i = 0;
    while (i < in.size()) {
        if (in[i] != 0) {
            ++i;
            continue;
        }
        int n = 0;
        while (i < in.size() && in[i] == 0) {
            ++n;
            ++i;
        }
        if (n <= 256) {
            s1 += n - 2;
            s2 += n >= 2 ? n - 3 : 0;
            s3 += n >= 3 ? n - 4 : 0;
        } else {
            s1 += n - (2 * (n / 256) + 2);
            s2 += n - (3 * ((n - n / 256) / 256) + 3);
            s3 += n - (4 * ((n - (2 * n) / 256) / 256) + 4);
        }
    }
    if (s1 >= threshold && s1 >= s2 && s1 >= s3) {
        return 1;
    }
    if (s2 >= threshold && s2 >= s3) {
        return 2;
    }
    return s3 >= threshold ? 3 : 0;
}

// Blocks of runs: zero runs and stretches of other bytes whose lengths are
// drawn up to the given limits.
Bytes runs(std::size_t length, int longest_zeros, int longest_literal, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b;
    bool zeros = random() % 2 == 0;
    while (b.size() < length) {
        const int limit = zeros ? longest_zeros : longest_literal;
        const std::size_t n = std::min<std::size_t>(1 + random() % static_cast<unsigned>(limit), length - b.size());
        for (std::size_t k = 0; k < n; ++k) {
            b.push_back(zeros ? 0 : static_cast<unsigned char>(1 + random() % 255));
        }
        zeros = !zeros;
    }
    return b;
}

std::vector<Bytes> blocks()
{
    std::vector<Bytes> all;
    for (std::size_t length = 1; length <= 140; ++length) {
        all.push_back(runs(length, 3, 3, static_cast<unsigned>(length)));
        all.push_back(runs(length, 9, 2, static_cast<unsigned>(length) + 500));
    }
    unsigned seed = 1000;
    for (std::size_t length : {1000, 4096, 65536, 200000}) {
        for (int longest_zeros : {1, 2, 3, 4, 70, 300, 1000, 5000}) {
            for (int longest_literal : {1, 4, 40}) {
                all.push_back(runs(length, longest_zeros, longest_literal, ++seed));
            }
        }
    }
    all.push_back(Bytes(100000, 0));
    Bytes tail_zeros(300, 9);
    tail_zeros.insert(tail_zeros.end(), 700, 0);
    all.push_back(tail_zeros);
    // Lone zeros that double at level 1, then runs that shrink it back: the
    // coded form ends up longer than the block only part of the way.
    Bytes doubling;
    for (int k = 0; k < 32650; ++k) {
        doubling.insert(doubling.end(), {0, 1});
    }
    doubling.insert(doubling.end(), 32768, 0);
    doubling.push_back(1);
    doubling.insert(doubling.end(), 99, 0);
    all.push_back(doubling);
    return all;
}

TEST(ZeroRunModel, CodedBytesLevelAndBlockAreTheModels)
{
    for (const Bytes& block : blocks()) {
        const int length = static_cast<int>(block.size());
        const std::string label = "length " + std::to_string(length);
        for (int threshold : {1, 16, std::max(16, length / 1000)}) {
            ASSERT_EQ(zero::testRLE(block.data(), length, threshold), model_test(block, threshold)) << label;
        }
        for (int level = 1; level <= 3; ++level) {
            const Bytes expected = model_rle(block, level);
            // Every block here is exactly the room the coder is promised,
            // so that a read or write past it is caught under the sanitizer.
            Bytes coded(std::max(block.size(), expected.size()), 0xEE);
            const int n = zero::RLE(block.data(), coded.data(), length, level);
            ASSERT_EQ(n, static_cast<int>(expected.size())) << label << " level " << level;
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), coded.begin())) << label << " level " << level;
            const Bytes exact(coded.begin(), coded.begin() + n);
            Bytes back(block.size(), 0xEE);
            ASSERT_EQ(zero::deRLE(exact.data(), n, back.data(), length, level), n) << label << " level " << level;
            ASSERT_EQ(back, block) << label << " level " << level;
        }
    }
}

}  // namespace
