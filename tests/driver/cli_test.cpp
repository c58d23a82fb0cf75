// End-to-end runs of the built reelpack on movies made by the test writer:
// exact standard output, exit status and the bytes of the AVI file.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "driver/pixels.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;
using test::MovieParams;

const std::string usage_text =
    "Usage: reelpack [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nTarvic compressed avi.\n";

std::string indexing_text(const MovieParams& p, int records, int chunks, int frames)
{
    char text[1024];
    std::snprintf(text, sizeof text,
                  "Movie header found\nTrack header found\nWidth = %d\nHeight = %d\nMedia header found\n"
                  "Sample description found, number of entries = 1\nData format = \"%s\"\n"
                  "Sample to time table found\nFrame rate = %f\nSample to chunk table found\n"
                  "Number of entries = %d\nSample offset table found\nNumber of entries = %d\n%d frames indexed\n",
                  p.width, p.height, p.format.c_str(), double(p.time_scale) / double(p.sample_duration), records, chunks,
                  frames);
    return text;
}

std::string writing_text(const std::string& out)
{
    return "Writing " + out + ", this may take a while...\nFinished writing file " + out + "\n";
}

MovieParams movie_of(int width, int height, int frames, const std::string& format = "raw ")
{
    return test::pattern_movie(width, height, frames, format, 1);
}

std::string save_movie(const std::string& name, const MovieParams& p)
{
    const std::string path = test::temp_path(name);
    test::write_file(path, test::make_movie(p));
    return path;
}

Bytes avi_order(const MovieParams& p, const Bytes& frame)
{
    if (p.format != "raw ") {
        return frame;
    }
    Bytes out(frame.size());
    raw_to_BGR(frame.data(), out.data(), p.width, p.height);
    return out;
}

// The frames an uncompressed AVI file holds, checked against its index.
std::vector<Bytes> avi_frames(const Bytes& file)
{
    AviLayout layout;
    EXPECT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    EXPECT_TRUE(layout.has_index);
    std::vector<Bytes> frames;
    for (const AviFrameRef& f : layout.frames) {
        EXPECT_EQ(f.flags, 0x10u);
        frames.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(f.offset),
                            file.begin() + static_cast<std::ptrdiff_t>(f.offset + f.size));
    }
    return frames;
}

TEST(Cli, CommandLinesItCannotUse)
{
    for (const char* args : {"", "one", "a b c d", "-u only-one"}) {
        const auto r = test::reelpack(args);
        EXPECT_EQ(r.out, usage_text) << args;
        EXPECT_EQ(r.status, 2) << args;
    }
    const std::string out = test::temp_path("never.avi");
    const auto unknown = test::reelpack("-x movie.mov " + out);
    EXPECT_EQ(unknown.out, "Unknown option: \"-x\"\n");
    EXPECT_EQ(unknown.status, 2);
    const auto lone = test::reelpack("- movie.mov " + out);
    EXPECT_EQ(lone.out, "Unknown option: \"-\"\n");
    EXPECT_FALSE(test::file_exists(out));

    const auto missing = test::reelpack(test::temp_path("no-such.mov") + " " + out);
    EXPECT_EQ(missing.out, "Unable to open the input file.\n");
    EXPECT_EQ(missing.status, 1);
    const auto directory = test::reelpack("-u " + test::temp_dir() + " " + out);
    EXPECT_EQ(directory.out, "Unable to open the input file.\n");
    EXPECT_EQ(directory.status, 1);
    EXPECT_FALSE(test::file_exists(out));
}

