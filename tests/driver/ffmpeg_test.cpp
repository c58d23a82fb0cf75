// Interop with an independent reader and writer of both formats: movies made
// by ffmpeg are converted, and ffmpeg and ffprobe read the results.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/avi_check.h"
#include "support/files.h"

namespace {

// Movies as ffmpeg writes them, in both modes: reelunpack gives back exactly
// what ffmpeg decodes from the movie, and so does ffmpeg from the -u file;
// ffprobe finds the -u file's stream as the movie's and every coded packet
// where the index puts it, of the chunk's size, and a key frame. ffmpeg
// itself misreads its own "raw " movies at widths of 4k + 3 (it takes the
// rows for 4-byte ones), so there the frames of the source that made the
// movie are the reference. The sound of a movie is the AVI's sample for
// sample (after the silence that keeps a late sound track in step), and the
// two streams last as long within a frame. A movie cut short gives what the
// whole one gives up to where its file ends, then black and silence, its
// sound exactly as long as its frames. reelunpack gives every -u file back
// byte for byte, and the raw frames of either file, read with the options
// --info names, are the reference (Y'CbCr ones in the movie's own packing).
TEST(FfmpegInterop, MoviesAsFfmpegWritesThemConvertExactly)
{
    if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    struct Case {
        const char* name;
        std::string source;  // the lavfi sources
        std::string options; // how ffmpeg writes the movie
        std::string pixels;  // the reference's pixel format
        bool from_source;    // the reference is the source, not the movie
        std::string expect;  // in reelpack's output
        std::string probe = {};  // width, height, rate and frames of the -u file, when checked
        std::string sound = {};  // the sample format the sound is compared in, when checked
        int block = 0;           // bytes of a sample frame
        int late_samples = 0;    // silence before the movie's sound
        off_t cut = 0;           // the movie's bytes its file keeps (of 32x16 frames at 25 a second)
    };
    const std::string small = "-f lavfi -i testsrc=size=37x5:rate=25 -frames:v 3";
    const std::string even = "-f lavfi -i testsrc=size=38x5:rate=25 -frames:v 3";
    const std::string video = "-f lavfi -i testsrc=size=32x16:rate=25 ";
    const std::string sine = "-f lavfi -i sine=f=440:r=48000 ";
    const std::string one_second = "-t 1 -pix_fmt rgb24 -c:a ";
    const std::string shades = small + " -vf format=rgba,geq=r='X*7':g='X*7+Y*40':b='255-X*7':a='X*6+Y*3'";
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
        {"bgra", shades, "-pix_fmt bgra", "bgra", false, "Data format = \"BGRA\""},
        {"rgba", shades, "-pix_fmt rgba", "bgra", false, "Data format = \"RGBA\""},
        {"abgr", shades, "-pix_fmt abgr", "bgra", false, "Data format = \"ABGR\""},
        {"bgr24", shades, "-pix_fmt bgr24", "bgr24", false, "Data format = \"24BG\""},
        {"rgb565be", shades, "-pix_fmt rgb565be", "bgr24", false, "Data format = \"B565\""},
        {"pal8", small, "-pix_fmt pal8", "bgr24", false, "3 frames indexed"},
        {"gray", small, "-pix_fmt gray", "bgr24", false, "3 frames indexed"},
        {"fragmented", small, "-pix_fmt rgb24 -movflags frag_keyframe+empty_moov", "bgr24", false, "3 frames indexed"},
        {"s16le-mono", video + sine + "-ac 1", one_second + "pcm_s16le", "bgr24", false,
         "\"sowt\", 48000 Hz, 1 channels of 16 bits", {}, "s16le", 2},
        {"s24be-stereo", video + sine + "-ac 2", one_second + "pcm_s24be", "bgr24", false,
         "\"in24\", 48000 Hz, 2 channels of 24 bits", {}, "s24le", 6},
        {"f32-stereo", video + sine + "-ac 2", one_second + "pcm_f32le", "bgr24", false,
         "\"fl32\", 48000 Hz, 2 channels of 32 bits", {}, "f32le", 8},
        {"u8-six", video + sine + "-ac 6", one_second + "pcm_u8", "bgr24", false,
         "\"raw \", 48000 Hz, 6 channels of 8 bits", {}, "u8", 6},
        {"s16be-mono", sine + video + "-map 1:v -map 0:a -ac 1", one_second + "pcm_s16be", "bgr24", false,
         "Track 2 (\"soun\")", {}, "s16le", 2},
        {"sound-late", video + "-itsoffset 0.2 " + sine + "-ac 1", one_second + "pcm_s16le", "bgr24", false,
         "Track 2 (\"soun\")", {}, "s16le", 2, 9600},
        {"cut-short", video + sine + "-ac 1", one_second + "pcm_s16le -movflags +faststart", "bgr24", false,
         "frames lay past the end of the movie file", {}, "s16le", 2, 0, 36000},
        {"cut-fragments", video + sine + "-ac 1", one_second + "pcm_s16le -movflags frag_keyframe+empty_moov", "bgr24",
         false, "ends inside a movie fragment", {}, "s16le", 2, 0, 60000},
        {"lpcm-96k", video + sine + "-ac 2 -ar 96000", one_second + "pcm_s24le", "bgr24", false,
         "\"lpcm\", 96000 Hz, 2 channels", {}, "s24le", 6},
        // Y'CbCr. ffmpeg reads the last Cr of a "yuv2" row of odd width as
        // unsigned, so that one is of even width, as "v308" must be.
        {"2vuy", small, "-pix_fmt uyvy422", "uyvy422", false, "Data format = \"2vuy\""},
        {"yuvs", video + sine + "-ac 1", "-t 1 -pix_fmt yuyv422 -c:a pcm_s16le", "yuyv422", false, "\"yuvs\"", {},
         "s16le", 2},
        {"yuv2", even, "-pix_fmt yuyv422 -tag:v yuv2", "yuyv422", false, "\"yuv2\""},
        {"v308", even, "-c:v v308", "yuv444p -c:v v308", false, "\"v308\""},
        {"v408", small + " -vf format=yuva444p,geq=lum='X*7':cb=128:cr='Y*50':a='X*6+Y*3'",
         "-c:v v408 -pix_fmt yuva444p", "yuva444p -c:v v408", false, "\"v408\""},
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
        const std::string heard =
            c.sound.empty() ? "" : std::string(std::size_t(c.late_samples * c.block), c.sound == "u8" ? '\x80' : '\0') +
                                       test::run("ffmpeg -v error -i " + movie + " -map 0:a -f " + c.sound + " -").out;
        ASSERT_TRUE(c.cut == 0 || ::truncate(movie.c_str(), c.cut) == 0) << c.name;
        // Cut short, from the pixel or sample frame where they part on: black or silence.
        auto same = [&c](const std::string& got, const std::string& whole, std::size_t unit = 3) {
            if (c.cut == 0) {
                return got == whole;
            }
            const auto apart = std::mismatch(got.begin(), got.end(), whole.begin(), whole.end()).first - got.begin();
            const std::size_t after = std::size_t(apart) / unit * unit + unit;
            return got.size() < whole.size() && got.find_first_not_of('\0', after) == std::string::npos;
        };
        // reelunpack's raw frames, read by ffmpeg told what --info says.
        auto raw_frames = [&c](const std::string& avi) {
            const std::string info = test::reelunpack("--info " + avi).out, told = "ffmpeg input options: ";
            const std::size_t options = info.find(told) + told.size();
            return test::run(test::quoted(test::reelunpack_bin()) + " " + avi + " - 2>/dev/null | ffmpeg -v error " +
                             info.substr(options, info.find('\n', options) - options) + " -pix_fmt " + c.pixels +
                             " -f rawvideo -").out;
        };
        for (const std::string& out : {plain, coded}) {
            const auto r = test::reelpack((out == plain ? "-u " : "") + movie + " " + out);
            ASSERT_EQ(r.status, c.cut == 0 ? 0 : 1) << c.name << ": " << r.out;
            EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.name << ": " << r.out;
            const std::string unpacked = raw_frames(out);
            EXPECT_TRUE(same(unpacked, reference)) << c.name << " " << out;
            if (c.sound.empty()) {
                continue;
            }
            const std::string avi_sound = test::run("ffmpeg -v error -i " + out + " -map 0:a -f " + c.sound + " -").out;
            EXPECT_TRUE(same(avi_sound, heard, std::size_t(c.block)))
                << c.name << " " << out << avi_sound.size() << " " << heard.size();
            // The sound lasts as long as the 25 frames, within one; cut short, as the frames left.
            const double rate = c.name == std::string("lpcm-96k") ? 96000 : 48000;
            if (c.cut != 0) {
                EXPECT_EQ(avi_sound.size(), unpacked.size() / (32 * 16 * 3) * 1920 * 2) << c.name;
            } else {
                EXPECT_NEAR(double(avi_sound.size()) / c.block / rate, 1.0, 0.04) << c.name;
            }
            EXPECT_NE(test::reelunpack("--info " + out).out.find("sound: "), std::string::npos) << c.name;
        }
        // ffmpeg reads the uncompressed file as the movie (32-bit ones as
        // bgra, alpha and all).
        EXPECT_TRUE(same(test::run("ffmpeg -v error -i " + plain + " -pix_fmt " + c.pixels + " -f rawvideo -").out,
                         reference)) << c.name;
        // reelunpack gives the -u file back byte for byte.
        EXPECT_EQ(test::reelunpack(plain + " " + name + "-back.avi").status, 0) << c.name;
        EXPECT_TRUE(test::read_file(name + "-back.avi") == test::read_file(plain)) << c.name;
        const std::string unpacked = name + "-unpacked.avi";
        ASSERT_EQ(test::reelunpack(coded + " " + unpacked).status, 0) << c.name;
        EXPECT_TRUE(test::read_file(unpacked) == test::read_file(plain)) << c.name;
        // And from a pipe, told nothing: the same file from reelunpack --avi.
        const std::string piped = test::quoted(test::reelunpack_bin()) + " --avi " + coded + " - | ffmpeg -v error -i - ";
        EXPECT_TRUE(same(test::run(piped + "-map 0:v -pix_fmt " + c.pixels + " -f rawvideo -").out, reference))
            << c.name;
        EXPECT_TRUE(c.sound.empty() || same(test::run(piped + "-map 0:a -f " + c.sound + " -").out, heard,
                                            std::size_t(c.block))) << c.name;
        if (!c.probe.empty()) {
            EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 " + plain).out,
                      c.probe + "\n");
        }
        const test::Bytes file = test::read_file(coded);
        std::string packets;
        for (const AviFrameRef& f : test::layout_of(file).frames) {
            packets += std::to_string(f.size) + "," + std::to_string(f.offset) + ",K_\n";
        }
        EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries packet=size,pos,flags -of csv=p=0 " +
                            coded).out, packets) << c.name;
        EXPECT_EQ(test::run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of csv=p=0 " +
                            coded).out, "TRVC\n");
    }
}

