#include "codec/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codec/decoder.h"
#include "entropy/cpu.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

struct Coder {
    CodecInst codec;
    Bytes out;
    ICCOMPRESS block{};

    Coder(int width, int height, int bits = 24)
    {
        EXPECT_EQ(codec.CompressBegin(width, height, bits), Status::ok);
        out.assign(tarvic_frame_bound(width, height, bits), 0xAA);
    }
    Bytes code(const Bytes& frame, std::uint32_t size_on_entry = 12345)
    {
        block.dwFlags = 0xDEAD;
        block.dwSize = size_on_entry;
        block.lpInput = frame.data();
        block.lpOutput = out.data();
        EXPECT_EQ(codec.CompressContinue(&block, 0), 0);
        return Bytes(out.begin(), out.begin() + block.dwSize);
    }
};

Bytes noise(std::size_t bytes, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(bytes);
    for (auto& v : b) {
        v = static_cast<unsigned char>(random());
    }
    return b;
}

Bytes solid(std::size_t pixels, Bytes pixel)
{
    Bytes b;
    for (std::size_t p = 0; p < pixels; ++p) {
        b.insert(b.end(), pixel.begin(), pixel.end());
    }
    return b;
}

TEST(CodecLayout, OneColourFrames)
{
    Coder c(8, 4);
    EXPECT_EQ(c.code(Bytes(96, 0)), (Bytes{5, 0}));
    EXPECT_EQ(c.block.dwFlags, 0x10u);
    EXPECT_EQ(c.code(solid(32, {0x10, 0x20, 0x30})), (Bytes{6, 0x10, 0x20, 0x30}));
    EXPECT_EQ(c.block.dwFlags, 0x10u);

    // One colour but for the last pixel, or for the ninth: coded in full.
    Bytes last = solid(32, {1, 2, 3});
    last.back() = 9;
    EXPECT_EQ(c.code(last)[0], FRAME_RGB24);
    Bytes ninth = solid(32, {1, 2, 3});
    ninth[8 * 3] = 9;
    EXPECT_EQ(c.code(ninth)[0], FRAME_RGB24);

    // Fewer than eight pixels are never tested for one colour.
    Coder tiny(7, 1);
    EXPECT_EQ(tiny.code(Bytes(21, 0))[0], FRAME_RGB24);
}

TEST(CodecLayout, ThreeChannelFrame)
{
    Coder c(20, 10);
    const Bytes frame = noise(600, 1);
    const Bytes coded = c.code(frame);
    ASSERT_GT(coded.size(), 9u);
    EXPECT_EQ(coded[0], FRAME_RGB24);
    EXPECT_EQ(c.block.dwFlags, 0x10u);
    const std::uint32_t second = le32(coded, 1);
    const std::uint32_t third = le32(coded, 5);
    EXPECT_LT(9u, second);
    EXPECT_LT(second, third);
    EXPECT_LT(third, coded.size());
    // Each channel stream is what compaction makes of the channel's plane of
    // residuals: the frame's first channel starts at 9 with its level byte.
    EXPECT_LE(coded[9], 3);
    EXPECT_LE(coded[second], 3);
    EXPECT_LE(coded[third], 3);
    // The same frame codes the same way again; the size on entry changes
    // nothing.
    EXPECT_EQ(c.code(frame, 0), coded);
    EXPECT_EQ(c.code(frame, 0xFFFFFFFFu), coded);
}

TEST(CodecLayout, ChannelOffsetsAreLittleEndian)
{
    // A 20 x 20 noise frame: channel 1 is a stream of over 400 bytes.
    Coder c(20, 20);
    const Bytes coded = c.code(noise(1200, 2));
    const std::uint32_t second = le32(coded, 1);
    EXPECT_EQ(coded[1], second & 0xFF);
    EXPECT_EQ(coded[2], (second >> 8) & 0xFF);
    EXPECT_GT(second, 255u);
}

