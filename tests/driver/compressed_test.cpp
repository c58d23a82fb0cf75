// End-to-end runs of the compressed mode: every frame that reelpack writes
// decodes to exactly the frame that `reelpack -u` writes for the same movie.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/decoder.h"
#include "driver/pixels.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;
using test::MovieParams;

struct Converted {
    AviLayout layout;
    Bytes file;
};

Converted convert(const std::string& options, const std::string& movie, const std::string& out, int status = 0)
{
    const auto r = test::reelpack(options + movie + " " + out);
    EXPECT_EQ(r.status, status) << r.out;
    Converted c;
    c.file = test::read_file(out);
    EXPECT_EQ(read_avi_layout(c.file.data(), c.file.size(), c.layout), AviReadResult::ok);
    return c;
}

Bytes frame_bytes(const Converted& c, std::size_t i)
{
    const AviFrameRef& f = c.layout.frames[i];
    return Bytes(c.file.begin() + static_cast<std::ptrdiff_t>(f.offset),
                 c.file.begin() + static_cast<std::ptrdiff_t>(f.offset + f.size));
}

// Kinds of picture content, in the movie's storage order.
Bytes content(const std::string& kind, int width, int height, int index)
{
    Bytes frame(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t state = 0x9E3779B9u * static_cast<std::uint32_t>(index + 1);
    auto noise = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &frame[(static_cast<std::size_t>(y) * width + x) * 3];
            if (kind == "noise") {
                p[0] = static_cast<unsigned char>(noise());
                p[1] = static_cast<unsigned char>(noise());
                p[2] = static_cast<unsigned char>(noise());
            } else if (kind == "gradient") {
                p[0] = static_cast<unsigned char>(x * 255 / std::max(1, width - 1));
                p[1] = static_cast<unsigned char>(y * 255 / std::max(1, height - 1));
                p[2] = static_cast<unsigned char>((x + y + index * 3) & 0xFF);
            } else if (kind == "photo") {
                const double v = 128 + 60 * std::sin(x * 0.07 + index) * std::cos(y * 0.05);
                p[0] = static_cast<unsigned char>(v + (noise() & 7));
                p[1] = static_cast<unsigned char>(v * 0.8 + (noise() & 3));
                p[2] = static_cast<unsigned char>(255 - v + (noise() & 15));
            } else if (kind == "solid") {
                p[0] = 0x10;
                p[1] = 0x20;
                p[2] = 0x30;
            } else if (kind == "grey") {
                p[0] = p[1] = p[2] = static_cast<unsigned char>(index * 40);
            } else {  // mixed: a solid half, a noisy quarter, a gradient quarter
                const bool top = y < height / 2;
                p[0] = top ? 200 : static_cast<unsigned char>(x < width / 2 ? noise() : x * 3);
                p[1] = top ? 100 : static_cast<unsigned char>(x < width / 2 ? noise() : y * 5);
                p[2] = top ? 50 : static_cast<unsigned char>(x < width / 2 ? noise() : 0);
            }
        }
    }
    return frame;
}

MovieParams movie_of(const std::string& kind, int width, int height, int frames, const std::string& format)
{
    MovieParams p;
    p.width = width;
    p.height = height;
    p.format = format;
    for (int i = 0; i < frames; ++i) {
        p.frames.push_back(content(kind, width, height, i));
    }
    return p;
}

struct Kind {
    const char* name;
    int width;
    int height;
};

TEST(Compressed, EveryFrameDecodesToTheUncompressedFrame)
{
    const Kind kinds[] = {{"noise", 64, 48},   {"gradient", 80, 60}, {"photo", 96, 64}, {"solid", 32, 16},
                          {"grey", 40, 30},    {"mixed", 50, 40},    {"noise", 1, 1},   {"gradient", 3, 5},
                          {"photo", 7, 1},     {"noise", 1, 9},      {"mixed", 2, 3},   {"solid", 2, 2}};
    for (const Kind& k : kinds) {
        for (const std::string format : {"raw ", "WRLE"}) {
            const std::string label = std::string(k.name) + "-" + std::to_string(k.width) + "x" +
                                      std::to_string(k.height) + "-" + format.substr(0, 3);
            const MovieParams p = movie_of(k.name, k.width, k.height, 4, format);
            const std::string movie = test::temp_path(label + ".mov");
            test::write_file(movie, test::make_movie(p));
            const Converted plain = convert("-u ", movie, test::temp_path(label + "-u.avi"));
            const Converted coded = convert("", movie, test::temp_path(label + ".avi"));
            ASSERT_EQ(coded.layout.frames.size(), 4u) << label;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(coded.layout.compression), 4), "TRVC");

            TarvicDecoder decoder;
            ASSERT_EQ(decoder.DecompressBegin(k.width, k.height, 24), Status::ok);
            Bytes picture(static_cast<std::size_t>(k.width) * k.height * 3, 0);
            for (std::size_t i = 0; i < 4; ++i) {
                const Bytes frame = frame_bytes(coded, i);
                EXPECT_EQ(coded.layout.frames[i].flags, 0x10u);
                ASSERT_EQ(decoder.Decompress(frame.data(), frame.size(), picture.data()), Status::ok) << label << " " << i;
                EXPECT_EQ(picture, frame_bytes(plain, i)) << label << " frame " << i;
                if (std::string(k.name) == "solid" && k.width * k.height >= 8) {
                    // One colour: its three bytes in the AVI's B, G, R order.
                    const Bytes solid = format == "raw " ? Bytes{6, 0x30, 0x20, 0x10} : Bytes{6, 0x10, 0x20, 0x30};
                    EXPECT_EQ(frame, solid) << label;
                } else if (std::string(k.name) == "solid") {
                    EXPECT_EQ(frame[0], 4) << label;  // too small for the one-colour test
                }
            }
        }
    }
}

