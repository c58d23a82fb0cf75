#include "codec/plane_filter.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "codec/median.h"
#include "codec/word_rows.h"
#include "common/cpu.h"

namespace {

// Samples 1 on of a row, from their left, above and upper-left neighbours.
// No sample depends on another's residual, so sixteen go at once.
void predict_row(const unsigned char* s, const unsigned char* above, unsigned char* d, std::size_t w)
{
    std::size_t x = 1;
#ifdef REELPACK_SSE2
    for (; x + 16 <= w; x += 16) {
        auto at = [](const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        const __m128i p = predict_16(at(s + x - 1), at(above + x), at(above + x - 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_sub_epi8(at(s + x), p));
    }
#endif
    for (; x < w; ++x) {
        d[x] = static_cast<unsigned char>(s[x] - predict_bytes(s[x - 1], above[x], above[x - 1]));
    }
}

}  // namespace

void predict_plane(const unsigned char* top, std::ptrdiff_t stride, std::size_t width, std::size_t height,
                   unsigned char* residuals)
{
    if (width == 0 || height == 0) {
        return;
    }
    residuals[0] = top[0];
    for (std::size_t x = 1; x < width; ++x) {
        residuals[x] = static_cast<unsigned char>(top[x] - top[x - 1]);
    }
    for (std::size_t y = 1; y < height; ++y) {
        const unsigned char* above = top + std::ptrdiff_t(y - 1) * stride;
        const unsigned char* s = above + stride;
        unsigned char* d = residuals + y * width;
        // The first sample's left neighbour is the last of the row above;
        // in the second row it is predicted from that alone, which the
        // median of the same sample twice gives.
        const unsigned char left = above[width - 1];
        const unsigned char up = y == 1 ? left : above[0];
        const unsigned char upper_left = y == 1 ? left : (above - stride)[width - 1];
        d[0] = static_cast<unsigned char>(s[0] - predict_bytes(left, up, upper_left));
        predict_row(s, above, d, width);
    }
}

void predict_planes(const PlaneShape& shape, const PlanePicture& picture, unsigned char* residuals)
{
    for (int p = 0; p < shape.count; ++p) {
        const std::size_t w = std::size_t(shape.width[p]);
        predict_plane(picture.plane[p], picture.stride[p], w, std::size_t(shape.height), residuals);
        residuals += w * std::size_t(shape.height);
    }
}

namespace {

// The planes' samples at one place held as a word: Y in byte 0, Cb in 1,
// Cr in 2, alpha in 3 (0 without). In 4:2:2 a word is a Y sample: the
// even ones carry their chroma, and the odd ones a residual of 0 for it,
// which with the chroma of its own above and upper-left words (the same
// sample) rebuilds the chroma of the word before again; so one chain of
// words rebuilds every plane. The forms of word rows: 4:2:2, 4:4:4, and
// 4:4:4 with alpha.
enum class Words { halved, full, alpha };

std::uint32_t word4(unsigned y, unsigned cb, unsigned cr, unsigned a) { return y | cb << 8 | cr << 16 | a << 24; }

// A row of residual words from the planes' rows.
template <Words form>
void gather_words(const unsigned char* const rows[4], unsigned char* words, std::size_t w)
{
    const unsigned char* y = rows[0];
    const unsigned char* cb = rows[1];
    const unsigned char* cr = rows[2];
    const unsigned char* a = rows[3];
    std::size_t x = 0;
#ifdef REELPACK_SSE2
    auto at = [](const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= w; x += 16) {
        __m128i b = zero;
        __m128i r = zero;
        if (form == Words::halved) {
            b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)), zero);
            r = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)), zero);
        } else {
            b = at(cb + x);
            r = at(cr + x);
        }
        const __m128i fourth = form == Words::alpha ? at(a + x) : zero;
        const __m128i luma = at(y + x);
        const __m128i low = _mm_unpacklo_epi8(luma, b);
        const __m128i high = _mm_unpackhi_epi8(luma, b);
        const __m128i low2 = _mm_unpacklo_epi8(r, fourth);
        const __m128i high2 = _mm_unpackhi_epi8(r, fourth);
        __m128i* to = reinterpret_cast<__m128i*>(words + 4 * x);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(low, low2));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, low2));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, high2));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, high2));
    }
#endif
    for (; x < w; ++x) {
        const bool own = form != Words::halved || x % 2 == 0;
        const std::size_t c = form == Words::halved ? x / 2 : x;
        put_word(words + 4 * x, word4(y[x], own ? cb[c] : 0, own ? cr[c] : 0, form == Words::alpha ? a[x] : 0));
    }
}

