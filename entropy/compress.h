// Channel compaction: zero-run coding when it pays, a Fibonacci-coded table of
// byte counts and a 32-bit range coder driven by the scaled table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "entropy/status.h"

// Largest reported length of the channel stream of a channel of `length`
// bytes: level and size (5), the count table (at most 1,248 bytes) and at most
// three range coder bytes per coded byte plus five; the reported length's
// unwritten last byte takes the place of the encoder's unstored first byte.
constexpr std::size_t compact_bound(std::size_t length) { return 5 + 1248 + 3 * length + 5; }

class Compress {
public:
    unsigned int* prob = nullptr;        // 257 entries, cumulative scaled table
    unsigned int prob_bits = 0;          // log2 of the total
    unsigned int* counts = nullptr;      // 256 entries, the counts written into the stream
    unsigned char* run_buffer = nullptr; // zero-run-coded channel
    unsigned int run_capacity = 0;       // bytes that run_buffer holds
    std::uint64_t table_length = 0;      // bytes the last table built describes (its counts' sum)
    unsigned char lookup[4096];          // decode(): the value at each of t's top 12 bits

    Compress() = default;
    ~Compress();
    Compress(const Compress&) = delete;
    Compress& operator=(const Compress&) = delete;

    // Acquires the buffers; false when memory cannot be had (then none is held).
    [[nodiscard]] bool InitCompressBuffers(unsigned int size);
    void FreeCompressBuffers();

    // Writes the channel stream of `length` bytes at `out` and returns its
    // reported length (which counts one last byte, written as 0). `out` must
    // hold compact_bound(length) bytes; `in` is never read past its end.
    unsigned int compact(const unsigned char* in, unsigned char* out, unsigned int length);

    // Restores `length` bytes from a channel stream of at most `in_size` bytes.
    [[nodiscard]] Status uncompact(const unsigned char* in, std::size_t in_size, unsigned char* out,
                                   unsigned int length);

    void calcprob(const unsigned char* in, unsigned int length);
    [[nodiscard]] Status readprob(const unsigned char* in, std::size_t in_size, unsigned int* consumed);
    unsigned int encode(const unsigned char* in, unsigned char* out, unsigned int length);
    [[nodiscard]] Status decode(const unsigned char* in, std::size_t in_size, unsigned char* out,
                                unsigned int length);
};
