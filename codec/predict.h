// The prediction filters: every byte becomes its residual, the difference
// modulo 256 from a prediction made of bytes that come before it, so that a
// decoder undoing the steps in the same order rebuilds the frame exactly.
#pragma once

#include <cstddef>

#include <algorithm>

// Minimum and maximum by masks: on noisy pictures a compiler's branches
// here would be mispredicted half of the time.
[[nodiscard]] constexpr int min_of(int x, int y) { return y ^ ((x ^ y) & -int(x < y)); }
[[nodiscard]] constexpr int max_of(int x, int y) { return x ^ ((x ^ y) & -int(x < y)); }

// The median of left, above and the gradient left + above - upper_left:
// that median is the gradient clamped between left and above, which needs
// no branch.
[[nodiscard]] constexpr int predict(int left, int above, int upper_left)
{
    return min_of(max_of(left + above - upper_left, min_of(left, above)), max_of(left, above));
}

// Filters a frame of 3-byte pixels: colour decorrelation in place in
// `source` (bytes 0 and 2 of every pixel minus byte 1), then the residuals of
// the decorrelated frame into `destination`.
void DeEntropy(unsigned char* source, unsigned char* destination, int width, int height);

// The same filter for 4-byte pixels: bytes 0 to 2 exactly as DeEntropy does
// (pixels four bytes apart), and byte 3 predicted from its own neighbours
// with no decorrelation.
void DeEntropy32(unsigned char* source, unsigned char* destination, int width, int height);
void ReEntropy32(const unsigned char* residuals, unsigned char* destination, int width, int height);

// Where a frame's pixels come from: the frame pixel order (rows bottom up,
// bytes blue, green, red), or the order of a "raw " movie's frames (rows top
// down, bytes red, green, blue), read as if converted first.
enum class PixelOrder { frame, movie };

// DeEntropy and the separation into three planes in two passes: the frame's
// pixels are decorrelated into three planes of `sources` (byte 0 minus byte
// 1, byte 1, byte 2 minus byte 1), and each plane is predicted on its own
// into `residuals`, where the three planes are exactly split_planes() of
// what DeEntropy writes. `frame` is read whole before any residual is
// written, so it may be `residuals`; it is otherwise not changed.
void DeEntropyPlanes(const unsigned char* frame, PixelOrder order, unsigned char* sources, unsigned char* residuals,
                     int width, int height);

// The inverse: rebuilds the frame from the three residual planes and writes
// it rows bottom up (or top down with `top_down`), bytes 0, 1, 2 of every
// pixel. `scratch` holds ReEntropyPlanesScratch(width) bytes.
void ReEntropyPlanes(const unsigned char* planes, unsigned char* scratch, unsigned char* frame, bool top_down,
                     int width, int height);
std::size_t ReEntropyPlanesScratch(int width);

// A frame's residuals, pixel by pixel, as `channels` planes one after another
// (each plane is one channel stream), and back; n is the number of pixels.
void split_planes(const unsigned char* pixels, unsigned char* planes, std::size_t n, int channels);
void join_planes(const unsigned char* planes, unsigned char* pixels, std::size_t n, int channels);
