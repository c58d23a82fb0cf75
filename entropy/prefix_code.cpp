#include <algorithm>

#include "entropy/prefix.h"

namespace {

constexpr unsigned full = 1u << prefix_longest;  // a complete code's Kraft sum, in units of the longest code

// Huffman's lengths of the n present symbols, sorted by count ascending:
// leaves and merged nodes each come out of their own queue in order, so
// the two smallest are always at the queues' heads.
void huffman_depths(const std::uint32_t* weight_in, int n, unsigned char* depth)
{
    std::uint64_t weight[2 * 256];
    int parent[2 * 256];
    std::copy(weight_in, weight_in + n, weight);
    int leaf = 0;
    int node = n;
    for (int next = n; next < 2 * n - 1; ++next) {
        int pick[2];
        for (int& p : pick) {
            const bool take_leaf = leaf < n && (node >= next || weight[leaf] <= weight[node]);
            p = take_leaf ? leaf++ : node++;
        }
        weight[next] = weight[pick[0]] + weight[pick[1]];
        parent[pick[0]] = parent[pick[1]] = next;
    }
    if (n < 2) {
        std::fill(depth, depth + n, 1);  // not coded: one value is a stream of its own form
        return;
    }
    unsigned char at[2 * 256];
    at[2 * n - 2] = 0;
    for (int k = 2 * n - 3; k >= 0; --k) {
        at[k] = static_cast<unsigned char>(std::min(at[parent[k]] + 1, 255));
    }
    std::copy(at, at + n, depth);
}

// Lengths past the longest are cut to it, and the code made complete
// again: the longest codes below the limit are lengthened while it is
// overfull (each the least a step can take off the sum), then the longest
// are shortened while it is not full, which the sum's units always allow.
void limit_depths(int n, unsigned char* depth)
{
    unsigned sum = 0;
    for (int k = 0; k < n; ++k) {
        depth[k] = std::min<unsigned char>(depth[k], prefix_longest);
        sum += full >> depth[k];
    }
    while (sum > full) {
        int best = -1;
        for (int k = 0; k < n; ++k) {
            if (depth[k] < prefix_longest && (best < 0 || depth[k] > depth[best])) {
                best = k;
            }
        }
        sum -= full >> (depth[best] + 1);
        ++depth[best];
    }
    while (sum < full) {
        int best = -1;
        for (int k = n - 1; k >= 0; --k) {
            if (sum + (full >> depth[k]) <= full && (best < 0 || depth[k] > depth[best])) {
                best = k;
            }
        }
        sum += full >> depth[best];
        --depth[best];
    }
}

}  // namespace

void prefix_lengths(const std::uint32_t counts[256], unsigned char lengths[256])
{
    int symbols[256];
    int n = 0;
    for (int s = 0; s < 256; ++s) {
        lengths[s] = 0;
        if (counts[s] != 0) {
            symbols[n++] = s;
        }
    }
    // By count, then symbol, so that every encoder gives the same lengths;
    // an insertion sort, as there are at most 256 of them.
    for (int k = 1; k < n; ++k) {
        const int s = symbols[k];
        int at = k;
        for (; at > 0 && counts[symbols[at - 1]] > counts[s]; --at) {
            symbols[at] = symbols[at - 1];
        }
        symbols[at] = s;
    }
    std::uint32_t weight[256];
    for (int k = 0; k < n; ++k) {
        weight[k] = counts[symbols[k]];
    }
    unsigned char depth[256];
    huffman_depths(weight, n, depth);
    limit_depths(n, depth);
    for (int k = 0; k < n; ++k) {
        lengths[symbols[k]] = depth[k];
    }
}

void prefix_codes(const unsigned char lengths[256], std::uint16_t codes[256])
{
    unsigned first[prefix_longest + 2] = {};
    for (int s = 0; s < 256; ++s) {
        ++first[lengths[s] + 1];
    }
    first[1] = 0;  // absent symbols take no codes
    unsigned code = 0;
    unsigned next[prefix_longest + 1] = {};
    for (int len = 1; len <= prefix_longest; ++len) {
        code = (code + first[len]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < 256; ++s) {
        const int len = lengths[s];
        codes[s] = 0;
        if (len == 0) {
            continue;
        }
        const unsigned c = next[len]++;
        unsigned reversed = 0;
        for (int b = 0; b < len; ++b) {
            reversed |= ((c >> b) & 1u) << (len - 1 - b);
        }
        codes[s] = static_cast<std::uint16_t>(reversed);
    }
}
