// reelunpack end to end: its output is exactly what `reelpack -u` writes, its
// pixel stream is what ffmpeg reads from the source movie, and damaged files
// decode as far as they can.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "entropy/byte_order.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

// A compressed AVI file of noisy and smooth frames and its -u twin.
struct Pair {
    std::string coded;
    std::string plain;
};

Pair make_pair(const std::string& name, int width, int height, int frames)
{
    test::MovieParams p;
    p.width = width;
    p.height = height;
    for (int i = 0; i < frames; ++i) {
        Bytes f = test::pattern_frame(width, height, static_cast<unsigned>(i));
        if (i % 2 == 1) {
            for (std::size_t k = 0; k < f.size(); ++k) {
                f[k] = static_cast<unsigned char>(k / 3 % width + i);
            }
        }
        p.frames.push_back(f);
    }
    if (frames > 2) {
        p.frames[2] = Bytes(p.frames[2].size(), 9);  // a one-colour frame
    }
    const std::string movie = test::temp_path(name + ".mov");
    test::write_file(movie, test::make_movie(p));
    Pair pair{test::temp_path(name + ".avi"), test::temp_path(name + "-u.avi")};
    EXPECT_EQ(test::reelpack(movie + " " + pair.coded).status, 0);
    EXPECT_EQ(test::reelpack("-u " + movie + " " + pair.plain).status, 0);
    return pair;
}

AviLayout layout_of(const Bytes& file)
{
    AviLayout layout;
    EXPECT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    return layout;
}

TEST(Unpack, GivesBackTheUncompressedFileByteForByte)
{
    for (auto [w, h] : {std::pair{17, 9}, {1, 1}, {40, 30}}) {
        const Pair pair = make_pair("rt-" + std::to_string(w), w, h, 5);
        const std::string out = test::temp_path("rt-" + std::to_string(w) + "-back.avi");
        const auto r = test::reelunpack(pair.coded + " " + out);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(test::read_file(out), test::read_file(pair.plain)) << w << "x" << h;
        // An uncompressed input passes through unchanged.
        const std::string again = test::temp_path("rt-again.avi");
        EXPECT_EQ(test::reelunpack(pair.plain + " " + again).status, 0);
        EXPECT_EQ(test::read_file(again), test::read_file(pair.plain));
    }
}

TEST(Unpack, RawFramesAreTopDownBgr)
{
    const Pair pair = make_pair("raw-out", 5, 3, 4);
    const std::string raw = test::temp_path("raw-out.bgr");
    ASSERT_EQ(test::reelunpack(pair.coded + " - >" + raw).status, 0);
    const Bytes pixels = test::read_file(raw);
    const Bytes plain = test::read_file(pair.plain);
    const AviLayout layout = layout_of(plain);
    ASSERT_EQ(pixels.size(), 4u * 45u);
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned char* bottom_up = plain.data() + layout.frames[i].offset;
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(Bytes(pixels.begin() + static_cast<long>(i * 45 + y * 15),
                            pixels.begin() + static_cast<long>(i * 45 + y * 15 + 15)),
                      Bytes(bottom_up + (2 - y) * 15, bottom_up + (2 - y) * 15 + 15));
        }
    }
}