TEST(Cli, HelpAndVersionAloneAndExactlySo)
{
    const auto help = test::reelpack("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, usage_text.size()), usage_text);
    for (const char* topic : {"\n  -u ", "--version", "REELPACK_THREADS", "Exit status"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
    const struct {
        const char* args;
        std::string out;
        int status;
    } cases[] = {
        {"--version", "reelpack " REELPACK_VERSION "\n", 0},
        {"--Help", usage_text, 2},
        {"-help", usage_text, 2},
        {"--help x", "Unknown option: \"--help\"\n", 2},
        {"--version x y", "Unknown option: \"--version\"\n", 2},
    };
    for (const auto& c : cases) {
        const auto r = test::reelpack(c.args);
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.status, c.status) << c.args;
    }
}

// The progress line of both tools: drawn on a terminal (a pseudo-terminal
// made by script), up to the last frame, and cleared before the closing
// lines; nothing on standard error in a pipe.
TEST(Cli, ProgressOnlyOnATerminal)
{
    if (!test::have_program("script")) {
        GTEST_SKIP() << "script (util-linux) is not installed";
    }
    const MovieParams p = movie_of(16, 8, 5);
    const std::string movie = save_movie("progress.mov", p);
    const std::string packed = test::temp_path("progress.avi");
    const std::string plain = test::temp_path("progress-u.avi");
    const std::string back = test::temp_path("progress-back.avi");
    const struct {
        std::string command;
        std::string line;     // the progress line at the end
        std::string closing;  // what follows it on standard output
    } cases[] = {
        {test::reelpack_bin() + " " + movie + " " + packed, "reelpack: frame 5 of 5 (100%)",
         "Finished writing file " + packed},
        {test::reelpack_bin() + " -u " + movie + " " + plain, "reelpack: frame 5 of 5 (100%)",
         "Finished writing file " + plain},
        {test::reelunpack_bin() + " " + packed + " " + back, "reelunpack: frame 5 of 5 (100%)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const auto piped = test::run(c.command + " 2>&1 >/dev/null");
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(piped.out, "");
        const auto shown = test::run("script -qec '" + c.command + "' /dev/null </dev/null");
        EXPECT_EQ(shown.status, 0);
        const std::size_t line = shown.out.rfind(c.line);
        ASSERT_NE(line, std::string::npos) << shown.out;
        EXPECT_EQ(shown.out.substr(line - 1, 1), "\r");
        const std::size_t cleared = shown.out.find("\r\033[K", line);
        ASSERT_NE(cleared, std::string::npos);
        EXPECT_EQ(shown.out.substr(cleared + 4, c.closing.size()), c.closing);
        EXPECT_EQ(shown.out.find("frame", cleared), std::string::npos);
    }
}

TEST(Cli, ConvertsRawAndWrleMoviesUncompressed)
{
    for (const std::string format : {"raw ", "WRLE"}) {
        MovieParams p = movie_of(5, 3, 4, format);
        p.chunk_frames = {2, 1, 1};
        p.gaps = {0, 17, 3};
        const std::string movie = save_movie("plain-" + format.substr(0, 3) + ".mov", p);
        const std::string out = test::temp_path("plain-" + format.substr(0, 3) + ".avi");
        const auto r = test::reelpack("-u " + movie + " " + out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, indexing_text(p, 2, 3, 4) + writing_text(out));
        const auto frames = avi_frames(test::read_file(out));
        ASSERT_EQ(frames.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(frames[i], avi_order(p, p.frames[i])) << format << " frame " << i;
        }
    }
}

TEST(Cli, OptionSpellingsAndTheIgnoredThirdName)
{
    const MovieParams p = movie_of(2, 2, 2);
    const std::string movie = save_movie("spelling.mov", p);
    const Bytes reference = [&] {
        const std::string out = test::temp_path("spelling-u.avi");
        EXPECT_EQ(test::reelpack("-u " + movie + " " + out).status, 0);
        return test::read_file(out);
    }();
    for (const char* option : {"-U", "-uncompressed"}) {
        const std::string out = test::temp_path(std::string("spelling") + option + ".avi");
        EXPECT_EQ(test::reelpack(std::string(option) + " " + movie + " " + out).status, 0);
        EXPECT_EQ(test::read_file(out), reference) << option;
    }
}

TEST(Cli, LayoutsAndDecoys)
{
    // The movie atom after the frame data, chunks of many frames, and every
    // later tag planted ahead of "mvhd": each search starts at the tag found
    // before it, so the planted ones are never seen.
    MovieParams p = movie_of(3, 2, 30);
    p.moov_first = false;
    p.chunk_frames = {12, 12, 6};
    p.leading_free = "stcostscsttsstsdmdhdtkhd";
    const std::string movie = save_movie("layout.mov", p);
    const std::string out = test::temp_path("layout.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, indexing_text(p, 2, 3, 30) + writing_text(out));
    const auto frames = avi_frames(test::read_file(out));
    ASSERT_EQ(frames.size(), 30u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(frames[i], avi_order(p, p.frames[i])) << i;
    }

    // Atom types inside other atoms' data are only data: four bytes "tkhd"
    // in a "free" atom after "mvhd" change nothing.
    MovieParams decoyed = movie_of(3, 2, 2);
    decoyed.decoy = "tkhd" + std::string(76, 'x') + std::string("\0\x07\0\0\0\x05\0\0", 8);
    const std::string decoy_movie = save_movie("decoy.mov", decoyed);
    const auto d = test::reelpack("-u " + decoy_movie + " " + out);
    EXPECT_EQ(d.status, 0) << d.out;
    EXPECT_EQ(d.out, indexing_text(decoyed, 1, 2, 2) + writing_text(out));
}

TEST(Cli, MoviesPastFourGibibytesWithTheMovieAtomAtTheEnd)
{
    // A sparse movie: 5 GiB of nothing in a 64-bit "mdat" before the frames,
    // 64-bit chunk offsets, and the movie atom after it all.
    MovieParams p = movie_of(4, 3, 3, "WRLE");
    p.moov_first = false;
    p.co64 = true;
    p.hole = std::uint64_t(5) << 30;
    std::size_t hole_at = 0;
    const Bytes bytes = test::make_movie(p, &hole_at);
    const std::string movie = test::temp_path("past-4g.mov");
    {
        std::FILE* f = std::fopen(movie.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, hole_at, f), hole_at);
        ASSERT_EQ(fseeko(f, static_cast<off_t>(p.hole), SEEK_CUR), 0);
        ASSERT_EQ(std::fwrite(bytes.data() + hole_at, 1, bytes.size() - hole_at, f), bytes.size() - hole_at);
        std::fclose(f);
    }
    const std::string plain = test::temp_path("past-4g-u.avi");
    const std::string coded = test::temp_path("past-4g.avi");
    const auto r = test::reelpack("-u " + movie + " " + plain);
    const auto c = test::reelpack(movie + " " + coded);
    ::unlink(movie.c_str());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, indexing_text(p, 1, 3, 3) + writing_text(plain));
    EXPECT_EQ(c.status, 0) << c.out;
    const auto frames = avi_frames(test::read_file(plain));
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i], p.frames[i]) << i;
    }
    const std::string unpacked = test::temp_path("past-4g-unpacked.avi");
    ASSERT_EQ(test::reelunpack(coded + " " + unpacked).status, 0);
    EXPECT_EQ(test::read_file(unpacked), test::read_file(plain));
}

