// Every picture back exactly, in every layout of packed pixels and of
// planes, from the codec and through the library, with the bytes the frame
// pixel order codes to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

#include "codec/codec.h"
#include "codec/decoder.h"
#include "tarvic.h"

#include "coder.h"

namespace {

using namespace codec_test;

// One round trip over bit count x pixel order x row order, and over plane
// layouts x row order: every picture decodes exactly, and codes to the bytes
// coded from the frame pixel order, through the library too. (A portable
// build runs it on the plain loops.)
using Layout = std::tuple<int, PixelOrder, bool, PlaneLayout>;  // bits (of a sample in planes), order, top down, planes

std::string layout_name(const testing::TestParamInfo<Layout>& info)
{
    const auto [bits, order, top_down, planes] = info.param;
    const char* const plane_names[] = {"", "yuv422", "yuv444", "yuva444", "gbr444", "gbra444", "grey"};
    const std::string form = planes != PlaneLayout{} ? plane_names[int(planes)] + std::to_string(bits)
                                                     : std::to_string(bits) +
                                                           (order == PixelOrder::movie ? "_movie" : "_frame");
    return form + (top_down ? "_top_down" : "_bottom_up");
}

tarvic_layout library_layout(PlaneLayout planes, int bits)
{
    const std::tuple<PlaneLayout, int, tarvic_layout> layouts[] = {
        {PlaneLayout::yuv422, 8, TARVIC_YUV422P8},   {PlaneLayout::yuv444, 8, TARVIC_YUV444P8},
        {PlaneLayout::yuva444, 8, TARVIC_YUVA444P8}, {PlaneLayout::yuv422, 10, TARVIC_YUV422P10},
        {PlaneLayout::yuv444, 10, TARVIC_YUV444P10}, {PlaneLayout::gbr444, 10, TARVIC_GBRP10},
        {PlaneLayout::gbr444, 16, TARVIC_GBRP16},    {PlaneLayout::gbra444, 16, TARVIC_GBRAP16},
        {PlaneLayout::grey, 16, TARVIC_GRAY16}};
    for (const auto& [layout, b, named] : layouts) {
        if (layout == planes && b == bits) {
            return named;
        }
    }
    return tarvic_layout(0);  // none: the codec alone
}

// Planes laid in `memory` with padding after each row (never written), rows
// top down or upwards in memory.
PlanePicture lay_planes(const PlaneShape& shape, bool top_down, Bytes& memory)
{
    const std::size_t pad = shape.width[0] % 2 != 0 ? 3 : 0;
    const std::size_t size = shape.bits > 8 ? 2 : 1;
    memory.assign((std::size_t(shape.width[0]) * size + pad) * shape.height * std::size_t(shape.count), 0xEE);
    PlanePicture picture;
    unsigned char* at = memory.data();
    for (int p = 0; p < shape.count; ++p) {
        const std::ptrdiff_t span = std::ptrdiff_t(std::size_t(shape.width[p]) * size + pad);
        picture.plane[p] = top_down ? at : at + (shape.height - 1) * span;
        picture.stride[p] = top_down ? span : -span;
        at += span * shape.height;
    }
    return picture;
}

void round_trip_planes(PlaneLayout planes, int bits, bool top_down, int w, int h, const char* kind)
{
    const Bytes frame = planes_picture(kind, planes, w, h, unsigned(w * 100 + h), bits);
    Coder coder(w, h, bits, false, true, planes);
    const PlaneShape shape = coder.codec.shape;
    const Bytes coded = coder.code(frame);
    EXPECT_LE(coded.size(), tarvic_planes_bound(w, h, planes, bits));
    EXPECT_TRUE(coder.code(frame).empty());  // a repeat is a null frame

    Bytes laid, out, back;
    const PlanePicture picture = lay_planes(shape, top_down, laid);
    copy_planes(shape, packed_picture(shape, const_cast<unsigned char*>(frame.data())), picture);
    const PlanePicture into = lay_planes(shape, top_down, out);
    const PlanePicture library_into = lay_planes(shape, top_down, back);
    TarvicDecoder decoder;
    ASSERT_EQ(decoder.BeginPlanes(w, h, planes, bits), Status::ok);
    ASSERT_EQ(decoder.DecompressPlanes(coded.data(), coded.size(), into), Status::ok);
    ASSERT_EQ(decoder.DecompressPlanes(nullptr, 0, into), Status::ok);  // a null frame
    EXPECT_TRUE(out == laid);
    const tarvic_layout layout = library_layout(planes, bits);
    if (layout == tarvic_layout(0)) {
        return;
    }

    tarvic_encoder* encoder = nullptr;
    tarvic_decoder* library_decoder = nullptr;
    ASSERT_EQ(tarvic_encoder_create_layout(w, h, layout, TARVIC_NULL_FRAMES, &encoder), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create_layout(w, h, layout, &library_decoder), TARVIC_OK);
    Bytes library_coded(tarvic_layout_bound(w, h, layout));
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
                round_trip_planes(planes, bits, top_down, w, h, kind);
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
                                                          PlaneLayout::yuva444, PlaneLayout::gbr444,
                                                          PlaneLayout::gbra444, PlaneLayout::grey)),
                         layout_name);
// Samples of every width 9 to 16 bits; 10 and 16 through the library too.
INSTANTIATE_TEST_SUITE_P(DeepPlanes, TarvicRoundTrip,
                         testing::Combine(testing::Range(9, 17), testing::Values(PixelOrder::frame), testing::Bool(),
                                          testing::Values(PlaneLayout::yuv422, PlaneLayout::yuv444,
                                                          PlaneLayout::yuva444, PlaneLayout::gbr444,
                                                          PlaneLayout::gbra444, PlaneLayout::grey)),
                         layout_name);

}  // namespace
