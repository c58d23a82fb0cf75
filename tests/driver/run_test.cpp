// reelpack end to end on movies made by the test writer, one table of
// command lines: arguments, movie, the exact standard output (or its tail),
// exit status, whether the output is left, and its frames.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/avi_check.h"
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

// The frames as the AVI file holds them: bottom up, blue first.
std::vector<Bytes> avi_order(const MovieParams& p)
{
    std::vector<Bytes> frames = p.frames;
    for (Bytes& f : frames) {
        if (p.format == "raw ") {
            f = test::avi_rows(f, p.width, p.height);
        }
    }
    return frames;
}

void set_atom_size(Bytes& movie, const char* type, std::uint32_t size)
{
    const auto at = std::search(movie.begin(), movie.end(), type, type + 4) - movie.begin();
    for (int i = 0; i < 4; ++i) {
        movie[static_cast<std::size_t>(at - 4 + i)] = static_cast<unsigned char>(size >> (24 - 8 * i));
    }
}

struct Case {
    std::string name;
    std::string args;  // "{movie}" and "{out}" stand for the paths
    std::string out;   // the whole standard output, or its tail after "..."
    int status;
    bool output_left;
    MovieParams movie = movie_of(2, 2, 2);
    std::function<void(const std::string& path, Bytes& movie)> write = nullptr;  // instead of writing it as made
    std::vector<Bytes> frames = {};  // the frames of the output, when checked
    std::uint64_t output_size = 0;
    std::string unpacks_to = {};  // a case whose output reelunpack makes of this one's
};

// `text` with "{movie}" and "{out}" standing for the paths, "{stem}" for the
// movie's without its extension.
std::string with_paths(std::string text, const std::string& movie, const std::string& out)
{
    for (const auto& [key, value] : {std::pair{std::string("{movie}"), movie}, {std::string("{out}"), out},
                                     {std::string("{stem}"), movie.substr(0, movie.rfind('.'))}}) {
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) {
            text.replace(at, key.size(), value);
        }
    }
    return text;
}

void run_case(const Case& c)
{
    SCOPED_TRACE(c.name);
    const std::string movie = test::temp_path(c.name + ".mov");
    const std::string out = test::temp_path(c.name + ".avi");
    ::unlink(out.c_str());
    Bytes bytes = test::make_movie(c.movie);
    if (c.write) {
        c.write(movie, bytes);
    } else {
        test::write_file(movie, bytes);
    }
    const std::string args = with_paths(c.args, movie, out);
    // The movie is never harmed, whatever the run makes of it (the sparse
    // ones of gigabytes are left unread).
    struct stat st;
    ASSERT_EQ(::stat(movie.c_str(), &st), 0);
    const Bytes before = st.st_size < (1 << 28) ? test::read_file(movie) : Bytes();
    const auto r = test::reelpack(args);
    if (st.st_size < (1 << 28)) {
        EXPECT_TRUE(test::read_file(movie) == before);
    }
    ::unlink(movie.c_str());
    EXPECT_EQ(r.status, c.status) << r.out;
    std::string expected = with_paths(c.out, movie, out);
    if (expected.rfind("...", 0) == 0) {
        expected = expected.substr(3);
        ASSERT_GE(r.out.size(), expected.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - expected.size()), expected);
    } else {
        EXPECT_EQ(r.out, expected);
    }
    EXPECT_EQ(test::file_exists(out), c.output_left);
    if (!c.frames.empty()) {
        EXPECT_TRUE(test::frames_of(test::read_file(out)) == c.frames);
    }
    if (c.output_size != 0) {
        EXPECT_EQ(test::read_file(out).size(), c.output_size);
    }
    if (!c.unpacks_to.empty()) {
        const std::string unpacked = out + ".unpacked.avi";
        ASSERT_EQ(test::reelunpack(out + " " + unpacked).status, 0);
        EXPECT_TRUE(test::read_file(unpacked) == test::read_file(test::temp_path(c.unpacks_to + ".avi")));
    }
}

