// What the frame layer's tests share: a codec instance that codes a
// picture of packed pixels or of planes, and the pictures they code.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"

namespace codec_test {

using Bytes = std::vector<unsigned char>;

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
inline Bytes picture(const std::string& kind, int w, int h, int bytes_per_pixel, unsigned seed)
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

// A picture's planes one after another, each a picture of one byte a pixel;
// of wider samples, each sample the top `bits` of two such bytes.
inline Bytes planes_picture(const std::string& kind, PlaneLayout layout, int w, int h, unsigned seed, int bits = 8)
{
    const PlaneShape shape = plane_shape(layout, w, h, bits);
    Bytes b;
    for (int p = 0; p < shape.count; ++p) {
        Bytes plane = picture(kind, shape.width[p], h, bits > 8 ? 2 : 1, seed + unsigned(p));
        for (std::size_t i = 0; bits > 8 && i < plane.size(); i += 2) {
            const std::uint16_t v = static_cast<std::uint16_t>((plane[i] << 8 | plane[i + 1]) >> (16 - bits));
            std::memcpy(&plane[i], &v, 2);
        }
        b.insert(b.end(), plane.begin(), plane.end());
    }
    return b;
}

// Samples of 9 to 16 bits as a picture holds them: words in the host's order.
inline Bytes words(const std::vector<std::uint16_t>& samples)
{
    Bytes b(2 * samples.size());
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

inline Bytes solid(std::size_t pixels, const Bytes& pixel)
{
    Bytes b;
    for (std::size_t p = 0; p < pixels; ++p) {
        b.insert(b.end(), pixel.begin(), pixel.end());
    }
    return b;
}

}  // namespace codec_test
