#include "quicktime/movie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/mov_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Offsets = std::vector<std::uint64_t>;

Offsets offsets_of(const FrameTable& table, FrameClock clock, std::uint64_t& clock_frames)
{
    Offsets offsets;
    FrameCursor cursor{table};
    for (std::int32_t i = 0; i < table.total_frames; ++i) {
        offsets.push_back(cursor.next());
        clock_frames += clock.frames_for(cursor.duration());
    }
    return offsets;
}

struct Indexed {
    bool ok = false;
    std::string report;
    MovieInfo info;
    Offsets offsets;
    std::uint64_t clock_frames = 0;  // the AVI frames that FrameClock gives the frames
};

Indexed index_bytes(const Bytes& bytes)
{
    Indexed result;
    MovieSource source;
    source.bytes = bytes.data();
    source.file_size = bytes.size();
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* report = ::open_memstream(&text, &length);
    FrameTable table;
    const Failure failure = index_movie(source, result.info, table, report);
    result.ok = !failure.failed();
    result.offsets = offsets_of(table, FrameClock{result.info.frame_period}, result.clock_frames);
    std::fclose(report);
    result.report.assign(text, length);
    result.report += result.ok ? "" : failure_text(failure) + "\n";
    std::free(text);
    return result;
}

// Which stored frames each layout of the same six frames shows, by their
// place in storage order.
TEST(MovieStructure, TheFramesAPlayerShows)
{
    struct Case {
        const char* name;
        std::function<void(test::MovieParams&)> layout;
        std::vector<int> shown;
        test::MovieParams params = test::pattern_movie(2, 2, 6);
    };
    const std::vector<int> all = {0, 1, 2, 3, 4, 5};
    std::vector<Case> cases = {
        {"sound-first", [](test::MovieParams& p) { p.sound_tracks_before = 2; p.handler = "vide"; }, all},
        {"fragments", [](test::MovieParams& p) { p.fragmented = true; p.chunk_frames = {2, 3, 1}; }, all},
        // Media times count in units of 24 (the sample duration), durations
        // in the movie's 600: an edit of 48 shows two frames.
        {"trimmed", [](test::MovieParams& p) { p.edits = {48, 48, 0x10000}; }, {2, 3}},
        {"empty-then-two-edits",
         [](test::MovieParams& p) { p.edits = {100, -1, 0x10000, 0, 96, 0x10000, 30, 0, 0x10000}; }, {4, 5, 0, 1}},
        {"mid-frame-start", [](test::MovieParams& p) { p.edits = {30, 30, 0x10000}; }, {1, 2}},
        {"whole", [](test::MovieParams& p) { p.edits = {144, 0, 0x10000}; }, all},
    };
    // Fragments whose video follows another track's samples, its frames
    // placed in each of the ways a track fragment can place them.
    for (const char* base : {"moof", "mdat", "frames", "after"}) {
        cases.push_back({base, [base](test::MovieParams& p) {
                             p.fragmented = true;
                             p.chunk_frames = {2, 3, 1};
                             p.other_fragment_bytes = 5;
                             p.video_base = base;
                         },
                         all});
    }
    for (Case& c : cases) {
        c.layout(c.params);
    }
    for (const Case& c : cases) {
        const Bytes movie = test::make_movie(c.params);
        const Indexed indexed = index_bytes(movie);
        ASSERT_TRUE(indexed.ok) << c.name << ": " << indexed.report;
        ASSERT_EQ(indexed.offsets.size(), c.shown.size()) << c.name;
        for (std::size_t i = 0; i < c.shown.size(); ++i) {
            const Bytes& expected = c.params.frames[static_cast<std::size_t>(c.shown[i])];
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), movie.begin() + static_cast<std::ptrdiff_t>(indexed.offsets[i])))
                << c.name << " frame " << i;
        }
    }
    const Indexed sound = index_bytes(test::make_movie(cases[0].params));
    EXPECT_NE(sound.report.find("Track 1 (\"soun\") is not carried into the AVI file\n"
                                "Track 2 (\"soun\") is not carried into the AVI file\n6 frames indexed\n"),
              std::string::npos)
        << sound.report;
}

// Every frame at its time: the AVI period is the common divisor of the
// durations, or the most common duration where that would take more than
// eight AVI frames a movie frame.
TEST(MovieStructure, FramePeriods)
{
    struct Case {
        std::vector<std::uint32_t> durations;  // stts (count, duration) pairs
        std::uint32_t period;
        std::int64_t avi_frames;
    };
    const std::vector<Case> cases = {
        {{6, 24}, 24, 6},
        {{1, 25, 5, 1}, 1, 30},      // a frame held for a second, then five
        {{2, 40, 4, 60}, 20, 16},
        {{1, 7, 5, 100}, 100, 5},    // the common divisor would make 507 frames
        {{1, 46, 5, 4}, 2, 33},      // 33 frames for 6: within eight a frame
        {{3, 0, 3, 24}, 24, 3},      // frames of no duration are not shown
    };
    for (const Case& c : cases) {
        test::MovieParams p = test::pattern_movie(2, 2, 6);
        p.durations = c.durations;
        const Indexed indexed = index_bytes(test::make_movie(p));
        ASSERT_TRUE(indexed.ok) << indexed.report;
        EXPECT_EQ(indexed.info.frame_period, c.period) << c.durations[1];
        EXPECT_EQ(indexed.info.avi_frames, c.avi_frames) << c.durations[1];
        EXPECT_EQ(indexed.clock_frames, std::uint64_t(c.avi_frames)) << c.durations[1];
    }
}