TEST(CodecLayout, NullFrames)
{
    Coder c(8, 8);
    c.codec.detect_null_frames = 1;
    // Against the all-128 start: a first frame of 128s is null.
    EXPECT_TRUE(c.code(Bytes(192, 128)).empty());
    EXPECT_EQ(c.block.dwFlags, 0u);
    const Bytes frame = noise(192, 3);
    EXPECT_EQ(c.code(frame)[0], FRAME_RGB24);
    EXPECT_TRUE(c.code(frame).empty());
    Bytes first = frame;
    first[0] ^= 1;
    EXPECT_FALSE(c.code(first).empty());
    Bytes last = first;
    last.back() ^= 1;
    EXPECT_FALSE(c.code(last).empty());
    // Off, the same frame is coded in full again, and not kept: turned on
    // again, it is compared only once it has been kept.
    c.codec.detect_null_frames = 0;
    EXPECT_FALSE(c.code(last).empty());
    c.codec.detect_null_frames = 1;
    EXPECT_FALSE(c.code(last).empty());
    EXPECT_TRUE(c.code(last).empty());
}

TEST(CodecLayout, AlphaFrames)
{
    Coder c(4, 4, 32);
    c.codec.keep_alpha = 1;
    EXPECT_EQ(c.code(solid(16, {1, 2, 3, 4})), (Bytes{9, 1, 2, 3, 4}));
    Bytes almost = solid(16, {1, 2, 3, 4});
    almost.back() = 0;
    const Bytes coded = c.code(almost);
    EXPECT_EQ(coded[0], FRAME_RGBA32);
    EXPECT_LT(13u, le32(coded, 1));
    EXPECT_LT(le32(coded, 1), le32(coded, 5));
    EXPECT_LT(le32(coded, 5), le32(coded, 9));
    EXPECT_LT(le32(coded, 9), coded.size());

    // reelpack stores 32-bit movies in these frames: their bytes are pinned
    // (length and FNV-1a hash).
    Bytes picture(64);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<unsigned char>((i * 37) ^ ((i >> 2) * 11));
    }
    const Bytes pinned = c.code(picture);
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char v : pinned) {
        hash = (hash ^ v) * 0x100000001b3u;
    }
    EXPECT_EQ(pinned.size(), 161u);
    EXPECT_EQ(hash, 0x1ccd7d5f4b5c77fdu);

    // Without alpha the fourth byte is dropped.
    Coder plain(4, 4, 32);
    Bytes a = noise(64, 5);
    Bytes b = a;
    for (std::size_t i = 3; i < b.size(); i += 4) {
        b[i] ^= 0x5A;
    }
    EXPECT_EQ(plain.code(a), plain.code(b));
}

TEST(CodecLayout, BeginRefusesSizesItCannotHold)
{
    CodecInst codec;
    EXPECT_EQ(codec.CompressBegin(0, 10, 24), Status::bad_size);
    EXPECT_EQ(codec.CompressBegin(10, -1, 24), Status::bad_size);
    EXPECT_EQ(codec.CompressBegin(10, 10, 16), Status::bad_size);
    EXPECT_EQ(codec.CompressBegin(65535, 65535, 24), Status::bad_size);
    EXPECT_EQ(codec.residual_buffer, nullptr);
    EXPECT_EQ(tarvic_frame_bound(65535, 65535, 24), 0u);
    // The bound: 9 bytes of head, three channel streams at their worst and
    // the writer's three bytes.
    EXPECT_EQ(tarvic_frame_bound(1, 1, 24), 9 + 3 * compact_bound(1) + 3);
    EXPECT_EQ(tarvic_frame_bound(2, 3, 32), 13 + 4 * compact_bound(6) + 3);
}

struct Picture {
    const char* name;
    int width;
    int height;
    Bytes pixels;
};

std::vector<Picture> pictures(int bytes_per_pixel)
{
    std::vector<Picture> list;
    std::mt19937 random(17);
    for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {7, 1}, {1, 7}, {2, 2}, {8, 1}, {13, 17}, {64, 48}}) {
        const std::size_t bytes = std::size_t(w) * h * bytes_per_pixel;
        list.push_back({"noise", w, h, noise(bytes, static_cast<unsigned>(w * 100 + h))});
        Bytes gradient(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            gradient[i] = static_cast<unsigned char>((i / bytes_per_pixel) % w * 3 + i % bytes_per_pixel * 40);
        }
        list.push_back({"gradient", w, h, gradient});
        Bytes photo(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            photo[i] = static_cast<unsigned char>(100 + 50 * std::sin(double(i) / 40) + random() % 4);
        }
        list.push_back({"photo", w, h, photo});
        list.push_back({"solid", w, h, Bytes(bytes, 77)});
        Bytes mixed = photo;
        std::fill(mixed.begin(), mixed.begin() + static_cast<long>(bytes / 2), 0);
        list.push_back({"mixed", w, h, mixed});
    }
    return list;
}