TEST(Unpack, CommandLine)
{
    const Pair pair = make_pair("cli", 4, 4, 2);
    const auto help = test::reelunpack("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: reelunpack"), std::string::npos);
    const auto version = test::reelunpack("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("reelunpack ", 0), 0u);
    EXPECT_EQ(test::reelunpack("").status, 2);
    EXPECT_EQ(test::reelunpack("--bogus a b").status, 2);
    EXPECT_EQ(test::reelunpack("a b c").status, 2);

    const auto info = test::run(test::quoted(test::reelunpack_bin()) + " --info " + pair.coded);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("width: 4\nheight: 4\nframe rate: 600/24 (25.000 frames per second)\nframes: 2\n"
                            "codec: Tarvic (TRVC)\n"
                            "ffmpeg input options: -f rawvideo -pix_fmt bgr24 -video_size 4x4 -framerate 600/24 -i -\n"),
              std::string::npos)
        << info.out;

    const auto self = test::reelunpack(pair.coded + " " + pair.coded);
    EXPECT_EQ(self.status, 1);
    EXPECT_NE(self.out.find("must differ from the input"), std::string::npos);
    EXPECT_EQ(test::reelunpack(test::temp_path("missing.avi") + " x.avi").status, 1);
    EXPECT_EQ(test::reelunpack(test::temp_dir() + " x.avi").status, 1);
    const std::string empty = test::temp_path("empty.avi");
    test::write_file(empty, {});
    const auto nothing = test::reelunpack(empty + " " + test::temp_path("empty-out.avi"));
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.out.find("not an AVI file"), std::string::npos);
    const auto full = test::reelunpack(pair.coded + " /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("unable to write /dev/full"), std::string::npos);
    const auto full_pipe = test::reelunpack(pair.coded + " - >/dev/full");
    EXPECT_EQ(full_pipe.status, 1);
    // Pixels are never written to a terminal.
    if (test::have_program("script")) {
        const auto tty = test::run("script -qec " + test::quoted(test::quoted(test::reelunpack_bin()) + " " + pair.coded + " -") +
                                   " /dev/null");
        EXPECT_EQ(tty.status, 1);
        EXPECT_NE(tty.out.find("refusing to write pixels"), std::string::npos) << tty.out;
    }
}

struct Damage {
    const char* name;
    int status;
    const char* message;  // part of what reelunpack says, "" for nothing
};

TEST(Unpack, DamagedFilesDecodeAsFarAsTheyCan)
{
    const Pair pair = make_pair("hostile", 16, 12, 6);
    const Bytes good = test::read_file(pair.coded);
    const AviLayout layout = layout_of(good);
    ASSERT_EQ(layout.frames.size(), 6u);
    const std::size_t f1 = layout.frames[1].offset;  // a type 4 frame
    const std::size_t idx1 = 0x2008 + get_le32(good.data() + 0x2004);

    auto damaged = [&](const char* name, auto change) {
        Bytes b = good;
        change(b);
        const std::string path = test::temp_path(std::string("hostile-") + name + ".avi");
        test::write_file(path, b);
        return path;
    };
    struct Case {
        Damage expect;
        std::string path;
    };
    std::vector<Case> cases;
    cases.push_back({{"truncated", 1, "is damaged"}, damaged("truncated", [&](Bytes& b) {
                         b.resize(layout.frames[4].offset + 3);
                     })});
    cases.push_back({{"riff size", 1, "is damaged"}, damaged("riff", [&](Bytes& b) { put_le32(b.data() + 4, 0x7FFFFFF0u); })});
    cases.push_back({{"index outside movi", 0, ""}, damaged("index", [&](Bytes& b) {
                         put_le32(b.data() + idx1 + 8 + 16 * 2 + 8, 0x40000000u);
                     })});
    cases.push_back({{"offsets out of order", 1, "frame 1 is damaged"}, damaged("offsets", [&](Bytes& b) {
                         put_le32(b.data() + f1 + 1, get_le32(b.data() + f1 + 5) + 1);
                     })});
    cases.push_back({{"endless count table", 1, "frame 1 is damaged"}, damaged("table", [&](Bytes& b) {
                         const std::size_t end = f1 + get_le32(b.data() + f1 + 1);
                         for (std::size_t k = f1 + 10; k < end; ++k) {
                             b[k] = 0;
                         }
                     })});
    cases.push_back({{"level 7", 1, "frame 1 is damaged"}, damaged("level", [&](Bytes& b) { b[f1 + 9] = 7; })});
    cases.push_back({{"one-byte frame", 1, "frame 1 is damaged"}, damaged("tiny", [&](Bytes& b) {
                         put_le32(b.data() + f1 - 4, 1);
                         put_le32(b.data() + idx1 + 8 + 16 + 12, 4);
                     })});
    const Bytes plain = test::read_file(pair.plain);
    const AviLayout plain_layout = layout_of(plain);
    for (const Case& c : cases) {
        const std::string out = c.path + ".out.avi";
        const auto r = test::reelunpack(c.path + " " + out);
        EXPECT_EQ(r.status, c.expect.status) << c.expect.name << ": " << r.out;
        EXPECT_NE(r.out.find(c.expect.message), std::string::npos) << c.expect.name << ": " << r.out;
        const Bytes back = test::read_file(out);
        const AviLayout back_layout = layout_of(back);
        ASSERT_GE(back_layout.frames.size(), 4u) << c.expect.name;
        // Frame 0 always decodes; a damaged frame 1 repeats it.
        auto frame = [](const Bytes& file, const AviLayout& l, std::size_t i) {
            return Bytes(file.begin() + static_cast<long>(l.frames[i].offset),
                         file.begin() + static_cast<long>(l.frames[i].offset + l.frames[i].size));
        };
        EXPECT_EQ(frame(back, back_layout, 0), frame(plain, plain_layout, 0)) << c.expect.name;
        const bool frame1_damaged = std::string(c.expect.message).find("frame 1") != std::string::npos;
        EXPECT_EQ(frame(back, back_layout, 1), frame(plain, plain_layout, frame1_damaged ? 0 : 1)) << c.expect.name;
        EXPECT_EQ(frame(back, back_layout, 3), frame(plain, plain_layout, 3)) << c.expect.name;
    }
}

