#include "entropy/compress.h"

#include <cstdlib>
#include <cstring>

#include "entropy/fibonacci.h"
#include "entropy/byte_order.h"
#include "entropy/zero.h"

namespace {

constexpr unsigned max_total_bits = 23;
constexpr std::uint32_t max_total = 1u << max_total_bits;  // keeps range >> prob_bits at 1 or more
constexpr std::uint32_t renormalise_below = 0x00800000;    // range at or below 2^23 is renormalised
constexpr unsigned max_lookup_bits = 12;

// Scales 256 counts that describe `length` bytes to shares of a power-of-two
// total and makes the table cumulative. Encoder and decoder both build their
// table here, so that they agree bit for bit.
void build_table(const unsigned int* counts, std::uint64_t length, unsigned int* prob, unsigned int& prob_bits)
{
    prob[0] = 0;
    std::memcpy(prob + 1, counts, 256 * sizeof(unsigned int));
    std::uint32_t total = 1;
    prob_bits = 0;
    if (length > max_total) {
        total = max_total;
        prob_bits = max_total_bits;
    } else {
        while (total < length) {
            total <<= 1;
            ++prob_bits;
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

}  // namespace

Compress::~Compress() { FreeCompressBuffers(); }

bool Compress::InitCompressBuffers(unsigned int size)
{
    FreeCompressBuffers();
    run_buffer = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    prob = static_cast<unsigned int*>(std::malloc(257 * sizeof(unsigned int)));
    counts = static_cast<unsigned int*>(std::malloc(256 * sizeof(unsigned int)));
    if (run_buffer == nullptr || prob == nullptr || counts == nullptr) {
        FreeCompressBuffers();
        return false;
    }
    run_capacity = size;
    return true;
}

void Compress::FreeCompressBuffers()
{
    std::free(run_buffer);
    std::free(prob);
    std::free(counts);
    run_buffer = nullptr;
    prob = nullptr;
    counts = nullptr;
    run_capacity = 0;
}

void Compress::calcprob(const unsigned char* in, unsigned int length)
{
    // Four interleaved tables keep successive equal bytes from waiting on
    // each other's increments.
    unsigned int partial[4][256] = {};
    unsigned int i = 0;
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
    table_length = length;
    build_table(counts, length, prob, prob_bits);
}

Status Compress::readprob(const unsigned char* in, std::size_t in_size, unsigned int* consumed)
{
    unsigned int decoded[256];
    const Status status = FibonacciDecode2(in, in_size, decoded, 256, consumed);
    if (status != Status::ok) {
        return status;
    }
    std::uint64_t length = 0;
    for (unsigned int count : decoded) {
        length += count;
    }
    table_length = length;
    if (length > 0xFFFFFFFFu) {
        return Status::bad_table;
    }
    build_table(decoded, length, prob, prob_bits);
    return Status::ok;
}

unsigned int Compress::encode(const unsigned char* in, unsigned char* out, unsigned int length)
{
    std::uint32_t low = 0;  // bit 31 takes carries, bits 30 to 0 the code value
    std::uint32_t range = 0x80000000u;
    unsigned char held = 0;
    std::uint32_t pending = 0;
    unsigned int emitted = 0;
    const unsigned bits = prob_bits;
    for (unsigned int i = 0; i < length; ++i) {
        const unsigned s = in[i];
        const std::uint32_t r = range >> bits;
        low += r * prob[s];
        // The last value also takes what the truncation of r leaves over.
        range = s < 255 ? r * (prob[s + 1] - prob[s]) : range - r * prob[255];
        while (range <= renormalise_below) {
            if (low <= 0x7F7FFFFFu) {
                out[emitted++] = held;
                for (; pending > 0; --pending) {
                    out[emitted++] = 0xFF;
                }
                held = static_cast<unsigned char>(low >> 23);
            } else if ((low & 0x80000000u) != 0) {
                out[emitted++] = static_cast<unsigned char>(held + 1);
                for (; pending > 0; --pending) {
                    out[emitted++] = 0x00;
                }
                held = static_cast<unsigned char>(low >> 23);
            } else {
                ++pending;  // a carry may still reach the held byte
            }
            range <<= 8;
            low = (low << 8) & 0x7FFFFFFFu;
        }
    }
    const bool carry = (low >> 23) > 255;
    out[emitted++] = static_cast<unsigned char>(carry ? held + 1 : held);
    for (; pending > 0; --pending) {
        out[emitted++] = carry ? 0x00 : 0xFF;
    }
    const std::uint32_t last = low << 1;
    out[emitted++] = static_cast<unsigned char>(last >> 24);
    out[emitted++] = static_cast<unsigned char>(last >> 16);
    out[emitted++] = static_cast<unsigned char>(last >> 8);
    out[emitted++] = static_cast<unsigned char>(last);
    return emitted;
}

Status Compress::decode(const unsigned char* in, std::size_t in_size, unsigned char* out, unsigned int length)
{
    // in[0] is the encoder's unstored first byte. Past the end of the input
    // the reader yields zeros and remembers that it ran out.
    std::size_t next = 1;
    auto read = [&]() -> unsigned { return next < in_size ? in[next++] : (++next, 0u); };
    unsigned b = read();
    std::uint32_t low = b >> 1;
    std::uint32_t range = 0x80;
    const unsigned bits = prob_bits;
    const std::uint32_t total = prob[256];
    const std::uint32_t last_start = prob[255];

    // The value whose share holds t is found from the high bits of t: each
    // of the lookup's buckets names the last value that starts at or before
    // the bucket, and a short walk (usually none) finds the value itself.
    const unsigned lookup_bits = bits < max_lookup_bits ? bits : max_lookup_bits;
    const unsigned shift = bits - lookup_bits;
    {
        unsigned s = 0;
        for (std::uint32_t j = 0; j < (1u << lookup_bits); ++j) {
            while (s < 255 && prob[s + 1] <= (j << shift)) {
                ++s;
            }
            lookup[j] = static_cast<unsigned char>(s);
        }
    }
    for (unsigned int i = 0; i < length; ++i) {
        while (range <= renormalise_below) {
            range <<= 8;
            const unsigned c = read();
            low = (low << 8) | ((b & 1u) << 7) | (c >> 1);
            b = c;
        }
        const std::uint32_t r = range >> bits;
        const std::uint32_t t = low / r;
        unsigned s;
        if (t >= total) {
            if (last_start == total) {
                return Status::bad_stream;  // value 255 never occurs
            }
            s = 255;
        } else {
            s = lookup[t >> shift];
            while (t >= prob[s + 1]) {
                ++s;
            }
        }
        low -= r * prob[s];
        range = s < 255 ? r * (prob[s + 1] - prob[s]) : range - r * prob[255];
        if (range == 0 || low >= range) {
            return Status::bad_stream;
        }
        out[i] = static_cast<unsigned char>(s);
    }
    return next > in_size ? Status::truncated : Status::ok;
}

unsigned int Compress::compact(const unsigned char* in, unsigned char* out, unsigned int length)
{
    unsigned int threshold = length / 1000;
    if (threshold < 16) {
        threshold = 16;
    }
    const int level = zero::testRLE(in, static_cast<int>(length), static_cast<int>(threshold));
    unsigned int reported;
    if (level == 0) {
        out[0] = 0;
        calcprob(in, length);
        const unsigned int m = FibonacciEncode2(counts, out + 1, 256);
        // The encoder's first byte, always 0, lands on the table's last byte
        // and is not kept.
        const unsigned char kept = out[m];
        const unsigned int emitted = encode(in, out + m, length);
        out[m] = kept;
        reported = 1 + m + emitted;
    } else {
        out[0] = static_cast<unsigned char>(level);
        const unsigned int n = static_cast<unsigned int>(zero::RLE(in, run_buffer, static_cast<int>(length), level));
        put_le32(out + 1, n);
        calcprob(run_buffer, n);
        const unsigned int m = FibonacciEncode2(counts, out + 5, 256);
        const unsigned char kept = out[4 + m];
        const unsigned int emitted = encode(run_buffer, out + 4 + m, n);
        out[4 + m] = kept;
        reported = 5 + m + emitted;
    }
    out[reported - 1] = 0;  // the last byte that the reported length covers
    return reported;
}

Status Compress::uncompact(const unsigned char* in, std::size_t in_size, unsigned char* out, unsigned int length)
{
    if (in_size < 1) {
        return Status::truncated;
    }
    const unsigned level = in[0];
    if (level > 3) {
        return Status::bad_level;
    }
    unsigned int m = 0;
    if (level == 0) {
        Status status = readprob(in + 1, in_size - 1, &m);
        if (status != Status::ok) {
            return status;
        }
        if (table_length != length) {
            return Status::bad_table;  // the counts describe another channel
        }
        return length == 0 ? Status::ok : decode(in + m, in_size - m, out, length);
    }
    if (in_size < 5) {
        return Status::truncated;
    }
    const std::uint32_t n = get_le32(in + 1);
    if (n == 0 || n > run_capacity || n > 0x7FFFFFFFu) {
        return Status::bad_size;
    }
    Status status = readprob(in + 5, in_size - 5, &m);
    if (status != Status::ok) {
        return status;
    }
    if (table_length != n) {
        return Status::bad_table;
    }
    status = decode(in + 4 + m, in_size - 4 - m, run_buffer, n);
    if (status != Status::ok) {
        return status;
    }
    return zero::deRLE(run_buffer, static_cast<int>(n), out, static_cast<int>(length), static_cast<int>(level)) < 0
               ? Status::bad_stream
               : Status::ok;
}
