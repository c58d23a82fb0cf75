// Both modes end to end: reelunpack gives back byte for byte the file that
// `reelpack -u` writes, and its pixels; damaged files decode as far as they
// can; the movie's frames are read in place or completed, and read again
// when the movie is cut short under the mapping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "driver/frames.h"
#include "driver/pixels.h"
#include "entropy/byte_order.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

// Noise, smooth, one-colour and repeated frames: every frame type.
test::MovieParams mixed_movie(int width, int height, int frames, const std::string& format)
{
    test::MovieParams p = test::pattern_movie(width, height, frames, format);
    for (int i = 1; i < frames; i += 2) {
        for (std::size_t k = 0; k < p.frames[i].size(); ++k) {
            p.frames[i][k] = static_cast<unsigned char>(k / 3 % width + i);
        }
    }
    if (frames > 4) {
        p.frames[2] = Bytes(p.frames[2].size(), 9);
        p.frames[3] = p.frames[1];
        for (std::size_t k = 0; k < p.frames[4].size(); ++k) {
            p.frames[4][k] = static_cast<unsigned char>(k % 3 + 1);
        }
    }
    return p;
}

struct Pair {
    std::string coded, plain;
};

// Both modes' files of the movie with `cut` bytes cut off its end.
Pair make_pair(const std::string& name, const test::MovieParams& p, std::size_t cut = 0)
{
    const std::string movie = test::temp_path(name + ".mov");
    Bytes bytes = test::make_movie(p);
    bytes.resize(bytes.size() - cut);
    test::write_file(movie, bytes);
    const int status = cut == 0 ? 0 : 1;
    Pair pair{test::temp_path(name + ".avi"), test::temp_path(name + "-u.avi")};
    EXPECT_EQ(test::reelpack(movie + " " + pair.coded).status, status);
    EXPECT_EQ(test::reelpack("-u " + movie + " " + pair.plain).status, status);
    return pair;
}

AviLayout layout_of(const Bytes& file)
{
    AviLayout layout;
    EXPECT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    return layout;
}

Bytes frame_of(const Bytes& file, const AviLayout& l, std::size_t i)
{
    return Bytes(file.begin() + static_cast<long>(l.frames[i].offset),
                 file.begin() + static_cast<long>(l.frames[i].offset + l.frames[i].size));
}

TEST(Unpack, GivesBackTheUncompressedFileAndItsPixels)
{
    const struct {
        int width, height, frames;
        const char* format;
        std::size_t cut;  // bytes cut off the movie's end: frames larger than the pieces -u writes
    } movies[] = {{17, 9, 5, "raw ", 0},    {1, 1, 5, "raw ", 0},       {40, 30, 6, "WRLE", 0},
                  {2, 3, 5, "WRLE", 0},     {640, 400, 3, "raw ", 5000}, {640, 400, 3, "WRLE", 5000}};
    for (const auto& m : movies) {
        const std::string name = "rt-" + std::to_string(m.width) + std::string(m.format).substr(0, 3);
        SCOPED_TRACE(name);
        test::MovieParams p = mixed_movie(m.width, m.height, m.frames, m.format);
        const Pair pair = make_pair(name, p, m.cut);
        const Bytes plain = test::read_file(pair.plain);
        const std::string out = test::temp_path(name + "-back.avi");
        const auto r = test::reelunpack(pair.coded + " " + out);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(test::read_file(out) == plain);
        EXPECT_EQ(test::reelunpack(pair.plain + " " + out).status, 0);  // passed through
        EXPECT_TRUE(test::read_file(out) == plain);
        // Raw frames of both files: the movie's, top down, blue first, its
        // missing bytes black. "raw " rows are stored top down in red, green,
        // blue order, the others bottom up in blue, green, red order.
        std::fill(p.frames.back().end() - static_cast<long>(m.cut), p.frames.back().end(), 0);
        const bool raw = p.format == "raw ";
        const std::size_t row = std::size_t(m.width) * 3;
        std::string expected;
        for (const Bytes& f : p.frames) {
            for (int y = 0; y < m.height; ++y) {
                const unsigned char* from = f.data() + std::size_t(raw ? y : m.height - 1 - y) * row;
                for (std::size_t x = 0; x < row; x += 3) {
                    expected += {char(from[x + (raw ? 2 : 0)]), char(from[x + 1]), char(from[x + (raw ? 0 : 2)])};
                }
            }
        }
        for (const std::string& file : {pair.coded, pair.plain}) {
            EXPECT_TRUE(test::reelunpack(file + " - 2>/dev/null").out == expected) << file;
        }
    }
}

