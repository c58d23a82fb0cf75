// The prediction filters: every byte becomes its residual, the difference
// modulo 256 from a prediction made of bytes that come before it, so that a
// decoder undoing the steps in the same order rebuilds the frame exactly.
#pragma once

#include <cstddef>

// Filters a frame of 4-byte pixels: colour decorrelation in place in
// `source` (bytes 0 and 2 of every pixel minus byte 1; byte 3 is left as it
// is), then the residuals of the decorrelated frame into `destination`. The
// first pixel is stored as it is, the rest of the first row predicted from
// the left, the first pixel of the second row from above, and every later
// byte, the first pixel of each further row included, by the median
// predictor (codec/median.h) from the same byte of its neighbours, the frame
// taken as one continuous sequence of pixels.
void DeEntropy32(unsigned char* source, unsigned char* destination, int width, int height);
void ReEntropy32(const unsigned char* residuals, unsigned char* destination, int width, int height);

// Where a frame's pixels come from: the frame pixel order (rows bottom up,
// bytes blue, green, red), or the order of a "raw " movie's frames (rows top
// down, bytes red, green, blue), read as if converted first.
enum class PixelOrder { frame, movie };

// The same filter for 3-byte pixels, and the separation into three planes,
// in two passes: the frame's pixels are decorrelated into three planes of
// `sources` (byte 0 minus byte 1, byte 1, byte 2 minus byte 1), and each
// plane is predicted on its own into `residuals`, exactly as the filter of
// 4-byte pixels predicts the same bytes of a frame. `frame` is read whole
// before any residual is written, so it may be `residuals`; it is otherwise
// not changed.
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
