#include "entropy/zero.h"

#include <algorithm>
#include <cstring>

namespace zero {

namespace {

// The count byte carries e, the zeros beyond the level's minimum, zigzagged:
// even e as e / 2, odd e as 256 - (e + 1) / 2.
unsigned char count_byte(int extra)
{
    return static_cast<unsigned char>((extra & 1) == 0 ? extra / 2 : 256 - (extra + 1) / 2);
}

int extra_zeros(unsigned char count) { return count < 128 ? 2 * count : 511 - 2 * count; }

// Length of the run of zeros at in[i], up to `limit` positions.
int zero_run(const unsigned char* in, int i, int limit)
{
    int n = 0;
    while (n < limit && in[i + n] == 0) {
        ++n;
    }
    return n;
}

}  // namespace

int RLE(const unsigned char* in, unsigned char* out, int length, int level)
{
    if (length <= 0 || level < 1 || level > 3) {
        return 0;
    }
    // Positions past the end of the block count as zero, so a zero among the
    // last level - 1 bytes ends the stream with a run token.
    auto at = [in, length](int k) -> unsigned char { return k < length ? in[k] : 0; };
    int i = 0;
    int o = 0;
    while (i < length) {
        const unsigned char x = in[i];
        if (x != 0) {
            out[o++] = x;
            ++i;
        } else if (level >= 2 && at(i + 1) != 0) {
            out[o++] = 0;
            out[o++] = in[i + 1];
            i += 2;
        } else if (level == 3 && at(i + 1) == 0 && at(i + 2) != 0) {
            out[o++] = 0;
            out[o++] = 0;
            out[o++] = in[i + 2];
            i += 3;
        } else {
            int n = level;
            if (i + n < length) {
                n += zero_run(in, i + n, std::min(length - i - n, 255));
            }
            std::memset(out + o, 0, static_cast<std::size_t>(level));
            o += level;
            out[o++] = count_byte(n - level);
            i += n;
        }
    }
    return o;
}

int testRLE(const unsigned char* in, int length, int threshold)
{
    int s1 = 0;
    int s2 = 0;
    int s3 = 0;
    int i = 0;
    while (i < length) {
        const void* zero_at = std::memchr(in + i, 0, static_cast<std::size_t>(length - i));
        if (zero_at == nullptr) {
            break;
        }
        i = static_cast<int>(static_cast<const unsigned char*>(zero_at) - in);
        const int n = zero_run(in, i, length - i);
        i += n;
        if (n <= 256) {
            // A run of n >= L zeros becomes one token of L + 1 bytes; shorter
            // runs travel in literal pairs and triples at levels 2 and 3.
            s1 += n - 2;
            if (n >= 2) {
                s2 += n - 3;
            }
            if (n >= 3) {
                s3 += n - 4;
            }
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
    if (s3 >= threshold) {
        return 3;
    }
    return 0;
}

int deRLE(const unsigned char* in, int in_size, unsigned char* out, int length, int level)
{
    if (length <= 0 || level < 1 || level > 3) {
        return 0;
    }
    int i = 0;
    int o = 0;
    while (o < length) {
        if (i >= in_size) {
            return -1;
        }
        const unsigned char x = in[i];
        if (x != 0) {
            out[o++] = x;
            ++i;
            continue;
        }
        // Up to `level` zeros tell a literal pair or triple from a run token.
        int zeros = 1;
        while (zeros < level && i + zeros < in_size && in[i + zeros] == 0) {
            ++zeros;
        }
        if (i + zeros >= in_size) {
            return -1;
        }
        if (zeros < level) {
            if (o + zeros + 1 > length) {
                return -1;
            }
            std::memset(out + o, 0, static_cast<std::size_t>(zeros));
            o += zeros;
            out[o++] = in[i + zeros];
            i += zeros + 1;
            continue;
        }
        // The last run token of a block may stand for up to level - 1 zeros
        // beyond it (the block's end counts as zeros); those are dropped.
        const int n = level + extra_zeros(in[i + level]);
        if (o + n > length + level - 1) {
            return -1;
        }
        const int kept = std::min(n, length - o);
        std::memset(out + o, 0, static_cast<std::size_t>(kept));
        o += kept;
        i += level + 1;
    }
    return i;
}

}  // namespace zero