TEST(Unpack, CommandLines)
{
    const Pair pair = make_pair("cli", test::pattern_movie(4, 4, 2));
    const std::string empty = test::temp_path("empty.avi");
    test::write_file(empty, {});
    const std::string info = "width: 4\nheight: 4\nframe rate: 600/24 (25.000 frames per second)\nframes: 2\n"
                             "codec: Tarvic (TRVC)\nffmpeg input options: -f rawvideo -pix_fmt bgr24 -video_size 4x4 "
                             "-framerate 600/24 -i -\n";
    const struct {
        std::string args;
        int status;
        std::string says;  // part of what it says
    } cases[] = {
        {"--help", 0, "Usage: reelunpack"},
        {"--version", 0, "reelunpack "},
        {"", 2, "Usage"},
        {"--bogus a b", 2, "Usage"},
        {"a b c", 2, "Usage"},
        {"--info " + pair.coded, 0, info},
        {pair.coded + " " + pair.coded, 1, "must differ from the input"},
        {test::temp_path("missing.avi") + " x.avi", 1, "reelunpack: "},
        {test::temp_dir() + " x.avi", 1, "reelunpack: "},
        {empty + " " + test::temp_path("empty-out.avi"), 1, "not an AVI file"},
        {pair.coded + " /dev/full", 1, "unable to write /dev/full"},
        {pair.coded + " - >/dev/full", 1, ""},
    };
    for (const auto& c : cases) {
        const auto r = test::reelunpack(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    EXPECT_FALSE(test::file_exists(test::temp_path("empty-out.avi")));
    if (test::have_program("script")) {  // pixels are never written to a terminal
        const auto tty = test::run("script -qec " + test::quoted(test::reelunpack_bin() + " " + pair.coded + " -") +
                                   " /dev/null");
        EXPECT_EQ(tty.status, 1);
        EXPECT_NE(tty.out.find("refusing to write pixels"), std::string::npos) << tty.out;
    }
}

TEST(Unpack, DamagedFilesDecodeAsFarAsTheyCan)
{
    const Pair pair = make_pair("hostile", mixed_movie(16, 12, 6, "raw "));
    const Bytes good = test::read_file(pair.coded);
    const AviLayout layout = layout_of(good);
    ASSERT_EQ(layout.frames.size(), 6u);
    const std::size_t f1 = layout.frames[1].offset;  // a type 4 frame
    const std::size_t idx1 = 0x2008 + get_le32(good.data() + 0x2004);
    const Bytes plain = test::read_file(pair.plain);
    const AviLayout plain_layout = layout_of(plain);
    const struct {
        const char* name;
        int status;
        const char* message;  // part of what reelunpack says
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"truncated", 1, "is damaged", [&](Bytes& b) { b.resize(layout.frames[4].offset + 3); }},
        {"riff-size", 1, "is damaged", [&](Bytes& b) { put_le32(b.data() + 4, 0x7FFFFFF0u); }},
        {"index-outside-movi", 0, "", [&](Bytes& b) { put_le32(b.data() + idx1 + 8 + 16 * 2 + 8, 0x40000000u); }},
        {"no-index", 0, "", [&](Bytes& b) { std::copy_n("JUNK", 4, b.begin() + static_cast<long>(idx1)); }},
        {"offsets", 1, "frame 1 is damaged",
         [&](Bytes& b) { put_le32(b.data() + f1 + 1, get_le32(b.data() + f1 + 5) + 1); }},
        {"endless-table", 1, "frame 1 is damaged",
         [&](Bytes& b) { std::fill(b.begin() + static_cast<long>(f1 + 10), b.begin() + static_cast<long>(f1 + get_le32(b.data() + f1 + 1)), 0); }},
        {"level-7", 1, "frame 1 is damaged", [&](Bytes& b) { b[f1 + 9] = 7; }},
        {"one-byte-frame", 1, "frame 1 is damaged",
         [&](Bytes& b) {
             put_le32(b.data() + f1 - 4, 1);
             put_le32(b.data() + idx1 + 8 + 16 + 12, 4);
         }},
    };
    for (const auto& c : cases) {
        Bytes b = good;
        c.damage(b);
        const std::string path = test::temp_path(std::string("hostile-") + c.name + ".avi");
        test::write_file(path, b);
        const auto r = test::reelunpack(path + " " + path + ".out.avi");
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.name << ": " << r.out;
        const Bytes back = test::read_file(path + ".out.avi");
        const AviLayout back_layout = layout_of(back);
        ASSERT_GE(back_layout.frames.size(), 4u) << c.name;
        // Frame 0 always decodes; a damaged frame 1 repeats it.
        const bool frame1_damaged = std::string(c.message).find("frame 1") != std::string::npos;
        EXPECT_EQ(frame_of(back, back_layout, 0), frame_of(plain, plain_layout, 0)) << c.name;
        EXPECT_EQ(frame_of(back, back_layout, 1), frame_of(plain, plain_layout, frame1_damaged ? 0 : 1)) << c.name;
        EXPECT_EQ(frame_of(back, back_layout, 3), frame_of(plain, plain_layout, 3)) << c.name;
    }
}

TEST(MovieFrames, WholeFramesInPlaceOthersReadAndCompleted)
{
    const std::string path = test::temp_path("frames.bin");
    Bytes movie(10000);
    for (std::size_t i = 0; i < movie.size(); ++i) {
        movie[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    test::write_file(path, movie);
    Bytes buffer(3000, 0xEE);
    MovieFrames frames;
    ASSERT_TRUE(frames.open(path.c_str(), 3000, buffer.data()));
    Bytes seen;
    auto copy = [&](const unsigned char* pixels) { seen.assign(pixels, pixels + 3000); };
    EXPECT_TRUE(frames.use_frame(5000, buffer.data(), copy));
    EXPECT_EQ(seen, Bytes(movie.begin() + 5000, movie.begin() + 8000));
    EXPECT_NE(frames.mapped(5000), nullptr);
    // The end of the frame lies past the movie's: the rest is zero.
    EXPECT_FALSE(frames.use_frame(8000, buffer.data(), copy));
    Bytes expected(movie.begin() + 8000, movie.end());
    expected.resize(3000, 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(frames.mapped(8000), nullptr);
    EXPECT_FALSE(frames.use_frame(20000, buffer.data(), copy));
    EXPECT_EQ(seen, Bytes(3000, 0));
    // Giving back the pages of frames the mapping does not hold whole
    // touches nothing beyond it; those of a whole frame go up to its end.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    frames.release(0);
    EXPECT_EQ(frames.released, 3000 / page * page);
    frames.release(8000);
    frames.release(0xFFFFFF00u);
    EXPECT_EQ(frames.released, 3000 / page * page);
    frames.release(5000);
    EXPECT_EQ(frames.released, 8000 / page * page);

    // Rows converted a piece at a time, the movie cut short in the middle.
    const int width = 4096;
    const int height = 4;
    Bytes rows(3 * width);
    test::write_file(path, Bytes(std::size_t(3) * width * height * 2, 5));
    MovieFrames again;
    ASSERT_TRUE(again.open(path.c_str(), std::size_t(3) * width * height, buffer.data()));
    const unsigned char* pixels = again.mapped(0);
    ASSERT_NE(pixels, nullptr);
    EXPECT_TRUE(again.guarded([&] { raw_to_BGR_rows(pixels, rows.data(), width, height, 0, 1); }));
    ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    EXPECT_FALSE(again.guarded([&] { raw_to_BGR_rows(pixels, rows.data(), width, height, 3, 1); }));
    std::remove(path.c_str());
}

}  // namespace
