// Fibonacci coding of the 256 byte counts that every channel stream carries.
#pragma once

#include <cstddef>

#include "common/status.h"

// Largest number of bytes a table of `count` entries can take (39 bits each).
constexpr std::size_t fibonacci_table_bound(unsigned int count) { return (count * 39u + 7u) / 8u; }

// Writes `count` values and returns the number of bytes that hold them. The
// byte after the table may be set to 0, so `out` needs one byte of room more.
unsigned int FibonacciEncode2(const unsigned int* values, unsigned char* out, unsigned int count);

// Reads `count` values from at most `in_size` bytes. On success sets
// *consumed to the bytes read (a partly used last byte counts whole).
// A code that runs past the input, a bit length above 32, or a Fibonacci code
// longer than a valid one is Status::bad_table (or truncated); it never hangs.
[[nodiscard]] Status FibonacciDecode2(const unsigned char* in, std::size_t in_size, unsigned int* values,
                                      unsigned int count, unsigned int* consumed);
