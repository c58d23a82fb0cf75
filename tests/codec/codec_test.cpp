// The Tarvic frame layer: coded frames of every type pinned byte for byte
// (the prediction filters, shared by coder and decoder, round-trip whatever
// they are: only pinned bytes hold them to the format), every form of the
// median predictor against the one, every frame back in every layout, the
// codec's choice of frame type, and damaged frames refused with the picture
// left alone (any bytes are the frame fuzz target's).
#include "codec/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "codec/decoder.h"
#include "codec/median.h"
#include "common/byte_order.h"
#include "tarvic.h"

#include "support/files.h"

namespace {

using Bytes = std::vector<unsigned char>;

using test::fnv1a;

struct Coder {
    CodecInst codec;
    Bytes out;
    ICCOMPRESS block{};

    // With a layout, pictures of 8-bit planes packed one after another.
    Coder(int width, int height, int bits = 24, bool keep_alpha = false, bool null_frames = false,
          PlaneLayout layout = PlaneLayout{})
    {
        if (layout != PlaneLayout{}) {
            EXPECT_EQ(codec.BeginPlanes(width, height, layout, bits), Status::ok);
            out.assign(tarvic_planes_bound(width, height, layout, bits), 0xAA);
        } else {
            EXPECT_EQ(codec.CompressBegin(width, height, bits), Status::ok);
            out.assign(tarvic_frame_bound(width, height, bits), 0xAA);
        }
        codec.keep_alpha = keep_alpha;
        codec.detect_null_frames = null_frames;
    }
    Bytes code(const Bytes& frame)
    {
        if (codec.shape.count != 0) {
            std::size_t size = 12345;
            const PlanePicture picture = packed_picture(codec.shape, const_cast<unsigned char*>(frame.data()));
            EXPECT_EQ(codec.CompressPlanes(picture, out.data(), size), Status::ok);
            block.dwFlags = size != 0 ? key_frame_flag : 0;
            return Bytes(out.begin(), out.begin() + long(size));
        }
        block.dwFlags = 0xDEAD;
        block.dwSize = 12345;
        block.lpInput = frame.data();
        block.lpOutput = out.data();
        EXPECT_EQ(codec.CompressContinue(&block, 0), 0);
        return Bytes(out.begin(), out.begin() + block.dwSize);
    }
};

// Pictures of `bytes_per_pixel`: noise, a gradient, a smooth photo-like
// picture, one colour but for the last byte, half black, every byte 128.
Bytes picture(const std::string& kind, int w, int h, int bytes_per_pixel, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(std::size_t(w) * h * bytes_per_pixel);
    for (std::size_t i = 0; i < b.size(); ++i) {
        const std::size_t pixel = i / bytes_per_pixel;
        const unsigned r = random();
        if (kind == "noise") {
            b[i] = static_cast<unsigned char>(r);
        } else if (kind == "gradient") {
            b[i] = static_cast<unsigned char>(pixel % w * 3 + i % bytes_per_pixel * 40 + pixel / w);
        } else if (kind == "grey") {
            b[i] = static_cast<unsigned char>(pixel * 2654435761u >> 24);
        } else {
            b[i] = static_cast<unsigned char>(100 + 50 * std::sin(double(i) / 40) + r % 4);
            if (kind == "half" && i < b.size() / 2) {
                b[i] = 0;
            }
        }
    }
    if (kind == "almost") {
        std::fill(b.begin(), b.end(), 77);
        b.back() = 78;
    }
    if (kind == "128s") {
        std::fill(b.begin(), b.end(), 128);
    }
    return b;
}

// A picture's planes one after another, each a picture of one byte a pixel.
Bytes planes_picture(const std::string& kind, PlaneLayout layout, int w, int h, unsigned seed)
{
    const PlaneShape shape = plane_shape(layout, w, h, 8);
    Bytes b;
    for (int p = 0; p < shape.count; ++p) {
        const Bytes plane = picture(kind, shape.width[p], h, 1, seed + unsigned(p));
        b.insert(b.end(), plane.begin(), plane.end());
    }
    return b;
}

Bytes solid(std::size_t pixels, const Bytes& pixel)
{
    Bytes b;
    for (std::size_t p = 0; p < pixels; ++p) {
        b.insert(b.end(), pixel.begin(), pixel.end());
    }
    return b;
}

TEST(TarvicFrames, EveryFrameTypeIsPinned)
{
    // Another decoder reads these bytes: each type's frame, by length and
    // FNV-1a hash, the last of a run of frames coded by one instance. (The
    // one-colour frames are {5, 0x30}, {6, 0x10, 0x20, 0x30}, {9, 1, 2, 3, 4},
    // {11, 3, 8, 16, 128, 200}.)
    const Bytes ramp = picture("gradient", 8, 4, 3, 0);
    const Bytes ramp32 = picture("gradient", 5, 4, 4, 0);
    // Frames wide and tall enough for every step of the fast filters.
    const Bytes photo = picture("photo", 67, 13, 3, 9);
    const Bytes photo32 = picture("photo", 37, 11, 4, 9);
    // One colour but for the ninth pixel is coded in full, and so are fewer
    // than eight pixels of one colour: they are never tested for it.
    Bytes ninth = solid(32, {1, 2, 3});
    ninth[8 * 3] = 9;
    // Y, Cb and Cr of a 4 x 2 picture.
    const Bytes worked = {16, 20, 24, 30, 18, 22, 26, 29, 128, 130, 127, 131, 120, 118, 121, 117};
    const PlaneLayout yuv422 = PlaneLayout::yuv422;
    const PlaneLayout yuv444 = PlaneLayout::yuv444;
    const PlaneLayout yuva444 = PlaneLayout::yuva444;
    Bytes one_value(14, 16);  // Y 16, Cb 128, Cr 200 of a 3 x 2 picture
    std::fill(one_value.begin() + 6, one_value.end(), 128);
    std::fill(one_value.begin() + 10, one_value.end(), 200);
    const struct {
        const char* name;
        int width, height, bits;
        bool keep_alpha, null_frames;
        std::vector<Bytes> frames;
        unsigned char type;
        std::size_t size;
        std::uint64_t hash;
        PlaneLayout planes = PlaneLayout{};  // pictures of 8-bit planes, one after another
    } cases[] = {
        {"4: 24-bit", 8, 4, 24, false, false, {ramp}, 4, 59, 0xd109e490bbbc67c6u},
        {"4: noise", 7, 3, 24, false, false, {picture("noise", 7, 3, 3, 1)}, 4, 151, 0x5a8c4656de9f0de8u},
        {"4: photo", 67, 13, 24, false, false, {photo}, 4, 1243, 0xfe6ffad29db0d820u},
        {"8: photo", 37, 11, 32, true, false, {photo32}, 8, 933, 0x89c49e806a6c15e4u},
        {"5: grey", 8, 4, 24, false, false, {solid(32, {0x30, 0x30, 0x30})}, 5, 2, 0x08217a07b4dce4f0u},
        {"6: one colour", 8, 4, 24, false, false, {solid(32, {0x10, 0x20, 0x30})}, 6, 4, 0x822b7e6ea285f973u},
        {"8: 32-bit", 5, 4, 32, true, false, {ramp32}, 8, 77, 0x24acd68cd76d5e28u},
        {"8: noise", 3, 3, 32, true, false, {picture("noise", 3, 3, 4, 2)}, 8, 117, 0xba9a092930386f1au},
        {"9: one colour with alpha", 4, 4, 32, true, false, {solid(16, {1, 2, 3, 4})}, 9, 5, 0xcc22060adeb4e0f8u},
        {"4: 32-bit without alpha", 5, 4, 32, false, false, {ramp32}, 4, 57, 0x168ae72b9048098eu},
        {"4: one colour but the ninth pixel", 8, 4, 24, false, false, {ninth}, 4, 61, 0x7d632830034706a6u},
        {"4: fewer than eight pixels", 7, 1, 24, false, false, {Bytes(21, 0)}, 4, 36, 0x46340b5b7ef3e812u},
        {"5: a first frame is never null", 8, 4, 24, false, true, {Bytes(96, 128)}, 5, 2, 0x08220a07b4ddd9a0u},
        {"10: the format document's 4:2:2 picture", 4, 2, 8, false, false, {worked}, 10, 54, 0x5319535b280ea393u,
         yuv422},
        {"10: 4:2:2 photo of odd width", 37, 11, 8, false, false, {planes_picture("photo", yuv422, 37, 11, 9)}, 10,
         394, 0x4e59d347b3a501ccu, yuv422},
        {"10: 4:4:4", 5, 3, 8, false, false, {planes_picture("noise", yuv444, 5, 3, 4)}, 10, 123, 0xa17fc82b57d44173u,
         yuv444},
        {"10: 4:4:4 with alpha", 19, 7, 8, false, false, {planes_picture("gradient", yuva444, 19, 7, 3)}, 10, 127,
         0x763667665cc094feu, yuva444},
        {"11: one value a plane", 3, 2, 8, false, true, {one_value}, 11, 6, 0x005ed757082d627bu, yuv422},
    };
    for (const auto& c : cases) {
        Coder coder(c.width, c.height, c.bits, c.keep_alpha, c.null_frames, c.planes);
        Bytes coded;
        for (const Bytes& frame : c.frames) {
            coded = coder.code(frame);
        }
        const std::string name = c.name;
        EXPECT_EQ(coder.block.dwFlags, coded.empty() ? 0u : key_frame_flag) << name;
        if (coded.empty()) {
            EXPECT_EQ(c.type, 0) << name;
            continue;
        }
        EXPECT_EQ(coded[0], c.type) << name;
        EXPECT_EQ(coded.size(), c.size) << name;
        EXPECT_EQ(fnv1a(coded), c.hash) << name;
    }
}

// The median predictor: `predict` is the median of left, above and the
// gradient, and every form the filter loops run gives what it gives for
// every triple of neighbours, with a residual added where the form adds one.
static_assert(predict(10, 200, 5) == 200 && predict(10, 200, 250) == 10 && predict(10, 200, 100) == 110);

// The four bytes of a word, as a pixel's or the planes' samples are held.
std::uint32_t bytes4(int x, int y, int z, int w) { return std::uint32_t(x | y << 8 | z << 16 | w << 24); }

TEST(Median, EveryFormGivesThePredictionForEveryTriple)
{
    int wrong = 0;
    for (int l = 0; l < 256; ++l) {
        for (int a = 0; a < 256; ++a) {
            for (int c = 0; c < 256; ++c) {
                int three[] = {l, a, l + a - c};
                std::sort(three, three + 3);
                const int p = predict(l, a, c);
                wrong += p != three[1];
                wrong += predict_bytes(static_cast<unsigned char>(l), static_cast<unsigned char>(a),
                                       static_cast<unsigned char>(c)) != p;
                // Each byte of a word a triple of its own, and a residual
                // that wraps the sum.
                const int r = (l * 7 + a * 3 + c) & 255;
                const std::uint32_t left = bytes4(l, a, c, l);
                const std::uint32_t above = bytes4(a, c, l, c);
                const std::uint32_t upper_left = bytes4(c, l, a, a);
                const std::uint32_t expected = bytes4((r + p) & 255, (r + predict(a, c, l)) & 255,
                                                      (r + predict(c, l, a)) & 255, (r + predict(l, c, a)) & 255);
                wrong += rebuild_word(left, above, upper_left, bytes4(r, r, r, r)) != expected;
#ifdef REELPACK_SSE2
                auto reg = [](std::uint32_t v) { return _mm_cvtsi32_si128(static_cast<int>(v)); };
                const __m128i got = rebuild_pixel(reg(left), reg(above), reg(upper_left), reg(bytes4(r, r, r, r)));
                wrong += static_cast<std::uint32_t>(_mm_cvtsi128_si32(got)) != expected;
                auto all = [](int v) { return _mm_set1_epi8(static_cast<char>(v)); };
                const __m128i same = _mm_cmpeq_epi8(predict_16(all(l), all(a), all(c)), all(p));
                wrong += _mm_movemask_epi8(same) != 0xFFFF;
#endif
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// One round trip over bit count x pixel order x row order, and over plane
// layouts x row order: every picture decodes exactly, and codes to the bytes
// coded from the frame pixel order, through the library too. (A portable
// build runs it on the plain loops.)
using Layout = std::tuple<int, PixelOrder, bool, PlaneLayout>;  // bits, order, top down, planes

std::string layout_name(const testing::TestParamInfo<Layout>& info)
{
    const auto [bits, order, top_down, planes] = info.param;
    const char* const plane_names[] = {"", "yuv422", "yuv444", "yuva444"};
    const std::string form = planes != PlaneLayout{} ? plane_names[int(planes)]
                                                     : std::to_string(bits) +
                                                           (order == PixelOrder::movie ? "_movie" : "_frame");
    return form + (top_down ? "_top_down" : "_bottom_up");
}

tarvic_layout library_layout(PlaneLayout planes)
{
    return planes == PlaneLayout::yuv422 ? TARVIC_YUV422P8
                                         : planes == PlaneLayout::yuv444 ? TARVIC_YUV444P8 : TARVIC_YUVA444P8;
}

// Planes laid in `memory` with padding after each row (never written), rows
// top down or upwards in memory.
PlanePicture lay_planes(const PlaneShape& shape, bool top_down, Bytes& memory)
{
    const std::size_t pad = shape.width[0] % 2 != 0 ? 3 : 0;
    memory.assign((std::size_t(shape.width[0]) + pad) * shape.height * std::size_t(shape.count), 0xEE);
    PlanePicture picture;
    unsigned char* at = memory.data();
    for (int p = 0; p < shape.count; ++p) {
        const std::ptrdiff_t span = std::ptrdiff_t(std::size_t(shape.width[p]) + pad);
        picture.plane[p] = top_down ? at : at + (shape.height - 1) * span;
        picture.stride[p] = top_down ? span : -span;
        at += span * shape.height;
    }
    return picture;
}

void round_trip_planes(PlaneLayout planes, bool top_down, int w, int h, const char* kind)
{
    const Bytes frame = planes_picture(kind, planes, w, h, unsigned(w * 100 + h));
    Coder coder(w, h, 8, false, true, planes);
    const PlaneShape shape = coder.codec.shape;
    const Bytes coded = coder.code(frame);
    EXPECT_LE(coded.size(), tarvic_planes_bound(w, h, planes, 8));
    EXPECT_TRUE(coder.code(frame).empty());  // a repeat is a null frame

    Bytes laid, out, back;
    const PlanePicture picture = lay_planes(shape, top_down, laid);
    copy_planes(shape, packed_picture(shape, const_cast<unsigned char*>(frame.data())), picture);
    const PlanePicture into = lay_planes(shape, top_down, out);
    const PlanePicture library_into = lay_planes(shape, top_down, back);
    TarvicDecoder decoder;
    ASSERT_EQ(decoder.BeginPlanes(w, h, planes, 8), Status::ok);
    ASSERT_EQ(decoder.DecompressPlanes(coded.data(), coded.size(), into), Status::ok);
    ASSERT_EQ(decoder.DecompressPlanes(nullptr, 0, into), Status::ok);  // a null frame
    EXPECT_TRUE(out == laid);

    tarvic_encoder* encoder = nullptr;
    tarvic_decoder* library_decoder = nullptr;
    ASSERT_EQ(tarvic_encoder_create_layout(w, h, library_layout(planes), TARVIC_NULL_FRAMES, &encoder), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create_layout(w, h, library_layout(planes), &library_decoder), TARVIC_OK);
    Bytes library_coded(tarvic_layout_bound(w, h, library_layout(planes)));
    const void* const from[4] = {picture.plane[0], picture.plane[1], picture.plane[2], picture.plane[3]};
    void* const to[4] = {library_into.plane[0], library_into.plane[1], library_into.plane[2], library_into.plane[3]};
    std::size_t sizes[2] = {};
    for (std::size_t& size : sizes) {  // the second a repeat: a null frame
        EXPECT_EQ(tarvic_encode_planes(encoder, from, picture.stride, library_coded.data(), library_coded.size(),
                                       &size),
                  TARVIC_OK);
    }
    EXPECT_TRUE(Bytes(library_coded.begin(), library_coded.begin() + long(sizes[0])) == coded);
    EXPECT_EQ(sizes[1], 0u);
    EXPECT_EQ(tarvic_decode_planes(library_decoder, library_coded.data(), sizes[0], to, picture.stride), TARVIC_OK);
    EXPECT_TRUE(back == laid);
    tarvic_encoder_destroy(encoder);
    tarvic_decoder_destroy(library_decoder);
}

class TarvicRoundTrip : public testing::TestWithParam<Layout> {};

TEST_P(TarvicRoundTrip, EveryPictureComesBackExactly)
{
    const auto [bits, order, top_down, planes] = GetParam();
    const int bytes_per_pixel = bits / 8;
    for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {7, 1}, {1, 7}, {2, 2}, {8, 1}, {13, 17}, {64, 48}, {301, 77}}) {
        // The first picture is never a null frame, whatever its bytes.
        for (const char* kind : {"noise", "gradient", "photo", "half", "almost", "grey", "128s"}) {
            SCOPED_TRACE(testing::Message() << kind << " " << w << "x" << h);
            if (planes != PlaneLayout{}) {
                round_trip_planes(planes, top_down, w, h, kind);
                continue;
            }
            const Bytes frame = picture(kind, w, h, bytes_per_pixel, unsigned(w * 100 + h));
            const std::size_t row = std::size_t(w) * bytes_per_pixel;
            // The same picture as a "raw " movie holds it: rows top down, red first.
            Bytes input = frame;
            for (int y = 0; order == PixelOrder::movie && y < h; ++y) {
                for (std::size_t k = 0; k < row; k += 3) {
                    const unsigned char* from = &frame[std::size_t(h - 1 - y) * row + k];
                    input[std::size_t(y) * row + k] = from[2];
                    input[std::size_t(y) * row + k + 1] = from[1];
                    input[std::size_t(y) * row + k + 2] = from[0];
                }
            }
            Coder reference(w, h, bits, bits == 32);
            const Bytes expected = reference.code(frame);
            Coder coder(w, h, bits, bits == 32, true);
            coder.codec.input_order = order;
            const Bytes coded = coder.code(input);
            ASSERT_EQ(coded, expected);
            EXPECT_LE(coded.size(), tarvic_frame_bound(w, h, bits));
            EXPECT_TRUE(coder.code(input).empty());  // a repeat is a null frame

            TarvicDecoder decoder;
            ASSERT_EQ(decoder.DecompressBegin(w, h, bits), Status::ok);
            decoder.top_down = top_down;
            Bytes out(frame.size(), 0xEE);
            ASSERT_EQ(decoder.Decompress(coded.data(), coded.size(), out.data()), Status::ok);
            ASSERT_EQ(decoder.Decompress(coded.data(), 0, out.data()), Status::ok);  // a null frame
            for (int y = 0; y < h; ++y) {
                const auto at = out.begin() + static_cast<long>(std::size_t(top_down ? h - 1 - y : y) * row);
                ASSERT_TRUE(std::equal(at, at + static_cast<long>(row), frame.begin() + static_cast<long>(y * row)))
                    << "row " << y;
            }

            // The library, from and into rows bottom up or top down, packed
            // or padded: the same bytes and picture, the padding never written.
            const std::size_t span = row + (w % 2 != 0 ? 5 : 0);
            const std::ptrdiff_t stride = std::ptrdiff_t(span) * (top_down ? 1 : -1);
            Bytes laid(std::size_t(h) * span, 0xEE);
            unsigned char* top = &laid[top_down ? 0 : laid.size() - span];  // the picture's top row
            for (int y = 0; y < h; ++y) {
                std::memcpy(top + y * stride, &frame[std::size_t(h - 1 - y) * row], row);
            }
            tarvic_encoder* encoder = nullptr;
            tarvic_decoder* library_decoder = nullptr;
            ASSERT_EQ(tarvic_encoder_create(w, h, bits, TARVIC_NULL_FRAMES, &encoder), TARVIC_OK);
            ASSERT_EQ(tarvic_decoder_create(w, h, bits, &library_decoder), TARVIC_OK);
            Bytes library_coded(tarvic_bound(w, h, bits));
            std::size_t sizes[2] = {};
            for (std::size_t& size : sizes) {  // the second a repeat: a null frame
                ASSERT_EQ(tarvic_encode(encoder, top, stride, library_coded.data(), library_coded.size(), &size),
                          TARVIC_OK);
            }
            EXPECT_TRUE(Bytes(library_coded.begin(), library_coded.begin() + long(sizes[0])) == expected);
            EXPECT_EQ(sizes[1], 0u);
            Bytes back(laid.size(), 0xEE);
            ASSERT_EQ(tarvic_decode(library_decoder, library_coded.data(), sizes[0], &back[top - laid.data()], stride),
                      TARVIC_OK);
            EXPECT_TRUE(back == laid);
            tarvic_encoder_destroy(encoder);
            tarvic_decoder_destroy(library_decoder);
        }
    }
}

// 32-bit frames come in the frame pixel order and go out bottom up only.
INSTANTIATE_TEST_SUITE_P(Layouts, TarvicRoundTrip, testing::Values(Layout{32, PixelOrder::frame, false, {}}),
                         layout_name);
INSTANTIATE_TEST_SUITE_P(Layouts24, TarvicRoundTrip,
                         testing::Combine(testing::Values(24), testing::Values(PixelOrder::frame, PixelOrder::movie),
                                          testing::Bool(), testing::Values(PlaneLayout{})),
                         layout_name);
INSTANTIATE_TEST_SUITE_P(Planes, TarvicRoundTrip,
                         testing::Combine(testing::Values(8), testing::Values(PixelOrder::frame), testing::Bool(),
                                          testing::Values(PlaneLayout::yuv422, PlaneLayout::yuv444,
                                                          PlaneLayout::yuva444)),
                         layout_name);

TEST(TarvicFrames, TheCodecChoosesTheFrameType)
{
    // A one-colour raw movie frame is told in the frame pixel order.
    Coder raw(8, 4);
    raw.codec.input_order = PixelOrder::movie;
    EXPECT_EQ(raw.code(solid(32, {9, 8, 7})), (Bytes{6, 7, 8, 9}));

    // Null frames off: a repeat is coded in full and not kept, so turned on
    // again it is compared only once it has been kept.
    Coder n(8, 8);
    const Bytes frame = picture("noise", 8, 8, 3, 3);
    EXPECT_FALSE(n.code(frame).empty());
    n.codec.detect_null_frames = 1;
    EXPECT_FALSE(n.code(frame).empty());
    EXPECT_TRUE(n.code(frame).empty());
}

// A frame with `bytes` bytes from `at` on set to v, least significant first.
Bytes changed(Bytes b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i) {
        b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
    }
    return b;
}

// Damaged frames are refused, by the frame decoder and by the library
// under the same number, and leave the last good picture (black before the
// first); the stream goes on after them.
TEST(TarvicFrames, DamagedFramesAreRefusedAndLeaveThePicture)
{
    const Bytes coded = Coder(16, 12).code(picture("photo", 16, 12, 3, 5));
    auto with = [&](std::size_t at, std::uint32_t v) { return changed(coded, at, v); };
    // The first channel's level byte, and at levels 1 to 3 its zero-run length.
    auto run_length = [&](unsigned char level, std::uint32_t n) {
        Bytes b = with(10, n);
        b[9] = level;
        return b;
    };
    const std::uint32_t second = get_le32(&coded[1]);
    const std::uint32_t third = get_le32(&coded[5]);
    std::vector<std::pair<Bytes, Status>> damaged = {
        {with(1, third + 1), Status::bad_offsets}, {with(5, second - 1), Status::bad_offsets},
        {with(1, 0xFFFFFFF0u), Status::bad_offsets}, {with(1, 3), Status::bad_offsets},
        {run_length(7, get_le32(&coded[10])), Status::bad_level}, {{5, 1, 2}, Status::truncated},
        {{6, 1, 2, 3, 4}, Status::truncated},      {{9, 1, 2, 3, 4}, Status::bad_type},
        {{8, 0, 0, 0, 0}, Status::bad_type},       {{4, 0, 0}, Status::truncated},
        {{7}, Status::bad_type},                   {with(10, get_le32(&coded[10]) ^ 0xFFu), Status::bad_table},
        {run_length(1, 0), Status::bad_stream},    {run_length(2, 16 * 12 + 1), Status::bad_stream},
        {{0, 0xA5, 0xA5}, Status::bad_type},       {{255, 0xA5}, Status::bad_type},
    };
    // Cut short within the channels: any refusal will do (Status::ok).
    for (std::size_t cut : {std::size_t(20), coded.size() / 2, coded.size() - 3}) {
        damaged.push_back({Bytes(coded.begin(), coded.begin() + long(cut)), Status::ok});
    }
    // 32-bit pictures: a one-colour frame with alpha is exactly five bytes.
    std::vector<std::pair<Bytes, Status>> deep = {{{9, 1, 2, 3, 4, 5}, Status::truncated},
                                                  {{9, 1, 2, 3}, Status::truncated},
                                                  {{5, 1}, Status::bad_type},
                                                  {{4, 0, 0, 0, 0, 0}, Status::bad_type}};
    const Bytes good32 = {9, 1, 2, 3, 4};
    // Planes: a 10 x 6 4:2:2 picture, whose channel 1 starts at byte 11.
    const Bytes planes = Coder(10, 6, 8, false, false, PlaneLayout::yuv422)
                             .code(planes_picture("photo", PlaneLayout::yuv422, 10, 6, 5));
    auto planes_with = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
        return changed(planes, at, v, bytes);
    };
    const std::uint32_t o2 = get_le32(&planes[3]);
    const std::uint32_t o3 = get_le32(&planes[7]);
    std::vector<std::pair<Bytes, Status>> planar = {
        {planes_with(3, o3 + 1), Status::bad_offsets},   {planes_with(7, o2 - 1), Status::bad_offsets},
        {planes_with(3, 10), Status::bad_offsets},       {planes_with(7, 0xFFFFFFF0u), Status::bad_offsets},
        {planes_with(1, 4, 1), Status::bad_type},        {planes_with(2, 10, 1), Status::bad_type},
        {planes_with(11, 7, 1), Status::bad_level},         {Bytes(planes.begin(), planes.begin() + 9), Status::truncated},
        {{11, 3, 8, 1, 2}, Status::truncated},           {{11, 3, 8, 1, 2, 3, 4}, Status::truncated},
        {{11, 4, 8, 1, 2, 3, 4}, Status::bad_type},      {{10, 3}, Status::truncated},
        {{4, 0, 0, 0, 0, 0, 0, 0, 0}, Status::bad_type}, {{8, 0, 0, 0, 0}, Status::bad_type},
        {{6, 1, 2, 3}, Status::bad_type},                {{9, 1, 2, 3, 4}, Status::bad_type},
    };
    for (std::size_t cut : {std::size_t(20), planes.size() / 2, planes.size() - 3}) {
        planar.push_back({Bytes(planes.begin(), planes.begin() + long(cut)), Status::ok});
    }
    damaged.push_back({{11, 3, 8, 1, 2, 3}, Status::bad_type});
    damaged.push_back({planes, Status::bad_type});
    struct Stream {
        int w, h, bits;
        PlaneLayout layout;
        tarvic_layout library_layout;
        const Bytes* good;
        const std::vector<std::pair<Bytes, Status>>* frames;
    };
    for (const Stream& s : {Stream{16, 12, 24, {}, TARVIC_BGR24, &coded, &damaged},
                            {4, 4, 32, {}, TARVIC_BGRA32, &good32, &deep},
                            {10, 6, 8, PlaneLayout::yuv422, TARVIC_YUV422P8, &planes, &planar}}) {
        const bool in_planes = s.layout != PlaneLayout{};
        TarvicDecoder decoder;
        tarvic_decoder* library = nullptr;
        ASSERT_EQ(in_planes ? decoder.BeginPlanes(s.w, s.h, s.layout, 8) : decoder.DecompressBegin(s.w, s.h, s.bits),
                  Status::ok);
        ASSERT_EQ(tarvic_decoder_create_layout(s.w, s.h, s.library_layout, &library), TARVIC_OK);
        // The picture's planes packed, or its packed pixels as one plane.
        const PlaneShape shape = in_planes ? decoder.shape : PlaneShape{1, {s.w * s.bits / 8}, s.h, 8};
        auto decode = [&](const Bytes& frame, Bytes& picture) {
            const PlanePicture into = packed_picture(shape, picture.data());
            return in_planes ? decoder.DecompressPlanes(frame.data(), frame.size(), into)
                             : decoder.Decompress(frame.data(), frame.size(), picture.data());
        };
        auto library_decode = [&](const Bytes& frame, Bytes& picture) {
            const PlanePicture into = packed_picture(shape, picture.data());
            void* const to[4] = {into.plane[0], into.plane[1], into.plane[2], into.plane[3]};
            return int(tarvic_decode_planes(library, frame.empty() ? nullptr : frame.data(), frame.size(), to,
                                            into.stride));
        };
        const Bytes previous(planes_bytes(shape), 0x42);
        Bytes last = previous;
        Bytes black(last.size(), 0);
        if (in_planes) {
            fill_black(shape, packed_picture(shape, black.data()));
        }
        ASSERT_EQ(library_decode({}, last), TARVIC_OK);
        EXPECT_EQ(last, black);
        ASSERT_EQ(library_decode(*s.good, last), TARVIC_OK);
        Bytes out = previous;
        for (const auto& [frame, status] : *s.frames) {
            const Status got = decode(frame, out);
            EXPECT_TRUE(status == Status::ok ? got != Status::ok : got == status) << frame.size() << " " << int(got);
            Bytes picture(last.size(), 0x77);
            EXPECT_EQ(library_decode(frame, picture), int(got));
            EXPECT_TRUE(picture == last);
        }
        EXPECT_EQ(out, previous);
        EXPECT_EQ(decode(*s.good, out), Status::ok);
        tarvic_decoder_destroy(library);
    }
}

}  // namespace