#ifdef REELPACK_SSE2
// Byte `lane` of sixteen words, or of eight when `b` and `c` are left out.
template <int lane>
REELPACK_INLINE __m128i lane_bytes(__m128i a, __m128i b, __m128i c, __m128i d)
{
    const __m128i mask = _mm_set1_epi32(0xFF);
    auto take = [&](__m128i v) { return _mm_and_si128(_mm_srli_epi32(v, 8 * lane), mask); };
    return _mm_packus_epi16(_mm_packs_epi32(take(a), take(b)), _mm_packs_epi32(take(c), take(d)));
}

// The even words of eight, as four.
REELPACK_INLINE __m128i even_words(__m128i a, __m128i b)
{
    const __m128i x = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i y = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_unpacklo_epi64(x, y);
}
#endif

// A row of rebuilt words into the planes' rows.
template <Words form>
void scatter_words(const unsigned char* words, unsigned char* const rows[4], std::size_t w)
{
    std::size_t x = 0;
#ifdef REELPACK_SSE2
    auto store = [](unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
    for (; x + 16 <= w; x += 16) {
        const __m128i* from = reinterpret_cast<const __m128i*>(words + 4 * x);
        const __m128i w0 = _mm_loadu_si128(from);
        const __m128i w1 = _mm_loadu_si128(from + 1);
        const __m128i w2 = _mm_loadu_si128(from + 2);
        const __m128i w3 = _mm_loadu_si128(from + 3);
        store(rows[0] + x, lane_bytes<0>(w0, w1, w2, w3));
        if (form == Words::halved) {
            const __m128i e0 = even_words(w0, w1);
            const __m128i e1 = even_words(w2, w3);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[1] + x / 2), lane_bytes<1>(e0, e1, e0, e1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[2] + x / 2), lane_bytes<2>(e0, e1, e0, e1));
            continue;
        }
        store(rows[1] + x, lane_bytes<1>(w0, w1, w2, w3));
        store(rows[2] + x, lane_bytes<2>(w0, w1, w2, w3));
        if (form == Words::alpha) {
            store(rows[3] + x, lane_bytes<3>(w0, w1, w2, w3));
        }
    }
#endif
    for (; x < w; ++x) {
        const std::uint32_t v = get_word(words + 4 * x);
        rows[0][x] = static_cast<unsigned char>(v);
        if (form != Words::halved || x % 2 == 0) {
            const std::size_t c = form == Words::halved ? x / 2 : x;
            rows[1][c] = static_cast<unsigned char>(v >> 8);
            rows[2][c] = static_cast<unsigned char>(v >> 16);
        }
        if (form == Words::alpha) {
            rows[3][x] = static_cast<unsigned char>(v >> 24);
        }
    }
}

// Row by row: the residual words gathered, the chain of words rebuilt from
// the row above (zeros above the first row, whose words therefore come
// from the left alone), and the words laid out into the picture. The second
// row's first word takes the first word above as its upper-left neighbour
// too, which predicts it from the left alone; later rows carry the last
// word of the row two up.
template <Words form>
void rebuild_words(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                   const PlanePicture& picture)
{
    const std::size_t w = std::size_t(shape.width[0]);
    const std::size_t h = std::size_t(shape.height);
    unsigned char* above = scratch;
    unsigned char* current = scratch + 4 * w;
    unsigned char* gathered = scratch + 8 * w;
    std::memset(above, 0, 4 * w);
    const unsigned char* planes[4] = {};
    for (int p = 0; p < shape.count; ++p) {
        planes[p] = residuals;
        residuals += std::size_t(shape.width[p]) * h;
    }
    std::uint32_t left = 0;
    std::uint32_t upper_left = 0;
    for (std::size_t y = 0; y < h; ++y) {
        const unsigned char* in[4] = {};
        unsigned char* out[4] = {};
        for (int p = 0; p < shape.count; ++p) {
            in[p] = planes[p] + y * std::size_t(shape.width[p]);
            out[p] = picture.plane[p] + std::ptrdiff_t(y) * picture.stride[p];
        }
        gather_words<form>(in, gathered, w);
        if (y == 1) {
            upper_left = get_word(above);
        }
        rebuild_row(above, gathered, current, 0, w, left, upper_left);
        scatter_words<form>(current, out, w);
        std::swap(above, current);
    }
}

}  // namespace

std::size_t rebuild_planes_scratch(const PlaneShape& shape) { return 12 * std::size_t(shape.width[0]); }

void rebuild_planes(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                    const PlanePicture& picture)
{
    if (shape.count == 4) {
        rebuild_words<Words::alpha>(shape, residuals, scratch, picture);
    } else if (shape.width[1] < shape.width[0]) {
        rebuild_words<Words::halved>(shape, residuals, scratch, picture);
    } else {
        rebuild_words<Words::full>(shape, residuals, scratch, picture);
    }
}
