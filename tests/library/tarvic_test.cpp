// The library's interface: decoding over the last picture, the first
// picture with null frames on, and calls it cannot carry out refused by
// name. (Pictures in every row layout, and damaged frames, which leave the
// last good picture, are the frame layer's tests, through the library too.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tarvic.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A picture of `kind` (0: noise, 1: gradient, 2: one colour), top row first.
Bytes make_picture(int width, int height, int bytes_per_pixel, int kind, unsigned seed)
{
    Bytes picture(std::size_t(width) * height * bytes_per_pixel);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < picture.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t pixel = i / bytes_per_pixel;
        const std::size_t gradient = pixel % width + 3 * (pixel / width) + seed + i % bytes_per_pixel;
        const std::size_t values[] = {state >> 24, gradient, seed * 40 + i % bytes_per_pixel};
        picture[i] = static_cast<unsigned char>(values[kind]);
    }
    return picture;
}

struct Encoder {
    tarvic_encoder* handle = nullptr;
    ~Encoder() { tarvic_encoder_destroy(handle); }
};

struct Decoder {
    tarvic_decoder* handle = nullptr;
    ~Decoder() { tarvic_decoder_destroy(handle); }
};

// Decoding over the picture the call before gave back gives what
// tarvic_decode() gives, frame for frame, in every row layout: the stand-in
// for null and damaged frames is the picture left as it was.
TEST(Tarvic, DecodingOverThePictureGivesWhatDecodingGives)
{
    const int width = 21;
    const int height = 6;
    for (int bits : {24, 32}) {
        const std::ptrdiff_t row = width * (bits / 8);
        Encoder encoder;
        ASSERT_EQ(tarvic_encoder_create(width, height, bits, 0, &encoder.handle), TARVIC_OK);
        std::vector<Bytes> stream;
        for (int kind : {0, 1}) {
            Bytes coded(tarvic_bound(width, height, bits));
            std::size_t size = 0;
            const Bytes picture = make_picture(width, height, bits / 8, kind, unsigned(kind));
            ASSERT_EQ(tarvic_encode(encoder.handle, picture.data(), row, coded.data(), coded.size(), &size), TARVIC_OK);
            coded.resize(size);
            stream.push_back(coded);
            stream.push_back({});  // a null frame
        }
        stream.insert(stream.begin() + 2, Bytes{static_cast<unsigned char>(bits == 24 ? 4 : 8), 1, 2});  // damaged
        for (const std::ptrdiff_t stride : {-row, row, row + 5, -row - 3}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, stride " + std::to_string(stride));
            Decoder plain, over;
            ASSERT_EQ(tarvic_decoder_create(width, height, bits, &plain.handle), TARVIC_OK);
            ASSERT_EQ(tarvic_decoder_create(width, height, bits, &over.handle), TARVIC_OK);
            const std::size_t span = std::size_t(stride < 0 ? -stride : stride) * height;
            Bytes kept(span, 0), fresh(span, 0);
            unsigned char* top = stride < 0 ? kept.data() + span + stride : kept.data();
            unsigned char* fresh_top = stride < 0 ? fresh.data() + span + stride : fresh.data();
            for (const Bytes& frame : stream) {
                const void* bytes = frame.empty() ? nullptr : frame.data();
                EXPECT_EQ(tarvic_decode_over(over.handle, bytes, frame.size(), top, stride),
                          tarvic_decode(plain.handle, bytes, frame.size(), fresh_top, stride));
                ASSERT_TRUE(kept == fresh) << frame.size();
            }
        }
    }
}