TEST(CodecRoundTrip, EveryPictureDecodesExactly)
{
    for (int bits : {24, 32}) {
        for (const Picture& p : pictures(bits / 8)) {
            Coder c(p.width, p.height, bits);
            c.codec.keep_alpha = bits == 32;
            TarvicDecoder decoder;
            ASSERT_EQ(decoder.DecompressBegin(p.width, p.height, bits), Status::ok);
            const Bytes coded = c.code(p.pixels);
            EXPECT_LE(coded.size() + 3, tarvic_frame_bound(p.width, p.height, bits));
            Bytes out(p.pixels.size(), 0xEE);
            ASSERT_EQ(decoder.Decompress(coded.data(), coded.size(), out.data()), Status::ok) << p.name;
            EXPECT_EQ(out, p.pixels) << p.name << " " << p.width << "x" << p.height << " " << bits;
            // A null frame leaves the picture as it is.
            ASSERT_EQ(decoder.Decompress(coded.data(), 0, out.data()), Status::ok);
            EXPECT_EQ(out, p.pixels);
        }
    }
}

TEST(CodecRoundTrip, MovieOrderCodesTheConvertedFrame)
{
    // A raw movie's frame (rows top down, red first) handed on as it is
    // codes to the bytes that its converted frame codes to, solid frames
    // included; decoding top down gives the rows back in movie order.
    for (int bits : {24}) {
        for (const Picture& p : pictures(bits / 8)) {
            Bytes movie(p.pixels.size());
            const std::size_t row = static_cast<std::size_t>(p.width) * 3;
            for (int y = 0; y < p.height; ++y) {
                for (std::size_t k = 0; k < row; k += 3) {
                    const unsigned char* from = &p.pixels[static_cast<std::size_t>(p.height - 1 - y) * row + k];
                    unsigned char* to = &movie[static_cast<std::size_t>(y) * row + k];
                    to[0] = from[2];
                    to[1] = from[1];
                    to[2] = from[0];
                }
            }
            Coder converted(p.width, p.height);
            Coder raw(p.width, p.height);
            raw.codec.input_order = PixelOrder::movie;
            const Bytes expected = converted.code(p.pixels);
            EXPECT_EQ(raw.code(movie), expected) << p.name << " " << p.width << "x" << p.height;
            Bytes red = solid(std::size_t(p.width) * p.height, {9, 8, 7});
            EXPECT_EQ(raw.code(red), converted.code(solid(std::size_t(p.width) * p.height, {7, 8, 9}))) << p.name;

            TarvicDecoder decoder;
            ASSERT_EQ(decoder.DecompressBegin(p.width, p.height, 24), Status::ok);
            decoder.top_down = true;
            Bytes out(p.pixels.size(), 0xEE);
            ASSERT_EQ(decoder.Decompress(expected.data(), expected.size(), out.data()), Status::ok);
            for (int y = 0; y < p.height; ++y) {
                const auto at = out.begin() + static_cast<long>(y * row);
                ASSERT_TRUE(std::equal(at, at + static_cast<long>(row),
                                       p.pixels.begin() + static_cast<long>((p.height - 1 - y) * row)))
                    << p.name << " row " << y;
            }
        }
    }
}