TEST(Cli, CommandLinesAndMovies)
{
    std::vector<Case> cases;
    for (const char* args : {"", "one", "a b c d", "-u only-one", "--Help", "-help"}) {
        cases.push_back({std::string("usage") + args, args, usage_text, 2, false});
    }
    cases.push_back({"help-extra", "--help x", "Unknown option: \"--help\"\n", 2, false});
    cases.push_back({"version", "--version", "reelpack " REELPACK_VERSION "\n", 0, false});
    cases.push_back({"version-extra", "--version x y", "Unknown option: \"--version\"\n", 2, false});
    cases.push_back({"unknown", "-x {movie} {out}", "Unknown option: \"-x\"\n", 2, false});
    cases.push_back({"lone-dash", "- {movie} {out}", "Unknown option: \"-\"\n", 2, false});
    cases.push_back({"no-input", "/nonexistent.mov {out}", "Unable to open the input file.\n", 1, false});
    cases.push_back({"folder-input", "-u /tmp {out}", "Unable to open the input file.\n", 1, false});
    cases.push_back({"self", "-u {movie} {movie}", "Output file must differ from the input file.\n", 1, false});
    cases.push_back({"self-dot", "-u {movie} " + test::temp_dir() + "/./self-dot.mov",
                     "Output file must differ from the input file.\n", 1, false});
    cases.push_back({"self-link", "-u {movie} {out}", "Output file must differ from the input file.\n", 1, false,
                     movie_of(2, 2, 2), [](const std::string& path, Bytes& b) {
                         test::write_file(path, b);
                         ASSERT_EQ(::symlink(path.c_str(), test::temp_path("self-link.avi").c_str()), 0);
                     }});

    // Raw and WRLE movies of chunks of several frames with gaps between them,
    // one sample size for all or a table of them; the option's other spellings.
    for (const std::string format : {"raw ", "WRLE"}) {
        for (const std::string option : {"-u", "-U", "-uncompressed"}) {
            MovieParams p = movie_of(5, 3, 4, format);
            p.chunk_frames = {2, 1, 1};
            p.gaps = {0, 17, 3};
            p.sample_sizes.assign(format == "WRLE" ? 4 : 0, 45);  // a size for each frame
            cases.push_back({"plain" + option + format.substr(0, 3), option + " {movie} {out}",
                             indexing_text(p, 2, 3, 4) + writing_text("{out}"), 0, true, p, nullptr, avi_order(p)});
        }
    }
    // The movie atom after the frames, and every later tag planted ahead of
    // "mvhd" and in a "free" atom after it: atom types inside other atoms'
    // data are only data.
    MovieParams layout = movie_of(3, 2, 30);
    layout.moov_first = false;
    layout.chunk_frames = {12, 12, 6};
    layout.leading_free = "stcostscsttsstsdmdhdtkhd";
    layout.decoy = "tkhd" + std::string(76, 'x') + std::string("\0\x07\0\0\0\x05\0\0", 8);
    cases.push_back({"decoys", "-u {movie} {out}", indexing_text(layout, 2, 3, 30) + writing_text("{out}"), 0, true,
                     layout, nullptr, avi_order(layout)});
    // Half of the last frame missing: written black, with a warning.
    MovieParams cut = movie_of(4, 2, 3, "WRLE");
    std::vector<Bytes> cut_frames = cut.frames;
    std::fill(cut_frames[2].begin() + 12, cut_frames[2].end(), 0);
    cases.push_back({"truncated", "-u {movie} {out}",
                     indexing_text(cut, 1, 3, 3) + writing_text("{out}") +
                         "Warning: 1 frames were incomplete in the movie; their missing bytes were written as black\n",
                     1, true, cut, [](const std::string& path, Bytes& b) {
                         b.resize(b.size() - 12);
                         test::write_file(path, b);
                     },
                     cut_frames});
    // Movies whose file ends before their tables do, in both modes: the
    // frames that start inside it (the last cut into black past its end) up
    // to the first that lies wholly past it, a warning and exit status 1;
    // the coded file unpacks to the uncompressed one.
    struct Cut {
        std::string name;
        MovieParams movie;
        std::function<std::size_t(const Bytes&)> keep;  // how much of the movie the file holds
        std::size_t frames, black;                      // frames converted; bytes of the last past the end
        std::string warnings;
    };
    const auto into_second_fragment = [](const Bytes& b, std::size_t bytes) {
        const std::string moof = "moof";
        const auto first = std::search(b.begin(), b.end(), moof.begin(), moof.end());
        return std::size_t(std::search(first + 1, b.end(), moof.begin(), moof.end()) - b.begin()) - 4 + bytes;
    };
    const auto lost = [](long long frames) {
        return "Warning: " + std::to_string(frames) + " frames lay past the end of the movie file; the AVI file "
                                                      "ends before them\n";
    };
    const std::string black = "Warning: 1 frames were incomplete in the movie; their missing bytes were written as black\n";
    MovieParams fragments = movie_of(2, 2, 4);
    fragments.fragmented = true;
    fragments.chunk_frames = {2, 2};
    MovieParams moov_last = movie_of(2, 2, 3);  // two chunks more: past the end, then inside the file
    moov_last.moov_first = false;
    moov_last.co64 = true;
    moov_last.extra_chunk_offsets = {5000000, 20};
    MovieParams vast = movie_of(2, 2, 2);  // 2^23 frames in the last chunk: one there, the rest past the end
    vast.override_stsc = true;
    vast.stsc_words = {1, 1, 1, 2, 1u << 23, 1};
    const auto whole = [](const Bytes& b) { return b.size(); };
    const std::vector<Cut> cuts = {
        {"cut-frames", movie_of(3, 2, 6, "WRLE"), [](const Bytes& b) { return b.size() - 43; }, 4, 7, lost(2) + black},
        {"cut-moov-last", moov_last, whole, 3, 0, lost(2)},
        {"cut-fragment", fragments, [](const Bytes& b) { return b.size() - 17; }, 3, 5, lost(1) + black},
        {"cut-moof", fragments, [&](const Bytes& b) { return into_second_fragment(b, 64); }, 2, 0, lost(2)},
        {"cut-moof-count", fragments, [&](const Bytes& b) { return into_second_fragment(b, 40); }, 2, 0,
         "Warning: the movie file ends inside a movie fragment; the AVI file ends where it does\n"},
        {"cut-2^23", vast, whole, 2, 0, lost((1 << 23) - 1)},
    };
    for (const Cut& c : cuts) {
        MovieParams shown = c.movie;
        shown.frames.resize(c.frames);
        std::fill(shown.frames.back().end() - long(c.black), shown.frames.back().end(), 0);
        const std::string out = "..." + std::to_string(c.frames) + " frames indexed\n" + writing_text("{out}") + c.warnings;
        const auto write = [keep = c.keep](const std::string& path, Bytes& b) {
            b.resize(keep(b));
            test::write_file(path, b);
        };
        cases.push_back({c.name + "-u", "-u {movie} {out}", out, 1, true, c.movie, write, avi_order(shown)});
        cases.push_back({c.name, "{movie} {out}", out, 1, true, c.movie, write, {}, 0, c.name + "-u"});
    }
    // "yuv2" rows of 4 bytes padded to 6, the last frame cut short: the -u
    // frames' rows packed, their chroma unsigned, the missing bytes black.
    MovieParams yuv2 = movie_of(2, 2, 2, "yuv2");
    yuv2.sample_size = 12;
    std::vector<Bytes> yuv2_frames(2);
    for (std::size_t k = 0; k < 16; ++k) {
        yuv2_frames[k / 8].push_back(yuv2.frames[k / 8][k % 8 / 4 * 6 + k % 4] ^ (k % 2 == 1 ? 0x80 : 0));
    }
    std::copy_n("\x10\x80\x10\x80", 4, yuv2_frames[1].begin() + 4);
    cases.push_back({"yuv2-cut", "-u {movie} {out}", indexing_text(yuv2, 1, 2, 2) + writing_text("{out}") + black, 1,
                     true, yuv2, [](const std::string& path, Bytes& b) {
                         b.resize(b.size() - 6);
                         test::write_file(path, b);
                     },
                     yuv2_frames});
    // "2vuy" of an odd width, the Y' after each row's last pixel not its
    // own: the coded file keeps the picture and unpacks with that Y'
    // repeated, as the -u file of such a movie holds it.
    MovieParams odd = movie_of(3, 2, 2, "2vuy"), repeated;
    odd.sample_size = 16;
    for (Bytes& frame : odd.frames) {
        frame.resize(16);
        frame[7] = frame[15] = std::uint8_t(frame[5] + 1);
    }
    repeated = odd;
    for (Bytes& frame : repeated.frames) {
        frame[7] = frame[5];
        frame[15] = frame[13];
    }
    cases.push_back({"2vuy-repeated-u", "-u {movie} {out}", "...Finished writing file {out}\n", 0, true, repeated});
    cases.push_back({"2vuy-odd", "{movie} {out}", "...Finished writing file {out}\n", 0, true, odd, nullptr, {}, 0,
                     "2vuy-repeated-u"});
    // Records of no samples index nothing, whatever the chunks say; a movie
    // of no frames gives the empty AVI file.
    MovieParams none_per_chunk = movie_of(2, 2, 2);
    none_per_chunk.override_stsc = true;
    none_per_chunk.stsc_words = {1, 0, 1};
    cases.push_back({"zero-samples", "-u {movie} {out}", indexing_text(none_per_chunk, 1, 2, 0) + writing_text("{out}"),
                     0, true, none_per_chunk, nullptr, {}, 9216});
    cases.push_back({"no-frames", "{movie} {out}", indexing_text(movie_of(2, 2, 0), 0, 0, 0) + writing_text("{out}"), 0,
                     true, movie_of(2, 2, 0), nullptr, {}, 9216});
    // 16384 x 16384 fits the converter's sizes, but its worst coded frame
    // would not fit a 32-bit chunk.
    cases.push_back({"vast", "{movie} {out}",
                     indexing_text(movie_of(16384, 16384, 0), 0, 0, 0) +
                         "Unable to prepare the compressor for 16384x16384 frames: a coded frame could take more bytes "
                         "than an AVI chunk can hold\n",
                     1, false, movie_of(16384, 16384, 0)});
    cases.push_back({"vast-u", "-u {movie} {out}", "...Finished writing file {out}\n", 0, true,
                     movie_of(16384, 16384, 0), nullptr, {}, 9216});
    // A sparse movie of over 4 GiB: chunk offsets above 2^31 are unsigned,
    // and a chunk's second frame lies at 4 GiB.
    MovieParams far = movie_of(2, 2, 1, "WRLE");
    far.extra_chunk_offsets = {0xC0000000u, 0xFFFFFFF4u};
    far.override_stsc = true;
    far.stsc_words = {1, 1, 1, 2, 2, 1};
    std::vector<Bytes> far_frames = far.frames;
    for (unsigned k = 77; k < 81; ++k) {
        far_frames.push_back(test::pattern_frame(2, 2, k));
    }
    cases.push_back({"far", "-u {movie} {out}", "...Finished writing file {out}\n", 0, true, far,
                     [far_frames](const std::string& path, Bytes& b) {
                         test::write_file(path, b);
                         std::FILE* f = std::fopen(path.c_str(), "r+b");
                         const std::uint64_t at[] = {0xC0000000u, 0xC000000Cu, 0xFFFFFFF4u, 0x100000000u};
                         for (int i = 0; i < 4; ++i) {
                             fseeko(f, static_cast<off_t>(at[i]), SEEK_SET);
                             std::fwrite(far_frames[i + 1].data(), 1, 12, f);
                         }
                         std::fclose(f);
                     },
                     far_frames});
    // The movie atom after 5 GiB of nothing in a 64-bit "mdat", with 64-bit
    // chunk offsets, in both modes.
    MovieParams past = movie_of(4, 3, 3, "WRLE");
    past.moov_first = false;
    past.co64 = true;
    past.hole = std::uint64_t(5) << 30;
    for (const std::string mode : {"-u ", ""}) {
        cases.push_back({"past-4g" + mode.substr(0, 2), mode + "{movie} {out}",
                         indexing_text(past, 1, 3, 3) + writing_text("{out}"), 0, true, past,
                         [&past](const std::string& path, Bytes&) {
                             std::size_t hole_at = 0;
                             const Bytes b = test::make_movie(past, &hole_at);
                             test::write_file(path, Bytes(b.begin(), b.begin() + long(hole_at)));
                             ASSERT_EQ(::truncate(path.c_str(), off_t(hole_at + past.hole)), 0);
                             std::FILE* f = std::fopen(path.c_str(), "ab");
                             ASSERT_NE(f, nullptr);
                             std::fwrite(b.data() + hole_at, 1, b.size() - hole_at, f);
                             std::fclose(f);
                         },
                         mode.empty() ? std::vector<Bytes>{} : past.frames});
    }
    cases.back().unpacks_to = "past-4g-u";
    // Outputs it cannot write, and one stored 1920 x 1080 frame listed 45,000
    // times: more than 256 RIFFs of up to 1 GiB.
    MovieParams endless = movie_of(1920, 1080, 1, "WRLE");
    endless.chunk_order.assign(45000, 0);
    cases.push_back({"endless", "-u {movie} {out}",
                     indexing_text(endless, 1, 45000, 45000) + "The output file {out} would need more than 256 RIFF "
                                                               "lists of up to 1 GiB, more than its index can point to\n",
                     1, false, endless});
    cases.push_back({"no-folder", "-u {movie} /nonexistent/out.avi",
                     indexing_text(movie_of(2, 2, 2), 1, 2, 2) + "Unable to open output file /nonexistent/out.avi\n", 1,
                     false});
    for (const std::string mode : {"-u ", ""}) {
        cases.push_back({"full" + mode.substr(0, 2), mode + "{movie} /dev/full",
                         "...Unable to write output file /dev/full\n", 1, false, movie_of(8, 8, 3)});
    }

    // Damaged and unsupported movies, refused in both modes before anything
    // is written.
    const std::string too_short = " atom is too short for what it says it holds.\n";
    std::vector<Case> hostile;
    auto add = [&](const std::string& name, const std::string& tail,
                   std::function<void(MovieParams&)> change = nullptr, const char* atom = nullptr,
                   std::uint32_t size = 0) {
        MovieParams p = movie_of(2, 2, 2);
        if (change) {
            change(p);
        }
        std::function<void(const std::string&, Bytes&)> write = nullptr;
        if (atom != nullptr) {
            write = [atom, size](const std::string& path, Bytes& b) {
                set_atom_size(b, atom, size);
                test::write_file(path, b);
            };
        }
        hostile.push_back({name, "", "..." + tail, 1, false, p, write});
    };
    add("stco-count", "The \"stco\"" + too_short, [](MovieParams& p) { p.stco_count = 0xFFFFFFFFu; });
    add("stsc-count", "The \"stsc\"" + too_short, [](MovieParams& p) { p.stsc_count = 0xFFFFFFFFu; });
    add("elst-count", "The \"elst\"" + too_short, [](MovieParams& p) { p.elst_count = 0xFFFFFFFFu; });
    add("stsc-samples", "The movie describes 8589934590 frames, more than an AVI file can hold (2147483647).\n",
        [](MovieParams& p) {
            p.override_stsc = true;
            p.stsc_words = {1, 0xFFFFFFFFu, 1};
        });
    add("trun-count", "The movie describes 8589934590 frames, more than an AVI file can hold (2147483647).\n",
        [](MovieParams& p) {
            p.fragmented = true;
            p.trun_count = 0xFFFFFFFFu;
        });
    add("moov-past-end", "The \"moov\" atom runs past the end of the movie file.\n", nullptr, "moov", 0x7FFFFFF0u);
    add("trak-past-moov", "The \"trak\" atom is larger than the \"moov\" atom that holds it.\n", nullptr, "trak",
        0x10000u);
    add("size-below-header", "The \"stbl\" atom has a size of 4 bytes, less than its header.\n", nullptr, "stbl", 4);
    // A 64-bit size of 2^64 - 1: size 1, then the eight bytes that follow.
    add("size-2^64-1", "The \"free\" atom is larger than the \"moov\" atom that holds it.\n",
        [](MovieParams& p) { p.decoy = std::string(12, '\xFF'); }, "free", 1);
    add("depth-0", "Unsupported pixel depth 0 for data format \"raw \"\n", [](MovieParams& p) { p.depth = 0; });
    add("depth-8-no-table", "Unsupported pixel depth 8 without a colour table in the movie\n",
        [](MovieParams& p) { p.depth = 8; });
    add("sample-size", "The movie's frames of 13 bytes fit no 2x2 picture of depth 24\n",
        [](MovieParams& p) { p.sample_size = 13; });
    add("stsz-count", "The \"stsz\" atom lists 1 sample sizes for 2 frames.\n",
        [](MovieParams& p) { p.sample_sizes = {12}; });
    add("no-video", "The movie has no video track.\n", [](MovieParams& p) { p.handler = "soun"; });
    add("width-0", "Unsupported picture size 0x2\n", [](MovieParams& p) { p.width = 0; });
    add("huge", "Unsupported picture size 65535x65535\n", [](MovieParams& p) { p = movie_of(65535, 65535, 0); });
    // Video it does not read: compressed, with the ffmpeg command that makes
    // a movie it reads; a layout it does not read yet; neither.
    const std::string refused = "Unsupported data format, please select \"BMP\" or \"none\" as the video compression "
                                "when saving a .mov file\nData format ";
    const std::vector<std::pair<std::string, std::string>> unread = {
        {"avc1", "\"avc1\" is compressed video, which reelpack does not read; ffmpeg makes an uncompressed movie of it: "
                 "ffmpeg -i {movie} -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le {stem}-uncompressed.mov\n"},
        {"L565", "\"L565\" is uncompressed video in a layout that reelpack does not read yet.\n"},
        {"BGR ", "\"BGR \" is not a video format that reelpack knows.\n"},
    };
    for (const auto& [format, text] : unread) {
        add("format-" + format.substr(0, 3), "Data format = \"" + format + "\"\n" + refused + text,
            [format = format](MovieParams& p) { p.format = format; });
    }
    add("empty", "Unable to find tag \"mvhd\"\n");
    hostile.back().out = "Unable to find tag \"mvhd\"\n";
    hostile.back().write = [](const std::string& path, Bytes&) { test::write_file(path, {}); };
    add("cut-in-tkhd", "The \"moov\" atom runs past the end of the movie file.\n");
    hostile.back().out = hostile.back().out.substr(3);
    hostile.back().write = [](const std::string& path, Bytes& b) {
        const std::string tkhd = "tkhd";
        b.resize(static_cast<std::size_t>(std::search(b.begin(), b.end(), tkhd.begin(), tkhd.end()) - b.begin()) + 40);
        test::write_file(path, b);
    };
    for (Case& c : hostile) {
        for (const std::string mode : {"-u ", ""}) {
            cases.push_back(c);
            cases.back().name += mode.substr(0, 2);
            cases.back().args = mode + "{movie} {out}";
        }
    }
    for (const Case& c : cases) {
        run_case(c);
    }
    const auto help = test::reelpack("--help");  // the usage, then every topic
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, usage_text.size()), usage_text);
    for (const char* topic : {"\n  -u ", "--version", "REELPACK_THREADS", "Exit status"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
}

}  // namespace