// Movies of 10- and 16-bit samples as ffmpeg writes them, at a width whose
// rows need padding and one whose rows do not: the -u file decodes as the
// movie does, reelunpack gives it back byte for byte, and gives it too from
// the compressed file; the raw frames of either, read with the options
// --info names, decode as the movie. So with sound on two threads, and for
// a movie cut short, whose -u file and compressed one hold the same frames,
// black where the movie holds none.
TEST(FfmpegInterop, DeepSamplesInBothModes)
{
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    struct Case {
        std::string code, options;
        std::string size = "100x6";
        std::string sound = {};    // a sound track's source, carried as 16-bit PCM
        std::string threads = {};  // REELPACK_THREADS, where set
        off_t cut = 0;             // bytes cut from the end of a movie whose index comes first
    };
    std::vector<Case> cases = {
        {"v210", "-c:v v210 -pix_fmt yuv422p10le"}, {"v410", "-c:v v410 -pix_fmt yuv444p10le"},
        {"r210", "-c:v r210 -pix_fmt gbrp10le"},    {"R10k", "-c:v r10k -pix_fmt gbrp10le"},
        {"AVrp", "-c:v avrp -pix_fmt gbrp10le"},    {"b48r", "-c:v rawvideo -pix_fmt rgb48be"},
        {"b64a", "-c:v rawvideo -pix_fmt rgba64be -tag:v b64a"}, {"b16g", "-c:v rawvideo -pix_fmt gray16be"},
    };
    for (std::size_t k = 0, layouts = cases.size(); k < layouts; ++k) {
        cases.push_back({cases[k].code, cases[k].options, "384x4"});
    }
    cases.push_back({"v210", cases[0].options, "100x6", "-f lavfi -i sine=f=440:r=48000 -t 0.12", "2"});
    cases.push_back({"v210", cases[0].options + " -movflags +faststart", "100x6", {}, {}, 3000});
    for (const Case& c : cases) {
        const std::size_t from = c.options.find("-pix_fmt");
        const std::string pixels = c.options.substr(from, c.options.find(" -", from + 1) - from);
        SCOPED_TRACE(c.code + " " + c.size + (c.sound.empty() ? "" : " sound") + (c.cut == 0 ? "" : " cut"));
        const std::string name =
            test::temp_path("ff-deep-" + c.code + "-" + c.size + c.threads + (c.cut != 0 ? "-cut" : ""));
        const std::string movie = name + ".mov", plain = name + "-u.avi", coded = name + ".avi";
        ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc2=s=" + c.size + ":r=25:d=0.12 " + c.sound + " " +
                            c.options + (c.sound.empty() ? "" : " -c:a pcm_s16le") + " " + movie).status, 0);
        // The frames' sizes and digests, decoded in the layout's pixel format.
        auto decoded = [&pixels](const std::string& input, const std::string& piped = "") {
            return test::run(piped + "ffmpeg -v error " + input + " -map 0:v " + pixels +
                             " -f framemd5 - | grep -v '^#' | cut -d, -f5-").out;
        };
        std::string reference = decoded("-i " + movie);
        ASSERT_FALSE(reference.empty());
        if (c.cut != 0) {
            ASSERT_EQ(::truncate(movie.c_str(), off_t(test::read_file(movie).size()) - c.cut), 0);
            reference = reference.substr(0, reference.find('\n') + 1);  // the one frame the file keeps whole
        }
        const std::string threads = c.threads.empty() ? "" : "REELPACK_THREADS=" + c.threads + " ";
        for (const std::string& out : {plain, coded}) {
            const auto r = test::run(threads + test::quoted(test::reelpack_bin()) + (out == plain ? " -u " : " ") +
                                     movie + " " + out);
            ASSERT_EQ(r.status, c.cut == 0 ? 0 : 1) << r.out;
            const std::string info = test::reelunpack("--info " + out).out, told = "ffmpeg input options: ";
            const std::size_t at = info.find(told) + told.size();
            EXPECT_EQ(decoded(info.substr(at, info.find('\n', at) - at),
                              test::quoted(test::reelunpack_bin()) + " " + out + " - 2>/dev/null | ")
                          .substr(0, reference.size()),
                      reference) << out;
            EXPECT_EQ(info.find("sound: ") != std::string::npos, !c.sound.empty()) << info;
        }
        EXPECT_EQ(decoded("-i " + plain).substr(0, reference.size()), reference);
        if (c.cut != 0) {
            // The frame the movie holds in part ends in black: Y' 64 and Cr 512.
            const std::size_t luma = 100 * 6 * 2, frame = 2 * luma;
            const std::string frames = test::run("ffmpeg -v error -i " + plain + " " + pixels + " -f rawvideo -").out;
            ASSERT_EQ(frames.size(), 2 * frame);
            EXPECT_EQ(frames.substr(frame + luma - 2, 2), std::string("\x40\x00", 2));
            EXPECT_EQ(frames.substr(2 * frame - 2), std::string("\x00\x02", 2));
        }
        for (const std::string& in : {plain, coded}) {
            EXPECT_EQ(test::run(threads + test::quoted(test::reelunpack_bin()) + " " + in + " " + name + "-back.avi")
                          .status, 0) << in;
            EXPECT_TRUE(test::read_file(name + "-back.avi") == test::read_file(plain)) << in;
        }
    }
}

