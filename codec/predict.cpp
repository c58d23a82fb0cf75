#include "codec/predict.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/median.h"
#include "codec/word_rows.h"
#include "common/cpu.h"

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

// The residual pass over decorrelated pixels, as DeEntropy32 describes it.
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

// The residuals of one decorrelated plane, predicted as the filter of a
// frame predicts the same bytes: the first sample as it is, the rest of the
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

template <PixelOrder order>
void decorrelate_plain(const unsigned char* pixels, unsigned char* sources, std::size_t width, std::size_t height)
{
    decorrelate_body<order>(pixels, sources, width, height);
}

#ifdef REELPACK_X86_COPIES
template <PixelOrder order>
REELPACK_TARGET("avx2") void decorrelate_avx2(const unsigned char* pixels, unsigned char* sources,
                                                      std::size_t width, std::size_t height)
{
    decorrelate_body<order>(pixels, sources, width, height);
}
#endif

template <PixelOrder order>
void decorrelate(const unsigned char* pixels, unsigned char* sources, std::size_t width, std::size_t height)
{
#ifdef REELPACK_X86_COPIES
    if (cpu_has_avx2()) {
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


std::size_t ReEntropyPlanesScratch(int width) { return 3 * (4 * std::size_t(width > 0 ? width : 0)); }

namespace {

// The frame's pixel from a decorrelated one: byte 1 added to bytes 0 and 2.
REELPACK_INLINE void put_pixel(unsigned char* px, unsigned b, unsigned g, unsigned r)
{
    px[0] = static_cast<unsigned char>(b + g);
    px[1] = static_cast<unsigned char>(g);
    px[2] = static_cast<unsigned char>(r + g);
}

// A decorrelated pixel held as the low three bytes of a word.
REELPACK_INLINE std::uint32_t word(unsigned b, unsigned g, unsigned r) { return b | (g << 8) | (r << 16); }

// The residuals of a row of the three planes, gathered as the decorrelated
// pixels are held: one pixel a word.
REELPACK_INLINE void gather_residuals(const unsigned char* p0, const unsigned char* p1, const unsigned char* p2,
                                      unsigned char* words, std::size_t w)
{
    std::size_t x = 0;
#ifdef REELPACK_SSE2
    // Sixteen pixels at a time: bytes of planes 0 and 1 paired, plane 2
    // paired with zero, and the pairs joined into words.
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= w; x += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + x));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + x));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2 + x));
        const __m128i bg_low = _mm_unpacklo_epi8(b, g);
        const __m128i bg_high = _mm_unpackhi_epi8(b, g);
        const __m128i r_low = _mm_unpacklo_epi8(r, zero);
        const __m128i r_high = _mm_unpackhi_epi8(r, zero);
        __m128i* to = reinterpret_cast<__m128i*>(words + 4 * x);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(bg_low, r_low));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(bg_low, r_low));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(bg_high, r_high));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(bg_high, r_high));
    }
#endif
    for (; x < w; ++x) {
        put_word(words + 4 * x, word(p0[x], p1[x], p2[x]));
    }
}

// A row's frame bytes from its decorrelated pixels: green added to blue and
// red.
REELPACK_INLINE void put_row(const unsigned char* current, unsigned char* out, std::size_t w)
{
    std::size_t x = 0;
#ifdef REELPACK_SSE2
    // Four pixels at a time: green added to blue and red in their words,
    // then the four words packed into twelve bytes, stored sixteen at once
    // while the row has room for the four beyond them (the next store
    // writes over those).
    for (; x + 6 <= w; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(current + 4 * x));
        const __m128i green = _mm_and_si128(_mm_srli_epi32(pixels, 8), _mm_set1_epi32(0xFF));
        const __m128i bytes = _mm_add_epi8(pixels, _mm_or_si128(green, _mm_slli_epi32(green, 16)));
        // Each half: its first pixel's three bytes, then its second's.
        const __m128i halves = _mm_or_si128(_mm_and_si128(bytes, _mm_set1_epi64x(0xFFFFFF)),
                                            _mm_and_si128(_mm_srli_epi64(bytes, 8), _mm_set1_epi64x(0xFFFFFF000000)));
        const __m128i packed = _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), packed);
    }
#endif
    for (; x < w; ++x) {
        const std::uint32_t v = get_word(current + 4 * x);
        put_pixel(out + 3 * x, v & 255, (v >> 8) & 255, (v >> 16) & 255);
    }
}

}  // namespace

void ReEntropyPlanes(const unsigned char* planes, unsigned char* scratch, unsigned char* frame, bool top_down,
                     int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    const std::size_t n = w * h;
    const unsigned char* p0 = planes;
    const unsigned char* p1 = planes + n;
    const unsigned char* p2 = planes + 2 * n;
    auto row_out = [&](std::size_t y) { return frame + (top_down ? h - 1 - y : y) * 3 * w; };
    // Rows of decorrelated pixels, four bytes each: the row above and the
    // row being rebuilt; and the residuals of the row, gathered the same way.
    unsigned char* above = scratch;
    unsigned char* current = scratch + 4 * w;
    unsigned char* residuals = scratch + 8 * w;

    // The first row: from the left.
    unsigned l0 = p0[0];
    unsigned l1 = p1[0];
    unsigned l2 = p2[0];
    put_word(above, word(l0, l1, l2));
    for (std::size_t x = 1; x < w; ++x) {
        l0 = (l0 + p0[x]) & 255;
        l1 = (l1 + p1[x]) & 255;
        l2 = (l2 + p2[x]) & 255;
        put_word(above + 4 * x, word(l0, l1, l2));
    }
    put_row(above, row_out(0), w);
    if (h < 2) {
        return;
    }
    // The first sample of the second row from above; every later pixel by
    // the median predictor over the frame taken as one sequence.
    std::uint32_t left = word((p0[0] + p0[w]) & 255, (p1[0] + p1[w]) & 255, (p2[0] + p2[w]) & 255);
    std::uint32_t upper_left = get_word(above);
    put_word(current, left);
    for (std::size_t y = 1; y < h; ++y) {
        const std::size_t at = y * w;
        gather_residuals(p0 + at, p1 + at, p2 + at, residuals, w);
        rebuild_row(above, residuals, current, y == 1 ? 1 : 0, w, left, upper_left);
        put_row(current, row_out(y), w);
        std::swap(above, current);
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
