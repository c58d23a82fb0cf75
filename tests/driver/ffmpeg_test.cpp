// Interop with an independent reader and writer of both formats: movies made
// by ffmpeg are converted, and ffmpeg and ffprobe read the results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "support/files.h"

namespace {

class FfmpegInterop : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
    }
};

// Movies as ffmpeg writes them, in both modes: reelunpack gives back exactly
// what ffmpeg decodes from the movie, and so does ffmpeg from the -u file;
// ffprobe finds the -u file's stream as the movie's and every coded packet
// where the index puts it, of the chunk's size, and a key frame. ffmpeg
// itself misreads its own "raw " movies at widths of 4k + 3 (it takes the
// rows for 4-byte ones), so there the frames of the source that made the
// movie are the reference.
TEST_F(FfmpegInterop, MoviesAsFfmpegWritesThemConvertExactly)
{
    struct Case {
        const char* name;
        std::string source;  // the lavfi source
        std::string options; // how ffmpeg writes the movie
        std::string pixels;  // the reference's pixel format
        bool from_source;    // the reference is the source, not the movie
        std::string expect;  // in reelpack's output
        std::string probe = {};  // width, height, rate and frames of the -u file, when checked
    };
    const std::string small = "-f lavfi -i testsrc=size=37x5:rate=25 -frames:v 3";
    const std::vector<Case> cases = {
        {"moov-last", "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 2", "-pix_fmt rgb24", "bgr24", false,
         "2 frames indexed"},
        {"faststart", "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10", "-pix_fmt rgb24 -movflags +faststart",
         "bgr24", false, "Width = 320\nHeight = 240\n", "320,240,25/1,10"},
        // NTSC timing and a width that is a multiple of 4 but not of 8.
        {"ntsc", "-f lavfi -i testsrc2=size=76x50:rate=30000/1001 -frames:v 7", "-pix_fmt rgb24", "bgr24", false,
         "Data format = \"raw \"\n", "76,50,30000/1001,7"},
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
        const std::string name = test::temp_path(std::string("ff-") + c.name);
        const std::string movie = name + ".mov", coded = name + ".avi", plain = name + "-u.avi";
        const auto made = test::run("ffmpeg -v error -y " + c.source + " -c:v rawvideo " + c.options + " " + movie + " 2>&1");
        ASSERT_EQ(made.status, 0) << c.name << ": " << made.out;
        const std::string reference =
            test::run("ffmpeg -v error " + (c.from_source ? c.source : "-i " + movie) + " -pix_fmt " + c.pixels +
                      " -f rawvideo -")
                .out;
        ASSERT_FALSE(reference.empty()) << c.name;
        for (const std::string& out : {plain, coded}) {
            const auto r = test::reelpack((out == plain ? "-u " : "") + movie + " " + out);
            ASSERT_EQ(r.status, 0) << c.name << ": " << r.out;
            EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.name << ": " << r.out;
            EXPECT_TRUE(test::reelunpack(out + " - 2>/dev/null").out == reference) << c.name << " " << out;
        }
        // ffmpeg reads the uncompressed file as the movie (32-bit ones as
        // bgra, alpha and all).
        EXPECT_TRUE(test::run("ffmpeg -v error -i " + plain + " -pix_fmt " + c.pixels + " -f rawvideo -").out ==
                    reference) << c.name;
        if (!c.probe.empty()) {
            EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 " + plain).out,
                      c.probe + "\n");
        }
        const test::Bytes file = test::read_file(coded);
        AviLayout layout;
        ASSERT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
        std::string packets;
        for (const AviFrameRef& f : layout.frames) {
            packets += std::to_string(f.size) + "," + std::to_string(f.offset) + ",K_\n";
        }
        EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries packet=size,pos,flags -of csv=p=0 " +
                            coded).out, packets) << c.name;
        EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of csv=p=0 " +
                            coded).out, "TRVC\n");
        // The coded file unpacks to the uncompressed one, byte for byte.
        ASSERT_EQ(test::reelunpack(coded + " " + name + "-unpacked.avi").status, 0);
        EXPECT_TRUE(test::read_file(name + "-unpacked.avi") == test::read_file(plain)) << c.name;
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
    const std::string whole = test::temp_path("ff-whole.mov");
    const std::string cut = test::temp_path("ff-cut.mov");
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=32x16:rate=25 -frames:v 30 -c:v rawvideo "
                        "-pix_fmt rgb24 " + whole + " && ffmpeg -v error -y -itsoffset -0.4 -i " + whole +
                        " -c copy " + cut).status, 0);
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