TEST(Cli, IncompleteFramesAreWrittenBlackAndReported)
{
    MovieParams p = movie_of(4, 2, 3, "WRLE");
    p.moov_first = true;
    Bytes bytes = test::make_movie(p);
    bytes.resize(bytes.size() - 12);  // half of the last 24-byte frame is missing
    const std::string movie = test::temp_path("truncated.mov");
    test::write_file(movie, bytes);
    const std::string out = test::temp_path("truncated.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, indexing_text(p, 1, 3, 3) + writing_text(out) +
                         "Warning: 1 frames were incomplete in the movie; their missing bytes were written as black\n");
    const auto frames = avi_frames(test::read_file(out));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], p.frames[1]);
    Bytes partial = p.frames[2];
    std::fill(partial.begin() + 12, partial.end(), 0);
    EXPECT_EQ(frames[2], partial);

}

TEST(Cli, FramesBeyondTwoGibibytes)
{
    // A sparse movie of over 3 GiB: chunk offsets above 2^31 are unsigned,
    // and a chunk's later frames pass 4 GiB.
    MovieParams p = movie_of(2, 2, 1, "WRLE");
    const std::uint32_t far = 0xC0000000u;
    const std::uint64_t frame_bytes = 12;
    p.chunk_frames = {1};
    p.extra_chunk_offsets = {far, 0xFFFFFFF4u};
    p.override_stsc = true;
    p.stsc_words = {1, 1, 1, 2, 2, 1};  // the far chunks hold two frames each
    const std::string movie = save_movie("sparse.mov", p);
    const Bytes second = test::pattern_frame(2, 2, 77);
    const Bytes third = test::pattern_frame(2, 2, 78);
    const Bytes fourth = test::pattern_frame(2, 2, 79);
    const Bytes fifth = test::pattern_frame(2, 2, 80);
    {
        std::FILE* f = std::fopen(movie.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        auto put = [f](std::uint64_t at, const Bytes& b) {
            ASSERT_EQ(fseeko(f, static_cast<off_t>(at), SEEK_SET), 0);
            ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
        };
        put(far, second);
        put(far + frame_bytes, third);
        put(0xFFFFFFF4u, fourth);
        put(0xFFFFFFF4u + frame_bytes, fifth);  // at 4 GiB
        std::fclose(f);
    }
    const std::string out = test::temp_path("sparse.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    ::unlink(movie.c_str());
    EXPECT_EQ(r.status, 0) << r.out;
    const auto frames = avi_frames(test::read_file(out));
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], p.frames[0]);
    EXPECT_EQ(frames[1], second);
    EXPECT_EQ(frames[2], third);
    EXPECT_EQ(frames[3], fourth);
    EXPECT_EQ(frames[4], fifth);
}

