// Interop with an independent reader and writer of both formats: movies made
// by ffmpeg are converted, and ffmpeg and ffprobe read the results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Movies as ffmpeg writes them, in both modes: reelunpack gives back exactly
// what ffmpeg decodes from the movie. ffmpeg itself misreads its own "raw "
// movies at widths of 4k + 3 (it takes the rows for 4-byte ones), so there
// the frames of the source that made the movie are the reference.
TEST_F(FfmpegInterop, MoviesAsFfmpegWritesThemConvertExactly)
{
    struct Case {
        const char* name;
        std::string source;  // the lavfi source
        std::string options; // how ffmpeg writes the movie
        std::string pixels;  // the reference's pixel format
        bool from_source;    // the reference is the source, not the movie
        std::string expect;  // in reelpack's output
    };
    const std::string small = "-f lavfi -i testsrc=size=37x5:rate=25 -frames:v 3";
    const std::vector<Case> cases = {
        {"moov-last", "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 2", "-pix_fmt rgb24", "bgr24", false,
         "2 frames indexed"},
        {"argb", small + " -vf format=rgba,geq=r='X*7':g='Y*50':b=128:a='X*6+Y*3'", "-pix_fmt argb", "bgra", false,
         "3 frames indexed"},
        {"sound-first", "-f lavfi -i anullsrc=r=8000:cl=mono -f lavfi -i testsrc=size=32x16:rate=25 -map 0:a -map 1:v -t 0.2",
         "-pix_fmt rgb24 -c:a pcm_s16le", "bgr24", false, "Track 1 (\"soun\") is carried into the AVI file"},
        {"width-37", small, "-pix_fmt rgb24", "bgr24", false, "Width = 37"},
        {"width-39", "-f lavfi -i testsrc=size=39x5:rate=25 -frames:v 3", "-pix_fmt rgb24", "bgr24", true, "Width = 39"},
        {"rgb555be", small, "-pix_fmt rgb555be", "bgr24", false, "3 frames indexed"},
        {"pal8", small, "-pix_fmt pal8", "bgr24", false, "3 frames indexed"},
        {"gray", small, "-pix_fmt gray", "bgr24", false, "3 frames indexed"},
        {"fragmented", small, "-pix_fmt rgb24 -movflags frag_keyframe+empty_moov", "bgr24", false, "3 frames indexed"},
    };
    for (const Case& c : cases) {
        const std::string movie = test::temp_path(std::string("ff-") + c.name + ".mov");
        const auto made = test::run("ffmpeg -v error -y " + c.source + " -c:v rawvideo " + c.options + " " + movie + " 2>&1");
        ASSERT_EQ(made.status, 0) << c.name << ": " << made.out;
        const std::string reference =
            test::run("ffmpeg -v error " + (c.from_source ? c.source : "-i " + movie) + " -pix_fmt " + c.pixels +
                      " -f rawvideo -")
                .out;
        ASSERT_FALSE(reference.empty()) << c.name;
        for (const std::string mode : {"-u ", ""}) {
            const std::string out = test::temp_path(std::string("ff-") + c.name + (mode.empty() ? ".avi" : "-u.avi"));
            const auto r = test::reelpack(mode + movie + " " + out);
            ASSERT_EQ(r.status, 0) << c.name << ": " << r.out;
            EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.name << ": " << r.out;
            EXPECT_TRUE(test::reelunpack(out + " - 2>/dev/null").out == reference) << c.name << " " << mode;
        }
        // The coded file unpacks to the uncompressed one, byte for byte.
        const std::string plain = test::temp_path(std::string("ff-") + c.name + "-u.avi");
        const std::string unpacked = test::temp_path(std::string("ff-") + c.name + "-unpacked.avi");
        ASSERT_EQ(test::reelunpack(test::temp_path(std::string("ff-") + c.name + ".avi") + " " + unpacked).status, 0);
        EXPECT_TRUE(test::read_file(unpacked) == test::read_file(plain)) << c.name;
        if (c.pixels == "bgra") {
            // ffmpeg reads the uncompressed 32-bit file as bgra, alpha and all.
            EXPECT_TRUE(test::run("ffmpeg -v error -i " + plain + " -pix_fmt bgra -f rawvideo -").out == reference);
        }
    }

    // A title card held for a second: the frames at their times, as ffmpeg
    // shows them at 25 frames a second; repeats are null frames when coded.
    const std::string held = test::temp_path("ff-held.mov");
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x16:rate=25 -frames:v 30 -vf "
                        "\"setpts='if(eq(N,0),0,N+24)/25/TB'\" -fps_mode passthrough -video_track_timescale 25 "
                        "-c:v rawvideo -pix_fmt rgb24 " + held).status, 0);
    const std::string timed = test::run("ffmpeg -v error -i " + held + " -vf fps=25 -pix_fmt bgr24 -f rawvideo -").out;
    ASSERT_EQ(timed.size(), 54u * 32 * 16 * 3);
    for (const std::string mode : {"-u ", ""}) {
        const std::string out = test::temp_path("ff-held.avi");
        ASSERT_EQ(test::reelpack(mode + held + " " + out).status, 0);
        EXPECT_TRUE(test::reelunpack(out + " - 2>/dev/null").out == timed) << mode;
        EXPECT_EQ(test::run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + out).out, "2.160000\n");
    }

    // A movie cut by an edit list: the frames a player shows, in both modes.
    const std::string whole = make_movie("ff-whole.mov", "32x16", 30);
    const std::string cut = test::temp_path("ff-cut.mov");
    ASSERT_EQ(test::run("ffmpeg -v error -y -itsoffset -0.4 -i " + whole + " -c copy " + cut).status, 0);
    const std::string shown = test::run("ffmpeg -v error -i " + cut + " -pix_fmt bgr24 -f rawvideo -").out;
    ASSERT_EQ(shown.size(), 20u * 32 * 16 * 3);
    for (const std::string mode : {"-u ", ""}) {
        const std::string out = test::temp_path("ff-cut.avi");
        ASSERT_EQ(test::reelpack(mode + cut + " " + out).status, 0);
        EXPECT_TRUE(test::reelunpack(out + " - 2>/dev/null").out == shown) << mode;
    }
}

}  // namespace

