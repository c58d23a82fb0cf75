#include "codec/predict.h"

#include <algorithm>
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

namespace {

// The median predictor on bytes: with low and high the smaller and the
// larger of left and above, the median of left, above and left + above -
// upper_left is low + high - upper_left with upper_left clamped between them
// (low where it is at least high, high where at most low). Byte arithmetic
// throughout lets a compiler work on many bytes at once.
inline unsigned char predict_bytes(unsigned char left, unsigned char above, unsigned char upper_left)
{
    const unsigned char low = left < above ? left : above;
    const unsigned char high = left < above ? above : left;
    const unsigned char clamped = upper_left < low ? low : (upper_left > high ? high : upper_left);
    return static_cast<unsigned char>(low + high - clamped);
}

// The residuals of one decorrelated plane, predicted as DeEntropy predicts
// the same bytes of the frame: the first sample as it is, the rest of the
// first row from the left, the first sample of the second row from above,
// and every later one by the median predictor, the plane taken as one
// continuous sequence. No sample depends on another's residual, so the loop
// runs on many samples at once.
void predict_plane(const unsigned char* s, unsigned char* d, std::size_t width, std::size_t total)
{
    d[0] = s[0];
    for (std::size_t i = 1; i < width && i < total; ++i) {
        d[i] = static_cast<unsigned char>(s[i] - s[i - 1]);
    }
    if (total <= width) {
        return;
    }
    d[width] = static_cast<unsigned char>(s[width] - s[0]);
    for (std::size_t i = width + 1; i < total; ++i) {
        d[i] = static_cast<unsigned char>(s[i] - predict_bytes(s[i - 1], s[i - width], s[i - width - 1]));
    }
}

// The decorrelated planes of a frame: in the frame pixel order row y is the
// frame's row y with the bytes blue, green, red; in the movie order it is
// the frame's row height - 1 - y with the bytes red, green, blue.
template <PixelOrder order>
inline void decorrelate_body(const unsigned char* pixels, unsigned char* sources, std::size_t width,
                             std::size_t height)
{
    constexpr int b = order == PixelOrder::frame ? 0 : 2;
    constexpr int r = 2 - b;
    const std::size_t n = width * height;
    unsigned char* p0 = sources;
    unsigned char* p1 = sources + n;
    unsigned char* p2 = sources + 2 * n;
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t from = order == PixelOrder::frame ? y : height - 1 - y;
        const unsigned char* row = pixels + from * 3 * width;
        const std::size_t at = y * width;
        for (std::size_t x = 0; x < width; ++x) {
            const unsigned char* px = row + 3 * x;
            p0[at + x] = static_cast<unsigned char>(px[b] - px[1]);
            p1[at + x] = px[1];
            p2[at + x] = static_cast<unsigned char>(px[r] - px[1]);
        }
    }
}

// Separating three-byte pixels takes byte shuffles that the basic x86-64
// instruction set lacks; where the processor has AVX2, a second copy of the
// loop compiled for it runs instead.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define REELPACK_AVX2_COPY 1
#endif

template <PixelOrder order>
void decorrelate_plain(const unsigned char* pixels, unsigned char* sources, std::size_t width, std::size_t height)
{
    decorrelate_body<order>(pixels, sources, width, height);
}

#ifdef REELPACK_AVX2_COPY
template <PixelOrder order>
__attribute__((target("avx2"))) void decorrelate_avx2(const unsigned char* pixels, unsigned char* sources,
                                                      std::size_t width, std::size_t height)
{
    decorrelate_body<order>(pixels, sources, width, height);
}
#endif

template <PixelOrder order>
void decorrelate(const unsigned char* pixels, unsigned char* sources, std::size_t width, std::size_t height)
{
#ifdef REELPACK_AVX2_COPY
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        decorrelate_avx2<order>(pixels, sources, width, height);
        return;
    }
#endif
    decorrelate_plain<order>(pixels, sources, width, height);
}

}  // namespace

void DeEntropyPlanes(const unsigned char* frame, PixelOrder order, unsigned char* sources, unsigned char* residuals,
                     int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    if (order == PixelOrder::frame) {
        decorrelate<PixelOrder::frame>(frame, sources, w, h);
    } else {
        decorrelate<PixelOrder::movie>(frame, sources, w, h);
    }
    const std::size_t n = w * h;
    for (int c = 0; c < 3; ++c) {
        predict_plane(sources + c * n, residuals + c * n, w, n);
    }
}

void ReEntropyPlanes(unsigned char* planes, unsigned char* frame, bool top_down, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    const std::size_t n = w * h;
    unsigned char* p0 = planes;
    unsigned char* p1 = planes + n;
    unsigned char* p2 = planes + 2 * n;
    const std::size_t row_bytes = 3 * w;
    auto row_out = [&](std::size_t y) { return frame + (top_down ? h - 1 - y : y) * row_bytes; };
    auto put = [](unsigned char* px, int b, int g, int r) {
        px[0] = static_cast<unsigned char>(b + g);
        px[1] = static_cast<unsigned char>(g);
        px[2] = static_cast<unsigned char>(r + g);
    };
    // The first row: from the left.
    int l0 = p0[0];
    int l1 = p1[0];
    int l2 = p2[0];
    unsigned char* out = row_out(0);
    put(out, l0, l1, l2);
    for (std::size_t x = 1; x < w; ++x) {
        l0 = (l0 + p0[x]) & 255;
        l1 = (l1 + p1[x]) & 255;
        l2 = (l2 + p2[x]) & 255;
        p0[x] = static_cast<unsigned char>(l0);
        p1[x] = static_cast<unsigned char>(l1);
        p2[x] = static_cast<unsigned char>(l2);
        put(out + 3 * x, l0, l1, l2);
    }
    if (h < 2) {
        return;
    }
    // The first sample of the second row from above; every later one by the
    // median predictor, its left and upper-left neighbours carried from the
    // sample before, so that each of the three channels is one short chain
    // of dependent steps, and the three overlap.
    int c0 = p0[0];
    int c1 = p1[0];
    int c2 = p2[0];
    l0 = (c0 + p0[w]) & 255;
    l1 = (c1 + p1[w]) & 255;
    l2 = (c2 + p2[w]) & 255;
    p0[w] = static_cast<unsigned char>(l0);
    p1[w] = static_cast<unsigned char>(l1);
    p2[w] = static_cast<unsigned char>(l2);
    std::size_t i = w + 1;
    for (std::size_t y = 1; y < h; ++y) {
        out = row_out(y);
        std::size_t x = 0;
        if (y == 1) {
            put(out, l0, l1, l2);
            x = 1;
        }
        for (; x < w; ++x, ++i) {
            const int a0 = p0[i - w];
            const int a1 = p1[i - w];
            const int a2 = p2[i - w];
            l0 = (p0[i] + predict(l0, a0, c0)) & 255;
            l1 = (p1[i] + predict(l1, a1, c1)) & 255;
            l2 = (p2[i] + predict(l2, a2, c2)) & 255;
            c0 = a0;
            c1 = a1;
            c2 = a2;
            p0[i] = static_cast<unsigned char>(l0);
            p1[i] = static_cast<unsigned char>(l1);
            p2[i] = static_cast<unsigned char>(l2);
            put(out + 3 * x, l0, l1, l2);
        }
    }
}

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