TEST(CodecRoundTrip, PlainCopiesCodeAndDecodeAsTheOthers)
{
    // The loops built again for newer processors must agree with their plain
    // copies, which other processors run: the same coded bytes in either
    // pixel order, and the same picture back either way up. Grey noise makes
    // one dense channel, which the range decoder takes by a path of its own.
    std::vector<Picture> list = pictures(3);
    Bytes grey(300 * 200 * 3);
    std::mt19937 random(5);
    for (std::size_t i = 0; i < grey.size(); i += 3) {
        grey[i] = grey[i + 1] = grey[i + 2] = static_cast<unsigned char>(random());
    }
    list.push_back({"grey noise", 300, 200, grey});
    list.push_back({"noise", 301, 77, noise(301 * 77 * 3, 3)});
    for (const Picture& p : list) {
        for (PixelOrder order : {PixelOrder::frame, PixelOrder::movie}) {
            Bytes coded[2];
            for (bool plain : {false, true}) {
                cpu_use_plain_copies(plain);
                Coder c(p.width, p.height);
                c.codec.input_order = order;
                coded[plain] = c.code(p.pixels);
                for (bool top_down : {false, true}) {
                    TarvicDecoder decoder;
                    ASSERT_EQ(decoder.DecompressBegin(p.width, p.height, 24), Status::ok);
                    decoder.top_down = top_down;
                    Bytes out(p.pixels.size(), 0xEE);
                    Bytes expected(p.pixels.size(), 0x11);
                    cpu_use_plain_copies(false);
                    ASSERT_EQ(decoder.Decompress(coded[0].data(), coded[0].size(), expected.data()), Status::ok);
                    cpu_use_plain_copies(plain);
                    ASSERT_EQ(decoder.Decompress(coded[0].data(), coded[0].size(), out.data()), Status::ok);
                    EXPECT_EQ(out, expected) << p.name << " " << p.width << "x" << p.height << " plain " << plain;
                }
            }
            cpu_use_plain_copies(false);
            EXPECT_EQ(coded[1], coded[0]) << p.name << " " << p.width << "x" << p.height;
        }
    }
}

TEST(CodecRoundTrip, NoiseStaysWithinTheBound)
{
    for (auto [w, h] : {std::pair{1, 1}, {1, 2}, {5, 5}, {300, 200}}) {
        Coder c(w, h);
        const Bytes coded = c.code(noise(std::size_t(w) * h * 3, 8));
        EXPECT_LE(coded.size() + 3, tarvic_frame_bound(w, h, 24));
        EXPECT_GT(coded.size(), std::size_t(w) * h * 3);  // noise does not compress
    }
}

TEST(HostileFrames, AreErrorsAndLeaveThePictureAlone)
{
    const int w = 16;
    const int h = 12;
    Coder c(w, h);
    Bytes frame(std::size_t(w) * h * 3);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<unsigned char>(i * i / 7);
    }
    const Bytes coded = c.code(frame);
    TarvicDecoder decoder;
    ASSERT_EQ(decoder.DecompressBegin(w, h, 24), Status::ok);
    const Bytes previous(frame.size(), 0x42);
    Bytes out = previous;

    // Every truncation.
    for (std::size_t cut = 1; cut + 2 < coded.size(); ++cut) {
        EXPECT_NE(decoder.Decompress(coded.data(), cut, out.data()), Status::ok) << cut;
        ASSERT_EQ(out, previous);
    }
    // Offsets out of order and out of the frame; a level byte of 7.
    auto with = [&](std::size_t at, std::uint32_t v) {
        Bytes b = coded;
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<unsigned char>(v >> (8 * i));
        }
        return b;
    };
    const std::uint32_t second = le32(coded, 1);
    const std::uint32_t third = le32(coded, 5);
    for (const Bytes& bad : {with(1, third + 1), with(5, second - 1), with(1, 0xFFFFFFF0u), with(5, 4), with(1, 3)}) {
        EXPECT_NE(decoder.Decompress(bad.data(), bad.size(), out.data()), Status::ok);
    }
    Bytes level = coded;
    level[9] = 7;
    EXPECT_EQ(decoder.Decompress(level.data(), level.size(), out.data()), Status::bad_level);
    EXPECT_EQ(out, previous);

    // Frames of one byte, unknown types, solid frames of the wrong length.
    for (unsigned type = 0; type < 256; ++type) {
        const Bytes one = {static_cast<unsigned char>(type)};
        EXPECT_NE(decoder.Decompress(one.data(), 1, out.data()), Status::ok) << type;
    }
    const Bytes grey3 = {5, 1, 2};
    EXPECT_NE(decoder.Decompress(grey3.data(), 3, out.data()), Status::ok);
    const Bytes alpha = {9, 1, 2, 3, 4};
    EXPECT_EQ(decoder.Decompress(alpha.data(), 5, out.data()), Status::bad_type);
    EXPECT_EQ(out, previous);

    // Random damage anywhere.
    std::mt19937 random(23);
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes damaged = coded;
        for (int k = 0; k < 1 + trial % 3; ++k) {
            damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
        }
        (void)decoder.Decompress(damaged.data(), damaged.size(), out.data());
    }
}

}  // namespace
