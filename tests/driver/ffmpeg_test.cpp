// Interop with an independent reader and writer of both formats: movies made
// by ffmpeg are converted, and ffmpeg and ffprobe read the results.
#include <gtest/gtest.h>

#include <string>

#include "avi/avi_reader.h"
#include "support/files.h"

namespace {

std::string framemd5(const std::string& path)
{
    // The hash column of every frame line; the header lines name the input.
    return test::run("ffmpeg -v error -i " + path + " -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | cut -d, -f5,6").out;
}

std::string probe(const std::string& path, const std::string& entries)
{
    return test::run("ffprobe -v error -select_streams v:0 -count_frames -show_entries " + entries +
                     " -of default=noprint_wrappers=1 " + path)
        .out;
}

class FfmpegInterop : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
    }

    std::string make_movie(const std::string& name, const std::string& size, int frames, const std::string& rate = "25")
    {
        const std::string path = test::temp_path(name);
        const auto r = test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=" + rate +
                                 " -frames:v " + std::to_string(frames) +
                                 " -c:v rawvideo -pix_fmt rgb24 -movflags +faststart " + path + " 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
        return path;
    }
};

TEST_F(FfmpegInterop, UncompressedAviHoldsTheMoviesPixels)
{
    const std::string movie = make_movie("ff-320.mov", "320x240", 10);
    const std::string out = test::temp_path("ff-320.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Width = 320\nHeight = 240\n"), std::string::npos);
    EXPECT_NE(r.out.find("Data format = \"raw \"\n"), std::string::npos);
    EXPECT_NE(r.out.find("10 frames indexed\n"), std::string::npos);

    const std::string source = framemd5(movie);
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(framemd5(out), source);
    EXPECT_EQ(probe(out, "stream=codec_name,width,height,r_frame_rate,nb_read_frames"),
              "codec_name=rawvideo\nwidth=320\nheight=240\nr_frame_rate=25/1\nnb_read_frames=10\n");
}

TEST_F(FfmpegInterop, OddRatesAndSizes)
{
    // NTSC timing and a width that is a multiple of 4 but not of 8.
    const std::string movie = make_movie("ff-ntsc.mov", "76x50", 7, "30000/1001");
    const std::string out = test::temp_path("ff-ntsc.avi");
    ASSERT_EQ(test::reelpack("-u " + movie + " " + out).status, 0);
    EXPECT_EQ(framemd5(out), framemd5(movie));
    EXPECT_EQ(probe(out, "stream=width,height,r_frame_rate,nb_read_frames"),
              "width=76\nheight=50\nr_frame_rate=30000/1001\nnb_read_frames=7\n");
}

TEST_F(FfmpegInterop, CompressedAviIsReadableByFfprobe)
{
    const std::string movie = make_movie("ff-trvc.mov", "64x48", 6);
    const std::string out = test::temp_path("ff-trvc.avi");
    const auto r = test::reelpack(movie + " " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                        "stream=codec_tag_string,width,height,nb_read_packets -of default=noprint_wrappers=1 " + out)
                  .out,
              "codec_tag_string=TRVC\nwidth=64\nheight=48\nnb_read_packets=6\n");

    // Every packet is where the index puts it, of the chunk's size, and a
    // key frame.
    const test::Bytes file = test::read_file(out);
    AviLayout layout;
    ASSERT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    std::string expected;
    for (const AviFrameRef& f : layout.frames) {
        expected += std::to_string(f.size) + "," + std::to_string(f.offset) + ",K_\n";
    }
    EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries packet=size,pos,flags -of csv=p=0 " + out).out,
              expected);
}

}  // namespace