TEST(Tarvic, RefusesCallsItCannotCarryOut)
{
    tarvic_encoder* encoder = reinterpret_cast<tarvic_encoder*>(1);
    tarvic_decoder* decoder = reinterpret_cast<tarvic_decoder*>(1);
    struct Size {
        int width, height, bits;
    };
    for (const Size& s : {Size{0, 4, 24}, Size{4, -1, 24}, Size{4, 4, 16}, Size{4, 4, 0}, Size{1 << 30, 1 << 30, 32}}) {
        EXPECT_EQ(tarvic_bound(s.width, s.height, s.bits), 0u);
        EXPECT_EQ(tarvic_encoder_create(s.width, s.height, s.bits, 0, &encoder), TARVIC_BAD_SIZE);
        EXPECT_EQ(encoder, nullptr);
        EXPECT_EQ(tarvic_decoder_create(s.width, s.height, s.bits, &decoder), TARVIC_BAD_SIZE);
        EXPECT_EQ(decoder, nullptr);
    }
    EXPECT_EQ(tarvic_encoder_create(4, 4, 24, 0, nullptr), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decoder_create(4, 4, 24, nullptr), TARVIC_BAD_ARGUMENT);
    for (const int layout : {0, 12}) {
        EXPECT_EQ(tarvic_layout_bound(4, 4, tarvic_layout(layout)), 0u);
        EXPECT_EQ(tarvic_encoder_create_layout(4, 4, tarvic_layout(layout), 0, &encoder), TARVIC_BAD_SIZE);
        EXPECT_EQ(tarvic_decoder_create_layout(4, 4, tarvic_layout(layout), &decoder), TARVIC_BAD_SIZE);
    }
    EXPECT_EQ(tarvic_decoder_create_layout(0, 4, TARVIC_YUV422P8, &decoder), TARVIC_BAD_SIZE);
    EXPECT_EQ(tarvic_layout_bound(1 << 30, 1 << 30, TARVIC_YUVA444P8), 0u);

    Encoder enc;
    Decoder dec;
    ASSERT_EQ(tarvic_encoder_create(4, 3, 24, 0, &enc.handle), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create(4, 3, 24, &dec.handle), TARVIC_OK);
    Bytes picture(4 * 3 * 3 + 64);
    Bytes coded(tarvic_bound(4, 3, 24));
    std::size_t size = 7;
    const struct {
        tarvic_encoder* encoder;
        const void* picture;
        std::ptrdiff_t stride;
        std::size_t capacity;
        tarvic_status status;
    } encodes[] = {
        {nullptr, picture.data(), 12, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc.handle, nullptr, 12, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc.handle, picture.data(), 11, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc.handle, picture.data() + 24, -11, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc.handle, picture.data(), PTRDIFF_MAX, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc.handle, picture.data(), 12, coded.size() - 1, TARVIC_SMALL_BUFFER},
        {enc.handle, picture.data(), 12, coded.size(), TARVIC_OK},
    };
    for (const auto& e : encodes) {
        EXPECT_EQ(tarvic_encode(e.encoder, e.picture, e.stride, coded.data(), e.capacity, &size), e.status);
    }
    EXPECT_EQ(tarvic_encode(enc.handle, picture.data(), 12, nullptr, coded.size(), &size), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_encode(enc.handle, picture.data(), 12, coded.data(), coded.size(), nullptr), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(nullptr, coded.data(), size, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec.handle, nullptr, 3, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec.handle, coded.data(), size, nullptr, 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec.handle, coded.data(), size, picture.data(), 10), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode_over(dec.handle, coded.data(), size, picture.data(), 10), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode_over(dec.handle, nullptr, 3, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    tarvic_encoder_destroy(nullptr);
    tarvic_decoder_destroy(nullptr);

    // Planes: 4 x 3 in 4:2:2, the chroma planes 2 samples a row; calls for
    // packed pictures refused.
    Encoder planar;
    Decoder planar_decoder;
    ASSERT_EQ(tarvic_encoder_create_layout(4, 3, TARVIC_YUV422P8, 0, &planar.handle), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create_layout(4, 3, TARVIC_YUV422P8, &planar_decoder.handle), TARVIC_OK);
    const void* planes[3] = {picture.data(), picture.data() + 12, picture.data() + 18};
    void* const out[3] = {picture.data(), picture.data() + 12, picture.data() + 18};
    const std::ptrdiff_t strides[3] = {4, 2, 2};
    const std::ptrdiff_t short_chroma[3] = {4, 1, 2};
    const void* missing[3] = {picture.data(), nullptr, picture.data()};
    Bytes planar_coded(tarvic_layout_bound(4, 3, TARVIC_YUV422P8));
    const std::size_t capacity = planar_coded.size();
    EXPECT_EQ(tarvic_encode_planes(planar.handle, planes, short_chroma, planar_coded.data(), capacity, &size),
              TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_encode_planes(planar.handle, missing, strides, planar_coded.data(), capacity, &size),
              TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_encode_planes(planar.handle, planes, strides, planar_coded.data(), capacity - 1, &size),
              TARVIC_SMALL_BUFFER);
    EXPECT_EQ(tarvic_encode(planar.handle, picture.data(), 12, planar_coded.data(), capacity, &size),
              TARVIC_BAD_ARGUMENT);
    ASSERT_EQ(tarvic_encode_planes(planar.handle, planes, strides, planar_coded.data(), capacity, &size), TARVIC_OK);
    EXPECT_EQ(tarvic_decode_planes(planar_decoder.handle, planar_coded.data(), size, out, short_chroma),
              TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(planar_decoder.handle, planar_coded.data(), size, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode_over(planar_decoder.handle, planar_coded.data(), size, picture.data(), 12),
              TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode_planes(planar_decoder.handle, planar_coded.data(), size, out, strides), TARVIC_OK);
    EXPECT_STREQ(tarvic_status_text(TARVIC_SMALL_BUFFER), "the output buffer is smaller than a coded frame can be");
    EXPECT_STREQ(tarvic_version(), REELPACK_VERSION);
}

// A first picture of grey 128 is coded, not left to a null frame: a
// decoder starts from black.
TEST(Tarvic, AFirstGreyPictureIsCodedWithNullFramesOn)
{
    Encoder encoder;
    Decoder decoder;
    ASSERT_EQ(tarvic_encoder_create(8, 4, 24, TARVIC_NULL_FRAMES, &encoder.handle), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create(8, 4, 24, &decoder.handle), TARVIC_OK);
    const Bytes grey(8 * 4 * 3, 128);
    Bytes coded(tarvic_bound(8, 4, 24));
    Bytes back(grey.size());
    std::size_t size = 0;
    ASSERT_EQ(tarvic_encode(encoder.handle, grey.data(), 24, coded.data(), coded.size(), &size), TARVIC_OK);
    EXPECT_NE(size, 0u);
    ASSERT_EQ(tarvic_decode(decoder.handle, coded.data(), size, back.data(), 24), TARVIC_OK);
    EXPECT_EQ(back, grey);
}

}  // namespace
