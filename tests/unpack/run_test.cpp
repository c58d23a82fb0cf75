// reelunpack's command lines, and damaged files decoded as far as they can
// be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "support/avi_check.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

struct Pair {
    std::string coded, plain;
};

// Both modes' files of the movie.
Pair make_pair(const std::string& name, const test::MovieParams& p)
{
    const std::string movie = test::temp_path(name + ".mov");
    test::write_file(movie, test::make_movie(p));
    Pair pair{test::temp_path(name + ".avi"), test::temp_path(name + "-u.avi")};
    EXPECT_EQ(test::reelpack(movie + " " + pair.coded).status, 0);
    EXPECT_EQ(test::reelpack("-u " + movie + " " + pair.plain).status, 0);
    return pair;
}

// A "2vuy" movie of even width: two bytes a pixel, random samples.
test::MovieParams ycbcr_movie(int width, int height, int frames)
{
    test::MovieParams p = test::pattern_movie(width, height, frames, "2vuy");
    p.sample_size = std::uint32_t(width * height * 2);
    for (Bytes& frame : p.frames) {
        frame.resize(p.sample_size);
    }
    return p;
}

TEST(Unpack, CommandLines)
{
    const Pair pair = make_pair("cli", test::pattern_movie(4, 4, 2));
    const std::string empty = test::temp_path("empty.avi");
    test::write_file(empty, {});
    // For --avi: 24 bits with sound, and 32 bits.
    test::MovieParams sounding = test::pattern_movie(4, 4, 3);
    sounding.sound_chunk = test::pattern_frame(20, 20, 9);
    sounding.sound_chunks = 3;
    test::MovieParams alpha = test::pattern_movie(4, 4, 2);
    alpha.height = 3;
    alpha.depth = 32;
    alpha.sample_size = 48;
    const Pair sound = make_pair("cli-sound", sounding), wide = make_pair("cli-alpha", alpha);
    const std::string named = test::temp_path("cli-alpha-named.avi");
    // A stream of planes, and its record made one that is not known: a
    // layout, bits, a form that does not go with the movie's packing.
    const Pair planes = make_pair("cli-2vuy", ycbcr_movie(4, 4, 2));
    std::vector<std::string> records;
    for (auto [at, bytes] : {std::pair{0xE0, "\x09"}, {0xE1, "\x0a"}, {0xD8, "v308"}, {0xDC, "abcd"}}) {
        Bytes file = test::read_file(planes.coded);
        std::copy_n(bytes, std::strlen(bytes), file.begin() + at);
        records.push_back(test::temp_path("cli-record-" + std::to_string(records.size()) + ".avi"));
        test::write_file(records.back(), file);
    }
    const std::string refused = "record of its Tarvic stream of planes";
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
        {"--avi " + sound.coded + " - | cmp - " + sound.plain, 0, ""},
        {"--avi " + wide.coded + " - | cmp - " + wide.plain, 0, ""},
        {"--avi " + wide.coded + " " + named + " && cmp " + named + " " + wide.plain, 0, ""},
        {"--avi --info " + pair.coded, 2, "Usage"},
        {"--avi " + sound.coded + " - >/dev/full", 1, ""},
        {"--info " + planes.coded, 0, "codec: Tarvic (TRVC), Y'CbCr 4:2:2 planes of \"2vuy\"\nffmpeg input options: "
                                      "-f rawvideo -pix_fmt uyvy422 -video_size 4x4"},
        {"--avi " + planes.coded + " - | cmp - " + planes.plain, 0, ""},
        {records[0] + " x.avi", 1, "(form \"UYVY\", data format \"2vuy\", layout 9, 8 bits a sample, 16 bits a pixel) "
                                   "is not one reelunpack knows"},
        {"--info " + records[1], 1, refused},
        {records[2] + " -", 1, refused},
        {records[3] + " x.avi", 1, "data format \"abcd\""},
    };
    for (const auto& c : cases) {
        const auto r = test::reelunpack(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    EXPECT_FALSE(test::file_exists(test::temp_path("empty-out.avi")));
    for (const std::string avi : {"", "--avi "}) {  // pixels are never written to a terminal
        if (test::have_program("script")) {
            const auto tty = test::run("script -qec " + test::quoted(test::reelunpack_bin() + " " + avi + pair.coded +
                                                                     " -") + " /dev/null");
            EXPECT_EQ(tty.status, 1);
            EXPECT_NE(tty.out.find(avi.empty() ? "refusing to write pixels" : "refusing to write an AVI file"),
                      std::string::npos) << tty.out;
        }
    }
}

TEST(Unpack, DamagedFilesDecodeAsFarAsTheyCan)
{
    const Pair pair = make_pair("hostile", test::pattern_movie(16, 12, 6));
    const Bytes good = test::read_file(pair.coded);
    const AviLayout layout = test::layout_of(good);
    ASSERT_EQ(layout.frames.size(), 6u);
    const std::size_t f1 = layout.frames[1].offset;
    const std::size_t idx1 = 0x2008 + get_le32(good.data() + 0x2004);
    const std::vector<Bytes> plain_rgb = test::frames_of(test::read_file(pair.plain));
    // Frames of planes: type, planes, bits, the offsets of channels 2 and 3.
    const Pair ycbcr = make_pair("hostile-planes", ycbcr_movie(16, 12, 6));
    const Bytes good_planes = test::read_file(ycbcr.coded);
    const std::size_t p1 = test::layout_of(good_planes).frames[1].offset;
    const struct {
        const char* name;
        int status;
        const char* message;  // part of what reelunpack says
        std::function<void(Bytes&)> damage;
        bool planes = false;
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
        {"plane-offset", 1, "frame 1 is damaged", [&](Bytes& b) { put_le32(b.data() + p1 + 3, 0x7FFFFFF0u); }, true},
        {"plane-count", 1, "frame 1 is damaged", [&](Bytes& b) { b[p1 + 1] = 4; }, true},
    };
    const std::vector<Bytes> plain_planes = test::frames_of(test::read_file(ycbcr.plain));
    for (const auto& c : cases) {
        Bytes b = c.planes ? good_planes : good;
        const std::vector<Bytes>& plain = c.planes ? plain_planes : plain_rgb;
        c.damage(b);
        const std::string path = test::temp_path(std::string("hostile-") + c.name + ".avi");
        test::write_file(path, b);
        const std::string unpack = "REELPACK_THREADS=8 " + test::quoted(test::reelunpack_bin()) + " ";
        const auto r = test::run(unpack + path + " " + path + ".out.avi 2>&1");
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.name << ": " << r.out;
        const std::vector<Bytes> back = test::frames_of(test::read_file(path + ".out.avi"));
        ASSERT_GE(back.size(), 4u) << c.name;
        // Frame 0 always decodes; a damaged frame 1 repeats it.
        const bool frame1_damaged = std::string(c.message).find("frame 1") != std::string::npos;
        EXPECT_EQ(back[0], plain[0]) << c.name;
        EXPECT_EQ(back[1], plain[frame1_damaged ? 0 : 1]) << c.name;
        EXPECT_EQ(back[3], plain[3]) << c.name;
        // Told and stood in for on eight threads as on one.
        const std::string alone = "REELPACK_THREADS=1 " + test::quoted(test::reelunpack_bin()) + " ";
        const auto one = test::run(alone + path + " " + path + ".1.avi 2>&1");
        EXPECT_EQ(one.out, r.out) << c.name;
        EXPECT_TRUE(test::read_file(path + ".1.avi") == test::read_file(path + ".out.avi")) << c.name;
    }
}

}  // namespace
