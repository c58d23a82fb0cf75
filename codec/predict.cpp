#include "codec/predict.h"

#include <cstddef>

namespace {

// Byte 0 and byte 2 of every pixel minus byte 1; the fourth byte of a 4-byte
// pixel is left alone.
template <int pixel_bytes>
void decorrelate(unsigned char* s, std::size_t total)
{
    for (std::size_t i = 0; i < total; i += pixel_bytes) {
        s[i] = static_cast<unsigned char>(s[i] - s[i + 1]);
        s[i + 2] = static_cast<unsigned char>(s[i + 2] - s[i + 1]);
    }
}

template <int pixel_bytes>
void recorrelate(unsigned char* s, std::size_t total)
{
    for (std::size_t i = 0; i < total; i += pixel_bytes) {
        s[i] = static_cast<unsigned char>(s[i] + s[i + 1]);
        s[i + 2] = static_cast<unsigned char>(s[i + 2] + s[i + 1]);
    }
}

// The residual pass over decorrelated pixels. The first pixel is stored as
// it is, the rest of the first row predicted from the left, the first pixel
// of the second row from above; every later byte, the first pixel of each
// further row included, by the median predictor over the frame taken as one
// continuous sequence of pixels.
template <int pixel_bytes>
void residuals(const unsigned char* s, unsigned char* d, int width, int height)
{
    const std::size_t row = std::size_t(pixel_bytes) * std::size_t(width);
    const std::size_t total = row * std::size_t(height);
    for (int c = 0; c < pixel_bytes; ++c) {
        d[c] = s[c];
    }
    for (std::size_t i = pixel_bytes; i < row; ++i) {
        d[i] = static_cast<unsigned char>(s[i] - s[i - pixel_bytes]);
    }
    if (height < 2) {
        return;
    }
    for (int c = 0; c < pixel_bytes; ++c) {
        d[row + c] = static_cast<unsigned char>(s[row + c] - s[c]);
    }
    for (std::size_t i = row + pixel_bytes; i < total; ++i) {
        const int p = predict(s[i - pixel_bytes], s[i - row], s[i - row - pixel_bytes]);
        d[i] = static_cast<unsigned char>(s[i] - p);
    }
}

template <int pixel_bytes>
void rebuild(const unsigned char* d, unsigned char* s, int width, int height)
{
    const std::size_t row = std::size_t(pixel_bytes) * std::size_t(width);
    const std::size_t total = row * std::size_t(height);
    for (int c = 0; c < pixel_bytes; ++c) {
        s[c] = d[c];
    }
    for (std::size_t i = pixel_bytes; i < row; ++i) {
        s[i] = static_cast<unsigned char>(d[i] + s[i - pixel_bytes]);
    }
    if (height < 2) {
        return;
    }
    // Each byte depends on the one a pixel before it, so the left and
    // upper-left neighbours are carried in registers from pixel to pixel
    // rather than read back from the bytes just stored.
    int left[pixel_bytes];
    int upper_left[pixel_bytes];
    for (int c = 0; c < pixel_bytes; ++c) {
        s[row + c] = static_cast<unsigned char>(d[row + c] + s[c]);
        left[c] = s[row + c];
        upper_left[c] = s[c];
    }
    for (std::size_t i = row + pixel_bytes; i < total; i += pixel_bytes) {
        for (int c = 0; c < pixel_bytes; ++c) {
            const int above = s[i - row + c];
            const int value = (d[i + c] + predict(left[c], above, upper_left[c])) & 255;
            s[i + c] = static_cast<unsigned char>(value);
            left[c] = value;
            upper_left[c] = above;
        }
    }
}

}  // namespace

void DeEntropy(unsigned char* source, unsigned char* destination, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    decorrelate<3>(source, std::size_t(3) * width * height);
    residuals<3>(source, destination, width, height);
}

void ReEntropy(const unsigned char* residuals_in, unsigned char* destination, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    rebuild<3>(residuals_in, destination, width, height);
    recorrelate<3>(destination, std::size_t(3) * width * height);
}

void DeEntropy32(unsigned char* source, unsigned char* destination, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    decorrelate<4>(source, std::size_t(4) * width * height);
    residuals<4>(source, destination, width, height);
}

void ReEntropy32(const unsigned char* residuals_in, unsigned char* destination, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    rebuild<4>(residuals_in, destination, width, height);
    recorrelate<4>(destination, std::size_t(4) * width * height);
}

void blockDeEntropy(const unsigned char* source, unsigned char* destination, int width, int length)
{
    if (length <= 0 || width <= 0) {
        return;
    }
    destination[0] = source[0];
    // The first sample of the second row comes from its left neighbour.
    for (int i = 1; i <= width && i < length; ++i) {
        destination[i] = static_cast<unsigned char>(source[i] - source[i - 1]);
    }
    for (int i = width + 1; i < length; ++i) {
        const int l = source[i - 1];
        const int a = source[i - width];
        const int c = source[i - width - 1];
        destination[i] = static_cast<unsigned char>(source[i] - median(l, a, l + a - c));
    }
}

void blockReEntropy(const unsigned char* residuals_in, unsigned char* destination, int width, int length)
{
    if (length <= 0 || width <= 0) {
        return;
    }
    destination[0] = residuals_in[0];
    for (int i = 1; i <= width && i < length; ++i) {
        destination[i] = static_cast<unsigned char>(residuals_in[i] + destination[i - 1]);
    }
    for (int i = width + 1; i < length; ++i) {
        const int l = destination[i - 1];
        const int a = destination[i - width];
        const int c = destination[i - width - 1];
        destination[i] = static_cast<unsigned char>(residuals_in[i] + median(l, a, l + a - c));
    }
}

namespace {

template <int channels>
void split(const unsigned char* pixels, unsigned char* planes, std::size_t n)
{
    for (std::size_t p = 0; p < n; ++p) {
        for (int c = 0; c < channels; ++c) {
            planes[std::size_t(c) * n + p] = pixels[p * channels + c];
        }
    }
}

template <int channels>
void join(const unsigned char* planes, unsigned char* pixels, std::size_t n)
{
    for (std::size_t p = 0; p < n; ++p) {
        for (int c = 0; c < channels; ++c) {
            pixels[p * channels + c] = planes[std::size_t(c) * n + p];
        }
    }
}

}  // namespace

void split_planes(const unsigned char* pixels, unsigned char* planes, std::size_t n, int channels)
{
    if (channels == 4) {
        split<4>(pixels, planes, n);
    } else {
        split<3>(pixels, planes, n);
    }
}

void join_planes(const unsigned char* planes, unsigned char* pixels, std::size_t n, int channels)
{
    if (channels == 4) {
        join<4>(planes, pixels, n);
    } else {
        join<3>(planes, pixels, n);
    }
}