// A deep file whose first frame is damaged: reelunpack says so and fails,
// the frame stands as the layout's black as ffmpeg shows it ("v210": Y' 64,
// Cb and Cr 512, not the green of zero samples), and the frames after it
// come back as the -u file holds them.
TEST(FfmpegInterop, ADamagedFirstDeepFrameStandsAsBlack)
{
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string name = test::temp_path("ff-deep-damaged"), movie = name + ".mov", plain = name + "-u.avi";
    const std::string coded = name + ".avi", damaged = name + "-damaged.avi", back = name + "-back.avi";
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc2=s=100x6:r=25:d=0.12 -c:v v210 -pix_fmt yuv422p10le " +
                        movie).status, 0);
    ASSERT_EQ(test::reelpack("-u " + movie + " " + plain).status, 0);
    ASSERT_EQ(test::reelpack(movie + " " + coded).status, 0);
    std::vector<unsigned char> bytes = test::read_file(coded);
    const AviLayout layout = test::layout_of(bytes);
    ASSERT_EQ(layout.frames.size(), 3u);
    bytes[layout.frames[0].offset] = 0xEE;  // a frame type no decoder knows
    test::write_file(damaged, bytes);
    const auto r = test::run(test::quoted(test::reelunpack_bin()) + " " + damaged + " " + back + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("frame 0 is damaged"), std::string::npos) << r.out;
    const auto frames = test::frames_of(test::read_file(back)), want = test::frames_of(test::read_file(plain));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(frames[1] == want[1] && frames[2] == want[2]);
    std::string black;
    for (int s = 0; s < 2 * 100 * 6; ++s) {  // the Y' plane, then the Cb and Cr planes, little-endian
        black += s < 100 * 6 ? std::string("\x40\x00", 2) : std::string("\x00\x02", 2);
    }
    const std::string shown = test::run("ffmpeg -v error -i " + back + " -frames:v 1 -pix_fmt yuv422p10le -f rawvideo -").out;
    EXPECT_EQ(shown, black);
}

