// What the range encoder's and decoder's loops share: how a range is
// renormalised, and how channels of several lengths are advanced side by
// side. Within the entropy coders only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/cpu.h"
#include "entropy/range_coder.h"

// The loops over the channels coded side by side are unrolled, so that each
// channel's state stays in registers of its own.
#if defined(__clang__)
#define REELPACK_EACH_CHANNEL _Pragma("unroll")
#elif defined(__GNUC__)
#define REELPACK_EACH_CHANNEL _Pragma("GCC unroll 4")
#else
#define REELPACK_EACH_CHANNEL
#endif

namespace range_loops {

// The bits a range is shifted left by to renormalise it: a byte at a time
// while it is at most 2^23, so whole bytes of the leading zeros of
// range - 1, less one bit. A range of at least 1 needs at most three bytes.
inline unsigned renormalisation_shift(std::uint32_t range)
{
    return (unsigned(__builtin_clz((range - 1) | 1)) - 1) & ~7u;
}

// How a coder loop renormalises: a channel that takes about a byte for
// every value coded renormalises once nearly every time, which a branch
// predicts well; any other would mispredict that branch often, and takes
// the number of shifts from the range's leading zeros instead.
enum class Renormalise { by_branch, by_count };

// Orders channel numbers by length, shortest first.
inline void order_by_length(int count, const std::size_t* length, int* order)
{
    for (int c = 0; c < count; ++c) {
        int at = c;
        for (; at > 0 && length[order[at - 1]] > length[c]; --at) {
            order[at] = order[at - 1];
        }
        order[at] = c;
    }
}

// Runs `Phase<N>::run` over the channels in order of length: all of them up
// to the shortest one's end, then those left up to the next one's, and so on.
template <template <int> class Phase, typename State>
REELPACK_INLINE void in_phases(int count, const std::size_t* length, State* states, const void* tables,
                               const void* data)
{
    int order[max_side_by_side];
    order_by_length(count, length, order);
    std::size_t done = 0;
    for (int first = 0; first < count; ++first) {
        const std::size_t to = length[order[first]];
        switch (count - first) {
        case 4:
            Phase<4>::run(states, tables, data, order + first, done, to);
            break;
        case 3:
            Phase<3>::run(states, tables, data, order + first, done, to);
            break;
        case 2:
            Phase<2>::run(states, tables, data, order + first, done, to);
            break;
        default:
            Phase<1>::run(states, tables, data, order + first, done, to);
            break;
        }
        done = to;
    }
}

}  // namespace range_loops
