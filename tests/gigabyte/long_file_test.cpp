// Outputs past 2 GiB, end to end: a movie of a few megabytes whose chunk
// offset table lists three stored 1920 x 1080 noise frames over and over
// describes 440 frames (2.7 GB). Both modes must write files that ffprobe
// and ffmpeg read in full and that reelunpack gives back frame for frame,
// with sound too. This test writes gigabytes; it runs once per suite and
// deletes what it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avi/avi_writer.h"
#include "support/avi_check.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

constexpr int frames = 440;

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        result.push_back(text.substr(at, end - at));
    }
    return result;
}

// Both modes, and -u again with a sound track (one stored 0.4 s chunk
// listed 44 times, 17.6 s at 8,000 a second), read past 2 GiB through the
// streams' own indexes.
TEST(LongFile, EveryFrameAndSampleBeyondTwoGibibytes)
{
    if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    test::MovieParams p = test::pattern_movie(1920, 1080, 3, "raw ", 100);
    for (int i = 0; i < frames; ++i) {
        p.chunk_order.push_back(static_cast<std::uint32_t>(i % 3));
    }
    const std::string movie = test::temp_path("long.mov");
    test::write_file(movie, test::make_movie(p));
    // The stored frames as ffmpeg sees them: "raw " rows are RGB, top down.
    const std::string raw = test::temp_path("long.rgb");
    Bytes all;
    for (const Bytes& f : p.frames) {
        all.insert(all.end(), f.begin(), f.end());
    }
    test::write_file(raw, all);
    const std::vector<std::string> stored =
        lines(test::run("ffmpeg -v error -f rawvideo -pix_fmt rgb24 -video_size 1920x1080 -i " + raw +
                        " -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f5,6")
                  .out);
    std::remove(raw.c_str());
    ASSERT_EQ(stored.size(), 3u);
    std::vector<std::string> expected;  // "size,md5" of each frame, bgr24 top down
    for (int i = 0; i < frames; ++i) {
        expected.push_back(stored[static_cast<std::size_t>(i % 3)]);
    }

    Bytes heard;  // as the AVI holds it: little-endian
    for (int i = 0; i < 3200; ++i) {
        const unsigned v = static_cast<unsigned>(i * 37) & 0xFFFF;
        p.sound_chunk.push_back(static_cast<unsigned char>(v >> 8));
        p.sound_chunk.push_back(static_cast<unsigned char>(v));
    }
    p.sound_chunks = 44;
    for (std::uint32_t c = 0; c < p.sound_chunks; ++c) {
        for (std::size_t i = 0; i < p.sound_chunk.size(); i += 2) {
            heard.insert(heard.end(), {p.sound_chunk[i + 1], p.sound_chunk[i]});
        }
    }
    const std::string with_sound = test::temp_path("long-sound.mov");
    test::write_file(with_sound, test::make_movie(p));

    for (const std::string mode : {"-u ", "", "sound"}) {
        const bool sound = mode == "sound";
        const std::string out = test::temp_path("long.avi");
        const auto r = test::reelpack(sound ? "-u " + with_sound + " " + out : mode + movie + " " + out);
        EXPECT_EQ(r.status, 0) << r.out;
        // ffprobe counts every packet, 440 frames at 25 a second.
        EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                            "stream=duration,nb_read_packets -of csv=p=0 " + out)
                      .out,
                  "17.600000,440\n");
        if (sound) {
            EXPECT_GT(std::stoull("0" + test::run("stat -c %s " + out).out), avi_first_riff_limit);
            const std::string decoded = test::run("ffmpeg -v error -i " + out + " -map 0:a -f s16le -").out;
            EXPECT_TRUE(decoded == std::string(heard.begin(), heard.end())) << decoded.size() << " of " << heard.size();
            // reelunpack --avi sends the file it would write (this one) down a
            // pipe, which ffmpeg reads told nothing.
            const std::string piped = test::quoted(test::reelunpack_bin()) + " --avi " + out + " - | ";
            EXPECT_EQ(test::run(piped + "cmp - " + out).status, 0);
            EXPECT_EQ(lines(test::run(piped + "ffmpeg -v error -i - -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f5,6")
                                .out),
                      expected);
            std::remove(out.c_str());
            continue;
        }
        // The structure is consistent and holds every frame, past 2 GiB with
        // a first RIFF below it and AVIX RIFFs of at most 1 GiB.
        const test::AviStructure s = test::read_avi_structure(out);
        ASSERT_TRUE(s.errors.empty()) << s.errors.front();
        EXPECT_GT(s.file_size, avi_first_riff_limit);
        ASSERT_GE(s.riffs.size(), 2u);
        EXPECT_LT(s.riffs[0].size + 8u, avi_first_riff_limit);
        for (std::size_t i = 1; i < s.riffs.size(); ++i) {
            EXPECT_LE(s.riffs[i].size + 8u, avi_riff_limit);
        }
        EXPECT_EQ(s.dmlh_total, std::uint32_t(frames));
        // reelunpack (and ffmpeg, for plain frames) gives back every frame.
        EXPECT_EQ(lines(test::run(test::quoted(test::reelunpack_bin()) + " " + out +
                                  " - | ffmpeg -v error -f rawvideo -pix_fmt bgr24 -video_size 1920x1080 -framerate 25"
                                  " -i - -f framemd5 - | grep -v '^#' | cut -d, -f5,6")
                            .out),
                  expected);
        if (!mode.empty()) {
            EXPECT_EQ(lines(test::run("ffmpeg -v error -i " + out + " -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | "
                                      "cut -d, -f5,6").out),
                      expected);
        }
        std::remove(out.c_str());
    }
    std::remove(movie.c_str());
    std::remove(with_sound.c_str());
}

}  // namespace