// A compressed movie is refused with the command that makes one reelpack
// converts, which a shell runs as printed, also for a name it must be given
// in quotes.
TEST(FfmpegInterop, TheCommandOfferedForACompressedMovieMakesOneItConverts)
{
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string movie = test::temp_path("it's a clip.mov"), out = test::temp_path("clip.avi");
    const std::string copy = test::temp_path("it's a clip-uncompressed.mov");
    ::unlink(copy.c_str());
    ASSERT_EQ(test::run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x16:rate=25 -frames:v 3 -c:v mjpeg \"" + movie +
                        "\"").status, 0);
    const auto refused = test::reelpack("\"" + movie + "\" " + out);
    EXPECT_EQ(refused.status, 1);
    const std::size_t at = refused.out.find(": ffmpeg -i '");
    ASSERT_NE(at, std::string::npos) << refused.out;
    const std::string command = refused.out.substr(at + 2, refused.out.find('\n', at) - at - 2);
    ASSERT_EQ(test::run(command + " </dev/null 2>&1").status, 0) << command;
    const auto converted = test::reelpack("-u \"" + copy + "\" " + out);
    EXPECT_EQ(converted.status, 0) << converted.out;
    EXPECT_NE(converted.out.find("3 frames indexed"), std::string::npos) << converted.out;
}

}  // namespace
