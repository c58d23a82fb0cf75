#include "entropy/range_coder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// Counts every byte value. Four interleaved tables keep successive equal
// bytes from waiting on each other's increments.
void count_bytes(const unsigned char* in, std::size_t length, unsigned int* counts)
{
    unsigned int partial[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++partial[0][in[i]];
        ++partial[1][in[i + 1]];
        ++partial[2][in[i + 2]];
        ++partial[3][in[i + 3]];
    }
    for (; i < length; ++i) {
        ++partial[0][in[i]];
    }
    for (int v = 0; v < 256; ++v) {
        counts[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
    }
}

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

