// Channel compaction: zero-run coding when it pays, a Fibonacci-coded table of
// byte counts and a 32-bit range coder driven by the scaled table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "entropy/range_coder.h"
#include "common/status.h"

// Largest reported length of the channel stream of a channel of `length`
// bytes: level and size (5), the count table (at most 1,248 bytes) and at most
// three range coder bytes per coded byte plus five; the reported length's
// unwritten last byte takes the place of the encoder's unstored first byte.
constexpr std::size_t compact_bound(std::size_t length) { return 5 + 1248 + 3 * length + 5; }

class Compress {
public:
    unsigned int* prob = nullptr;        // 257 entries, cumulative scaled table (the first table's)
    unsigned int prob_bits = 0;          // log2 of the total
    unsigned int* counts = nullptr;      // 256 entries, the counts of the last channel compacted
    unsigned char* run_buffer = nullptr; // zero-run-coded channel
    unsigned int run_capacity = 0;       // bytes that run_buffer holds
    std::uint64_t table_length = 0;      // bytes the last table built describes (its counts' sum)
    RangeTable* tables = nullptr;        // one per channel coded side by side; prob is the first one's

    Compress() = default;
    ~Compress();
    Compress(const Compress&) = delete;
    Compress& operator=(const Compress&) = delete;

    // Acquires the buffers; false when memory cannot be had (then none is held).
    [[nodiscard]] bool InitCompressBuffers(unsigned int size);
    void FreeCompressBuffers();

    // Writes the channel stream of `length` bytes at `out` and returns its
    // reported length (which counts one last byte, written as 0). `out` must
    // hold compact_bound(length) bytes and run_buffer `length` bytes (the
    // zero-run coder copies short stretches within that room); `in` is never
    // read past its end.
    unsigned int compact(const unsigned char* in, unsigned char* out, unsigned int length);

    // Restores `length` bytes from a channel stream of at most `in_size` bytes.
    [[nodiscard]] Status uncompact(const unsigned char* in, std::size_t in_size, unsigned char* out,
                                   unsigned int length);

    // Several channels of `length` bytes at once: channel c's stream is
    // written at out[c] exactly as compact() writes it, and its reported
    // length goes to reported[c]; scratch[c] holds `length` bytes for its
    // zero-run-coded form. The channels' range coders run side by side.
    void compact_side_by_side(int count, const unsigned char* const in[], unsigned int length,
                              unsigned char* const out[], unsigned char* const scratch[], unsigned int reported[]);

    // Restores `count` channels of `length` bytes from streams of in_size[c]
    // bytes; scratch[c] holds `length` bytes for a zero-run-coded form.
    [[nodiscard]] Status uncompact_side_by_side(int count, const unsigned char* const in[],
                                                const std::size_t in_size[], unsigned char* const out[],
                                                unsigned int length, unsigned char* const scratch[]);

    // The counts and scaled table of `length` bytes, into counts, prob and prob_bits.
    void calcprob(const unsigned char* in, unsigned int length);

private:
    Status uncompact_channels(int count, const unsigned char* const in[], const std::size_t in_size[],
                              unsigned char* const out[], unsigned int length, unsigned char* const scratch[],
                              unsigned int scratch_capacity);
};