TEST(Compressed, MoviesCutShortGiveTheSameFramesInBothModes)
{
    // Frames larger than the pieces the uncompressed mode writes in, the
    // last cut off part of the way: both modes report the incomplete frame,
    // write its missing bytes as black, and agree on every pixel.
    const int width = 640;
    const int height = 400;
    for (const std::string format : {"raw ", "WRLE"}) {
        MovieParams p = movie_of("photo", width, height, 3, format);
        Bytes bytes = test::make_movie(p);
        const std::size_t kept = p.frames[2].size() - 5000;
        bytes.resize(bytes.size() - 5000);
        const std::string label = "cut-" + format.substr(0, 3);
        const std::string movie = test::temp_path(label + ".mov");
        test::write_file(movie, bytes);
        const Converted plain = convert("-u ", movie, test::temp_path(label + "-u.avi"), 1);
        const Converted coded = convert("", movie, test::temp_path(label + ".avi"), 1);
        ASSERT_EQ(plain.layout.frames.size(), 3u) << label;
        ASSERT_EQ(coded.layout.frames.size(), 3u) << label;

        Bytes partial(p.frames[2].begin(), p.frames[2].begin() + static_cast<std::ptrdiff_t>(kept));
        partial.resize(p.frames[2].size(), 0);
        std::vector<Bytes> expected = {p.frames[0], p.frames[1], partial};
        TarvicDecoder decoder;
        ASSERT_EQ(decoder.DecompressBegin(width, height, 24), Status::ok);
        Bytes picture(partial.size(), 0xEE);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            Bytes frame = expected[i];
            if (format == "raw ") {
                raw_to_BGR(expected[i].data(), frame.data(), width, height);
            }
            EXPECT_EQ(frame_bytes(plain, i), frame) << label << " frame " << i;
            const Bytes coded_frame = frame_bytes(coded, i);
            ASSERT_EQ(decoder.Decompress(coded_frame.data(), coded_frame.size(), picture.data()), Status::ok);
            EXPECT_EQ(picture, frame) << label << " frame " << i;
        }
    }
}

TEST(Compressed, RawAndWrleMoviesOfTheSamePixelsGiveIdenticalFiles)
{
    MovieParams wrle = movie_of("photo", 33, 17, 5, "WRLE");
    MovieParams raw = wrle;
    raw.format = "raw ";
    for (std::size_t i = 0; i < raw.frames.size(); ++i) {
        // The same picture stored top row first, R, G, B.
        Bytes& f = raw.frames[i];
        const Bytes& w = wrle.frames[i];
        const std::size_t row = 33 * 3;
        for (int y = 0; y < 17; ++y) {
            for (std::size_t k = 0; k < row; k += 3) {
                const std::size_t from = row * (16 - y) + k;
                f[row * y + k] = w[from + 2];
                f[row * y + k + 1] = w[from + 1];
                f[row * y + k + 2] = w[from];
            }
        }
    }
    const std::string raw_movie = test::temp_path("same-raw.mov");
    const std::string wrle_movie = test::temp_path("same-wrle.mov");
    test::write_file(raw_movie, test::make_movie(raw));
    test::write_file(wrle_movie, test::make_movie(wrle));
    const Converted a = convert("", raw_movie, test::temp_path("same.avi"));
    const Converted b = convert("", wrle_movie, test::temp_path("same.avi"));
    EXPECT_EQ(a.file, b.file);
    const Converted ua = convert("-u ", raw_movie, test::temp_path("same-u.avi"));
    const Converted ub = convert("-u ", wrle_movie, test::temp_path("same-u.avi"));
    EXPECT_EQ(ua.file, ub.file);
}

TEST(Compressed, SolidFramesAreTwoOrFourBytes)
{
    const MovieParams p = movie_of("grey", 16, 8, 3, "WRLE");
    const std::string movie = test::temp_path("greys.mov");
    test::write_file(movie, test::make_movie(p));
    const Converted c = convert("", movie, test::temp_path("greys.avi"));
    ASSERT_EQ(c.layout.frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(frame_bytes(c, i), (Bytes{5, static_cast<unsigned char>(i * 40)}));
        EXPECT_EQ(c.layout.frames[i].flags, 0x10u);
    }
}

}  // namespace
