// Channel compaction: zero-run coding when it pays, a Fibonacci-coded table of
// byte counts and a 32-bit range coder driven by the scaled table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/status.h"
#include "entropy/fibonacci.h"
#include "entropy/range_coder.h"

// Largest reported length of the channel stream of a channel of `length`
// bytes: level and size (5), the count table (at most 1,248 bytes) and at most
// three range coder bytes per coded byte plus five; the reported length's
// unwritten last byte takes the place of the encoder's unstored first byte.
// Every stream keeps within it, whatever its bytes: a channel is zero-run
// coded only where that makes it shorter.
constexpr std::size_t compact_bound(std::size_t length) { return 5 + fibonacci_table_bound(256) + 3 * length + 5; }

class Compress {
public:
    unsigned int* counts = nullptr;  // 256 entries, the counts of the last channel compacted
    RangeTable* tables = nullptr;    // one per channel coded side by side

    Compress() = default;
    ~Compress();
    Compress(const Compress&) = delete;
    Compress& operator=(const Compress&) = delete;

    // Acquires the buffers; false when memory cannot be had (then none is held).
    [[nodiscard]] bool InitCompressBuffers();
    void FreeCompressBuffers();

    // Writes the streams of `count` channels (1 to max_side_by_side) of
    // length[c] bytes: channel c's stream goes to out[c], which holds
    // compact_bound(length[c]) bytes, and its reported length (which counts
    // one last byte, written as 0) to reported[c]; scratch[c] holds
    // length[c] bytes for its zero-run-coded form. in[c] is never read past
    // its end. The channels' range coders run side by side.
    void compact_side_by_side(int count, const unsigned char* const in[], const unsigned int length[],
                              unsigned char* const out[], unsigned char* const scratch[], unsigned int reported[]);

    // Restores `count` channels of length[c] bytes from streams of
    // in_size[c] bytes; scratch[c] holds length[c] bytes for a
    // zero-run-coded form.
    [[nodiscard]] Status uncompact_side_by_side(int count, const unsigned char* const in[],
                                                const std::size_t in_size[], unsigned char* const out[],
                                                const unsigned int length[], unsigned char* const scratch[]);
};