TEST(Cli, NoFramesGivesAnEmptyAvi)
{
    // Records of no samples index nothing, whatever the chunks say.
    MovieParams none_per_chunk = movie_of(2, 2, 2);
    none_per_chunk.override_stsc = true;
    none_per_chunk.stsc_words = {1, 0, 1};
    const std::string zero_movie = save_movie("zero-samples.mov", none_per_chunk);
    const std::string zero_out = test::temp_path("zero-samples.avi");
    const auto z = test::reelpack("-u " + zero_movie + " " + zero_out);
    EXPECT_EQ(z.status, 0);
    EXPECT_EQ(z.out, indexing_text(none_per_chunk, 1, 2, 0) + writing_text(zero_out));
    EXPECT_EQ(test::read_file(zero_out).size(), 9216u);

    MovieParams p = movie_of(2, 2, 0);
    const std::string movie = save_movie("none.mov", p);
    const std::string out = test::temp_path("none.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, indexing_text(p, 0, 0, 0) + writing_text(out));
    EXPECT_EQ(test::read_file(out).size(), 9216u);
}

// Sets the 32-bit size of the first atom of `type` in a movie.
void set_atom_size(Bytes& movie, const char* type, std::uint32_t size)
{
    const auto at = std::search(movie.begin(), movie.end(), type, type + 4) - movie.begin();
    ASSERT_GE(at, 4);
    for (int i = 0; i < 4; ++i) {
        movie[static_cast<std::size_t>(at - 4 + i)] = static_cast<unsigned char>(size >> (24 - 8 * i));
    }
}

TEST(Cli, DamagedAndUnsupportedMoviesAreRefusedWithoutOutput)
{
    struct Hostile {
        const char* name;
        MovieParams params;
        std::string expected_tail;  // the end of the output
        const char* atom = nullptr; // an atom whose size is then set
        std::uint32_t size = 0;
    };
    std::vector<Hostile> cases;
    auto add = [&](const char* name, const std::string& tail) -> MovieParams& {
        cases.push_back({name, movie_of(2, 2, 2), tail});
        return cases.back().params;
    };
    const std::string too_short = " atom is too short for what it says it holds.\n";
    add("stco-count", "The \"stco\"" + too_short).stco_count = 0xFFFFFFFFu;
    add("stsc-count", "The \"stsc\"" + too_short).stsc_count = 0xFFFFFFFFu;
    add("elst-count", "The \"elst\"" + too_short).elst_count = 0xFFFFFFFFu;
    {
        MovieParams& p = add("stsc-samples", "The movie describes 8589934590 frames, more than an AVI file can hold (2147483647).\n");
        p.override_stsc = true;
        p.stsc_words = {1, 0xFFFFFFFFu, 1};
    }
    {
        MovieParams& p = add("trun-count", "The \"trun\" atom places 4294967295 frames past the end of the movie file.\n");
        p.fragmented = true;
        p.trun_count = 0xFFFFFFFFu;
    }
    add("offset-past-end", "The movie's frame 2 lies past the end of the movie file.\n").extra_chunk_offsets = {5000000};
    add("co64-past-end", "The movie's frame 2 lies past the end of the movie file.\n").co64 = true;
    cases.back().params.extra_chunk_offsets = {0xFFFFFFF0u};
    add("moov-past-end", "The \"moov\" atom runs past the end of the movie file.\n");
    cases.back().atom = "moov";
    cases.back().size = 0x7FFFFFF0u;
    add("trak-past-moov", "The \"trak\" atom is larger than the \"moov\" atom that holds it.\n");
    cases.back().atom = "trak";
    cases.back().size = 0x10000u;
    add("size-below-header", "The \"stbl\" atom has a size of 4 bytes, less than its header.\n");
    cases.back().atom = "stbl";
    cases.back().size = 4;
    // A 64-bit size of 2^64 - 1: size 1, then the eight bytes that follow.
    add("size-2^64-1", "The \"free\" atom is larger than the \"moov\" atom that holds it.\n").decoy = std::string(12, '\xFF');
    cases.back().atom = "free";
    cases.back().size = 1;
    add("depth-0", "Unsupported pixel depth 0 for data format \"raw \"\n").depth = 0;
    add("depth-8-no-table", "Unsupported pixel depth 8 without a colour table in the movie\n").depth = 8;
    add("sample-size", "The movie's frames of 13 bytes fit no 2x2 picture of depth 24\n").sample_size = 13;
    add("no-video", "The movie has no video track.\n").handler = "soun";
    add("width-0", "Unsupported picture size 0x2\n").width = 0;
    add("huge", "Unsupported picture size 65535x65535\n") = movie_of(65535, 65535, 0);
    add("format", "Data format = \"avc1\"\nUnsupported data format, please select \"BMP\" or \"none\" as the video "
                  "compression when saving a .mov file\n").format = "avc1";
    for (const Hostile& c : cases) {
        Bytes bytes = test::make_movie(c.params);
        if (c.atom != nullptr) {
            set_atom_size(bytes, c.atom, c.size);
        }
        const std::string movie = test::temp_path(std::string(c.name) + ".mov");
        test::write_file(movie, bytes);
        const std::string out = test::temp_path(std::string(c.name) + ".avi");
        for (const char* mode : {"-u ", ""}) {
            const auto r = test::reelpack(mode + movie + " " + out);
            EXPECT_EQ(r.status, 1) << c.name;
            ASSERT_GE(r.out.size(), c.expected_tail.size()) << c.name << ": " << r.out;
            EXPECT_EQ(r.out.substr(r.out.size() - c.expected_tail.size()), c.expected_tail) << c.name << ": " << r.out;
            EXPECT_FALSE(test::file_exists(out)) << c.name;
        }
    }

    // A file of 0 bytes, and one cut inside the track header.
    const std::string empty = test::temp_path("empty.mov");
    test::write_file(empty, {});
    EXPECT_EQ(test::reelpack("-u " + empty + " x.avi").out, "Unable to find tag \"mvhd\"\n");
    Bytes cut = test::make_movie(movie_of(2, 2, 1));
    const std::string tkhd = "tkhd";
    cut.resize(static_cast<std::size_t>(std::search(cut.begin(), cut.end(), tkhd.begin(), tkhd.end()) - cut.begin()) + 40);
    const std::string cut_path = test::temp_path("cut.mov");
    test::write_file(cut_path, cut);
    const auto r = test::reelpack("-u " + cut_path + " " + test::temp_path("cut.avi"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "The \"moov\" atom runs past the end of the movie file.\n");
}

TEST(Cli, PicturesTooLargeToCodeStillConvertUncompressed)
{
    // 16384 x 16384 fits the converter's sizes, but its worst coded frame
    // would not fit a 32-bit chunk.
    MovieParams p = movie_of(16384, 16384, 0);
    const std::string movie = save_movie("vast.mov", p);
    const std::string out = test::temp_path("vast.avi");
    const auto coded = test::reelpack(movie + " " + out);
    EXPECT_EQ(coded.status, 1);
    EXPECT_EQ(coded.out, indexing_text(p, 0, 0, 0) +
                             "Unable to prepare the compressor for 16384x16384 frames: a coded frame could take more bytes than an AVI chunk can hold\n");
    EXPECT_FALSE(test::file_exists(out));
    const auto plain = test::reelpack("-u " + movie + " " + out);
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(test::read_file(out).size(), 9216u);
}

TEST(Cli, NeverWritesOverTheInput)
{
    const MovieParams p = movie_of(2, 2, 2);
    const std::string movie = save_movie("self.mov", p);
    const Bytes before = test::read_file(movie);
    const std::string link = test::temp_path("self-link.avi");
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(movie.c_str(), link.c_str()), 0);
    for (const std::string& out : {movie, link, test::temp_dir() + "/./self.mov"}) {
        const auto r = test::reelpack("-u " + movie + " " + out);
        EXPECT_EQ(r.out, "Output file must differ from the input file.\n");
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(test::read_file(movie), before);
}

TEST(Cli, OutputFailuresAreReported)
{
    const MovieParams p = movie_of(8, 8, 3);
    const std::string movie = save_movie("outfail.mov", p);
    const std::string nowhere = test::temp_path("no-dir/out.avi");
    const auto r = test::reelpack("-u " + movie + " " + nowhere);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, indexing_text(p, 1, 3, 3) + "Unable to open output file " + nowhere + "\n");

    struct stat before;
    ASSERT_EQ(::stat("/dev/full", &before), 0);
    for (const char* mode : {"-u ", ""}) {
        const auto full = test::reelpack(mode + movie + " /dev/full");
        EXPECT_EQ(full.status, 1);
        const std::string tail = "Unable to write output file /dev/full\n";
        ASSERT_GE(full.out.size(), tail.size());
        EXPECT_EQ(full.out.substr(full.out.size() - tail.size()), tail);
    }
    struct stat after;
    ASSERT_EQ(::stat("/dev/full", &after), 0);  // the device is never removed
    EXPECT_TRUE(S_ISCHR(after.st_mode));
}

TEST(Cli, UncompressedFilesBeyondTheSuperIndexAreRefusedBeforeWriting)
{
    // One stored 1920 x 1080 frame listed 45,000 times: 280 GB of frames,
    // more than 256 RIFFs of up to 1 GiB.
    MovieParams p = movie_of(1920, 1080, 1, "WRLE");
    p.chunk_order.assign(45000, 0);
    ASSERT_GT(avi_riff_count(45000, 1920 * 1080 * 3), std::uint64_t(avi_max_riffs));
    const std::string movie = save_movie("endless.mov", p);
    const std::string out = test::temp_path("endless.avi");
    const auto r = test::reelpack("-u " + movie + " " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, indexing_text(p, 1, 45000, 45000) + "The output file " + out +
                         " would need more than 256 RIFF lists of up to 1 GiB, more than its index can point to\n");
    EXPECT_FALSE(test::file_exists(out));
}

}  // namespace