// The sound a movie's tables and edits place from the first frame on, read
// back from its pieces: sample values of a chunk of 960 samples (1 to 960)
// listed twice, at 8,000 a second beside six frames of 1/25 s; sample
// frames past the end of the file are silence, and a video cut short by it
// ends the sound.
TEST(MovieStructure, SoundInStepWithTheFrames)
{
    auto join = [](std::vector<std::vector<int>> parts) {  // {from, to} a chunk's samples, {n, 0}: n silent
        std::vector<int> all;
        for (const auto& part : parts) {
            for (int i = part[0]; i < part[1]; ++i) {
                all.push_back(i + 1);
            }
            all.resize(all.size() + std::size_t(part[1] == 0 ? part[0] : 0));
        }
        return all;
    };
    const std::vector<int> silence = {800, 0}, whole = {0, 960};  // 0.1 s of silence, the whole chunk
    struct Case {
        const char* name;
        std::vector<std::int64_t> video_edits, sound_edits;
        bool last_missing;
        std::vector<int> heard;
        std::size_t cut = 0;  // bytes cut off the end of the movie, the sound chunk first
    };
    const std::vector<Case> cases = {
        {"as-stored", {}, {}, false, join({whole, whole})},
        {"sound-late", {}, {60, -1, 0x10000, 0, 0, 0x10000}, false, join({silence, whole, whole})},
        {"sound-cut", {}, {60, 480, 0x10000}, false, join({{480, 960}, {0, 320}})},
        {"video-late", {60, -1, 0x10000, 144, 0, 0x10000}, {}, false, join({{800, 960}, whole})},
        {"both-late", {60, -1, 0x10000, 144, 0, 0x10000}, {60, -1, 0x10000, 0, 0, 0x10000}, false, join({whole, whole})},
        {"cut-off", {}, {}, true, join({whole, {960, 0}})},
        {"video-cut", {}, {}, false, join({{1600, 0}}), 1920 + 18},  // five frames left, the last cut short
    };
    for (const Case& c : cases) {
        test::MovieParams p = test::pattern_movie(2, 2, 6);
        for (int i = 1; i <= 960; ++i) {
            p.sound_chunk.push_back(static_cast<unsigned char>(i >> 8));
            p.sound_chunk.push_back(static_cast<unsigned char>(i));
        }
        p.sound_chunks = 2;
        p.edits = c.video_edits;
        p.sound_edits = c.sound_edits;
        p.sound_last_missing = c.last_missing;
        Bytes movie = test::make_movie(p);
        movie.resize(movie.size() - c.cut);
        const Indexed indexed = index_bytes(movie);
        ASSERT_TRUE(indexed.ok) << c.name << ": " << indexed.report;
        EXPECT_EQ(indexed.info.frames_lost, c.cut == 0 ? 0 : 1) << c.name;
        const MovieSound& sound = indexed.info.sound;
        ASSERT_TRUE(sound.carried) << c.name << ": " << indexed.report;
        std::vector<int> heard;
        for (const SoundPiece& piece : sound.pieces) {
            for (std::uint64_t k = 0; k < piece.samples; ++k) {
                heard.push_back(piece.offset == silent_piece
                                    ? 0
                                    : (movie[piece.offset + 2 * k] << 8) | movie[piece.offset + 2 * k + 1]);
            }
        }
        EXPECT_EQ(heard, c.heard) << c.name;
        EXPECT_EQ(sound.samples, c.heard.size()) << c.name;
        const auto silent = static_cast<std::uint64_t>(std::count(c.heard.begin(), c.heard.end(), 0));
        EXPECT_EQ(sound.lost, c.last_missing || c.cut > 0 ? silent : 0u) << c.name;
        EXPECT_NE(indexed.report.find("Track 2 (\"soun\") is carried into the AVI file: \"twos\", 8000 Hz, 1 channels "
                                      "of 16 bits"),
                  std::string::npos)
            << indexed.report;
    }
}

// Stored samples as the AVI file holds them: little-endian, and 8-bit ones
// unsigned, which "raw " stores them as and "twos" and "sowt" do not.
TEST(MovieStructure, SoundSamplesAsTheAviHoldsThem)
{
    struct Case {
        const char* format;
        std::uint32_t bits;
        Bytes stored, avi;
    };
    const Bytes bytes = {0x00, 0x7F, 0x80, 0xFF, 0x12, 0x34};
    const Bytes flipped = {0x80, 0xFF, 0x00, 0x7F, 0x92, 0xB4};
    const std::vector<Case> cases = {
        {"raw ", 8, bytes, bytes},
        {"twos", 8, bytes, flipped},
        {"sowt", 8, bytes, flipped},
        {"twos", 16, bytes, {0x7F, 0x00, 0xFF, 0x80, 0x34, 0x12}},
        {"sowt", 16, bytes, bytes},
        {"in24", 24, bytes, {0x80, 0x7F, 0x00, 0x34, 0x12, 0xFF}},
    };
    for (const Case& c : cases) {
        test::MovieParams p = test::pattern_movie(2, 2, 6);
        p.sound_format = c.format;
        p.sound_bits = c.bits;
        p.sound_chunk = c.stored;
        const Bytes movie = test::make_movie(p);
        const Indexed indexed = index_bytes(movie);
        const MovieSound& sound = indexed.info.sound;
        ASSERT_TRUE(sound.carried && sound.pieces.size() == 1) << c.format << c.bits << ": " << indexed.report;
        const auto at = movie.begin() + static_cast<std::ptrdiff_t>(sound.pieces[0].offset);
        Bytes samples(at, at + static_cast<std::ptrdiff_t>(c.stored.size()));
        sound_to_avi(sound, samples.data(), samples.size());
        EXPECT_EQ(samples, c.avi) << c.format << c.bits;
    }
}

}  // namespace