namespace {

// Movies with sound as ffmpeg writes them: in both modes the AVI's sound is
// the movie's sample for sample (after the silence that keeps a late sound
// track in step), the two streams last as long within a frame, ffprobe sees
// both, and the coded file unpacks to the uncompressed one.
TEST(FfmpegSound, SoundGoesInSampleForSample)
{
    if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    struct Case {
        const char* name;
        std::string inputs;   // video and sound sources, as ffmpeg options
        std::string codec;    // the sound's codec in the movie
        std::string raw;      // the sample format both are compared in
        int block;            // bytes of a sample frame
        int late_samples;     // silence before the movie's sound
        const char* line;     // in reelpack's output
    };
    const std::string video = "-f lavfi -i testsrc=size=32x16:rate=25 ";
    const std::string sine = "-f lavfi -i sine=f=440:r=48000 ";
    const std::vector<Case> cases = {
        {"s16le-mono", video + sine + "-ac 1", "pcm_s16le", "s16le", 2, 0, "\"sowt\", 48000 Hz, 1 channels of 16 bits"},
        {"s24be-stereo", video + sine + "-ac 2", "pcm_s24be", "s24le", 6, 0, "\"in24\", 48000 Hz, 2 channels of 24 bits"},
        {"f32-stereo", video + sine + "-ac 2", "pcm_f32le", "f32le", 8, 0, "\"fl32\", 48000 Hz, 2 channels of 32 bits"},
        {"u8-six", video + sine + "-ac 6", "pcm_u8", "u8", 6, 0, "\"raw \", 48000 Hz, 6 channels of 8 bits"},
        {"sound-first", sine + video + "-map 1:v -map 0:a -ac 1", "pcm_s16be", "s16le", 2, 0, "Track 2 (\"soun\")"},
        {"sound-late", video + "-itsoffset 0.2 " + sine + "-ac 1", "pcm_s16le", "s16le", 2, 9600, "Track 2 (\"soun\")"},
        {"lpcm-96k", video + sine + "-ac 2 -ar 96000", "pcm_s24le", "s24le", 6, 0, "\"lpcm\", 96000 Hz, 2 channels"},
    };
    for (const Case& c : cases) {
        const std::string movie = test::temp_path(std::string("snd-") + c.name + ".mov");
        const auto made = test::run("ffmpeg -v error -y " + c.inputs + " -t 1 -c:v rawvideo -pix_fmt rgb24 -c:a " +
                                    c.codec + " " + movie + " 2>&1");
        ASSERT_EQ(made.status, 0) << c.name << ": " << made.out;
        const std::string heard = std::string(std::size_t(c.late_samples) * std::size_t(c.block),
                                              c.raw == "u8" ? '\x80' : '\0') +
                                  test::run("ffmpeg -v error -i " + movie + " -map 0:a -f " + c.raw + " -").out;
        ASSERT_GT(heard.size(), 4000u) << c.name;
        for (const std::string mode : {"-u ", ""}) {
            const std::string out = test::temp_path(std::string("snd-") + c.name + (mode.empty() ? ".avi" : "-u.avi"));
            const auto r = test::reelpack(mode + movie + " " + out);
            ASSERT_EQ(r.status, 0) << c.name << ": " << r.out;
            EXPECT_NE(r.out.find(c.line), std::string::npos) << c.name << ": " << r.out;
            const std::string avi_sound = test::run("ffmpeg -v error -i " + out + " -map 0:a -f " + c.raw + " -").out;
            EXPECT_TRUE(avi_sound == heard) << c.name << " " << mode << avi_sound.size() << " " << heard.size();
            // The sound lasts as long as the 25 frames, within one.
            const double seconds = double(avi_sound.size()) / c.block / (c.name == std::string("lpcm-96k") ? 96000 : 48000);
            EXPECT_NEAR(seconds, 1.0, 0.04) << c.name;
            EXPECT_EQ(test::run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + out).out,
                      "video\naudio\n");
        }
        const std::string plain = test::temp_path(std::string("snd-") + c.name + "-u.avi");
        const std::string unpacked = test::temp_path(std::string("snd-") + c.name + "-unpacked.avi");
        ASSERT_EQ(test::reelunpack(test::temp_path(std::string("snd-") + c.name + ".avi") + " " + unpacked).status, 0);
        EXPECT_TRUE(test::read_file(unpacked) == test::read_file(plain)) << c.name;
        EXPECT_EQ(test::reelunpack(unpacked + " - 2>/dev/null").out.size(), 25u * 32 * 16 * 3) << c.name;
        EXPECT_NE(test::reelunpack("--info " + plain).out.find("sound: "), std::string::npos) << c.name;
    }

    // Compressed sound is not carried, and says so.
    const std::string aac = test::temp_path("snd-aac.mov");
    ASSERT_EQ(test::run("ffmpeg -v error -y " + video + sine + " -t 0.2 -c:v rawvideo -pix_fmt rgb24 -c:a aac " + aac)
                  .status,
              0);
    const auto r = test::reelpack(aac + " " + test::temp_path("snd-aac.avi"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Track 2 (\"soun\") is not carried into the AVI file: its sound is compressed (\"mp4a\")"),
              std::string::npos)
        << r.out;
}

}  // namespace