TEST(Unpack, RoundTripThroughFfmpeg)
{
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string movie = test::temp_path("unpack-ff.mov");
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -c:v rawvideo "
                        "-pix_fmt rgb24 -movflags +faststart " + movie).status, 0);
    const std::string coded = test::temp_path("unpack-ff.avi");
    const std::string plain = test::temp_path("unpack-ff-u.avi");
    const std::string back = test::temp_path("unpack-ff-back.avi");
    ASSERT_EQ(test::reelpack(movie + " " + coded).status, 0);
    ASSERT_EQ(test::reelpack("-u " + movie + " " + plain).status, 0);
    ASSERT_EQ(test::reelunpack(coded + " " + back).status, 0);
    EXPECT_EQ(test::read_file(back), test::read_file(plain));
    const std::string hashes = " -pix_fmt bgr24 -f framemd5 - 2>/dev/null | grep -v '^#' | cut -d, -f5,6";
    const auto source = test::run("ffmpeg -v error -i " + movie + hashes);
    const auto piped = test::run(test::quoted(test::reelunpack_bin()) + " " + coded +
                                 " - | ffmpeg -v error -f rawvideo -pix_fmt bgr24 -video_size 320x240 -framerate 25 -i -" +
                                 hashes);
    ASSERT_FALSE(source.out.empty());
    EXPECT_EQ(piped.out, source.out);

    // Without its idx1 index the file is walked and decodes the same.
    Bytes unindexed = test::read_file(coded);
    const std::size_t idx1 = 0x2008 + get_le32(unindexed.data() + 0x2004);
    std::copy_n("JUNK", 4, unindexed.begin() + static_cast<long>(idx1));
    const std::string no_index = test::temp_path("unpack-ff-noindex.avi");
    test::write_file(no_index, unindexed);
    ASSERT_EQ(test::reelunpack(no_index + " " + back).status, 0);
    EXPECT_EQ(test::read_file(back), test::read_file(plain));

    // ffmpeg's own uncompressed AVI, whose rows are padded to four bytes.
    const std::string theirs = test::temp_path("unpack-ff-theirs.avi");
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=30x20:rate=25 -frames:v 3 -c:v rawvideo "
                        "-pix_fmt bgr24 " + theirs).status, 0);
    const auto their_pixels = test::run(test::quoted(test::reelunpack_bin()) + " " + theirs +
                                        " - | ffmpeg -v error -f rawvideo -pix_fmt bgr24 -video_size 30x20 "
                                        "-framerate 25 -i -" + hashes);
    EXPECT_EQ(their_pixels.out, test::run("ffmpeg -v error -i " + theirs + hashes).out);
}

}  // namespace
