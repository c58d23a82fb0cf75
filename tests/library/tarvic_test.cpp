// The library's interface: calls it cannot carry out are refused by name.
// (Pictures in every row layout, and damaged frames, which leave the last
// good picture, are the frame layer's tests, through the library too.)
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tarvic.h"

namespace {

using Bytes = std::vector<unsigned char>;

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

    tarvic_encoder* enc = nullptr;
    tarvic_decoder* dec = nullptr;
    ASSERT_EQ(tarvic_encoder_create(4, 3, 24, 0, &enc), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create(4, 3, 24, &dec), TARVIC_OK);
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
        {enc, nullptr, 12, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc, picture.data(), 11, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc, picture.data() + 24, -11, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc, picture.data(), PTRDIFF_MAX, coded.size(), TARVIC_BAD_ARGUMENT},
        {enc, picture.data(), 12, coded.size() - 1, TARVIC_SMALL_BUFFER},
        {enc, picture.data(), 12, coded.size(), TARVIC_OK},
    };
    for (const auto& e : encodes) {
        EXPECT_EQ(tarvic_encode(e.encoder, e.picture, e.stride, coded.data(), e.capacity, &size), e.status);
    }
    EXPECT_EQ(tarvic_encode(enc, picture.data(), 12, nullptr, coded.size(), &size), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_encode(enc, picture.data(), 12, coded.data(), coded.size(), nullptr), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(nullptr, coded.data(), size, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec, nullptr, 3, picture.data(), 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec, coded.data(), size, nullptr, 12), TARVIC_BAD_ARGUMENT);
    EXPECT_EQ(tarvic_decode(dec, coded.data(), size, picture.data(), 10), TARVIC_BAD_ARGUMENT);
    tarvic_encoder_destroy(enc);
    tarvic_decoder_destroy(dec);
    tarvic_encoder_destroy(nullptr);
    tarvic_decoder_destroy(nullptr);
    EXPECT_STREQ(tarvic_status_text(TARVIC_SMALL_BUFFER), "the output buffer is smaller than a coded frame can be");
    EXPECT_STREQ(tarvic_version(), REELPACK_VERSION);
}

// A first picture of grey 128 is coded, not left to a null frame: a
// decoder starts from black.
TEST(Tarvic, AFirstGreyPictureIsCodedWithNullFramesOn)
{
    tarvic_encoder* encoder = nullptr;
    tarvic_decoder* decoder = nullptr;
    ASSERT_EQ(tarvic_encoder_create(8, 4, 24, TARVIC_NULL_FRAMES, &encoder), TARVIC_OK);
    ASSERT_EQ(tarvic_decoder_create(8, 4, 24, &decoder), TARVIC_OK);
    const Bytes grey(8 * 4 * 3, 128);
    Bytes coded(tarvic_bound(8, 4, 24));
    Bytes back(grey.size());
    std::size_t size = 0;
    ASSERT_EQ(tarvic_encode(encoder, grey.data(), 24, coded.data(), coded.size(), &size), TARVIC_OK);
    EXPECT_NE(size, 0u);
    ASSERT_EQ(tarvic_decode(decoder, coded.data(), size, back.data(), 24), TARVIC_OK);
    EXPECT_EQ(back, grey);
    tarvic_encoder_destroy(encoder);
    tarvic_decoder_destroy(decoder);
}

}  // namespace
