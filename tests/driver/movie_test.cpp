#include "driver/movie.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/mov_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Offsets = std::vector<std::uint64_t>;

Offsets offsets_of(const FrameTable& table)
{
    Offsets offsets;
    FrameCursor cursor{table};
    for (std::int32_t i = 0; i < table.total_frames; ++i) {
        offsets.push_back(cursor.next());
    }
    return offsets;
}

TEST(FrameOffsets, FollowTheSampleTablesAndRefuseWhatAnAviCannotCount)
{
    const struct {
        std::vector<sample_to_chunk> records;
        std::vector<std::uint64_t> chunks;
        std::uint32_t frame_size;
        std::vector<std::uint32_t> sizes;
        Offsets offsets;
    } cases[] = {
        {{{1, 1, 1}}, {100, 200, 300}, 10, {}, {100, 200, 300}},
        {{{1, 2, 1}, {3, 1, 1}}, {1000, 2000, 3000, 4000}, 7, {}, {1000, 1007, 2000, 2007, 3000, 4000}},
        {{}, {1, 2}, 5, {}, {}},
        {{{1, 3, 1}}, {}, 5, {}, {}},
        // The first record applies from the first chunk whatever its number
        // says; chunks of no frames are passed over.
        {{{5, 2, 1}}, {10}, 1, {}, {10, 11}},
        {{{1, 2, 1}, {2, 0, 1}, {4, 1, 1}}, {10, 20, 30, 40}, 1, {}, {10, 11, 40}},
        // Offsets past 4 GiB, and a size per sample placing frames in a chunk.
        {{{1, 3, 1}}, {0x1F0000000u}, 0x10000000u, {}, {0x1F0000000u, 0x200000000u, 0x210000000u}},
        {{{1, 3, 1}}, {100}, 0, {4, 4, 9}, {100, 104, 108}},
    };
    for (const auto& c : cases) {
        FrameTable table;
        const SampleSizes sizes{c.sizes.empty() ? c.frame_size : 0, c.sizes.data(), std::uint32_t(c.sizes.size())};
        ASSERT_EQ(calc_frame_offsets(c.records.data(), std::uint32_t(c.records.size()), c.chunks.data(),
                                     std::uint32_t(c.chunks.size()), sizes, SampleTimes{}, table),
                  IndexResult::ok);
        EXPECT_EQ(offsets_of(table), c.offsets);
    }
    // Room is taken by runs, not by frames.
    const sample_to_chunk many = {1, 2000000000u, 1};
    const std::uint64_t chunks[2] = {0, 0};
    FrameTable table;
    ASSERT_EQ(calc_frame_offsets(&many, 1, chunks, 1, SampleSizes{3}, SampleTimes{}, table), IndexResult::ok);
    EXPECT_EQ(table.total_frames, 2000000000);
    EXPECT_EQ(table.runs.size(), 1u);
    const sample_to_chunk half = {1, 0x40000000u, 1};
    FrameTable refused;
    EXPECT_EQ(calc_frame_offsets(&half, 1, chunks, 2, SampleSizes{3}, SampleTimes{}, refused),
              IndexResult::too_many_frames);
    const std::uint32_t sizes[2] = {3, 3};
    EXPECT_EQ(calc_frame_offsets(&many, 1, chunks, 1, SampleSizes{0, sizes, 2}, SampleTimes{}, refused),
              IndexResult::too_few_sizes);
    EXPECT_EQ(refused.total_frames, 0);
}

struct Indexed {
    bool ok = false;
    std::string report;
    MovieInfo info;
    Offsets offsets;
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
    result.ok = index_movie(source, result.info, table, report);
    result.offsets = offsets_of(table);
    std::fclose(report);
    result.report.assign(text, length);
    std::free(text);
    return result;
}

test::MovieParams frames_of(int count) { return test::pattern_movie(2, 2, count); }

// Which stored frames each layout of the same six frames shows, by their
// place in storage order.
TEST(MovieStructure, TheFramesAPlayerShows)
{
    struct Case {
        const char* name;
        std::function<void(test::MovieParams&)> layout;
        std::vector<int> shown;
        test::MovieParams params = frames_of(6);
    };
    const std::vector<int> all = {0, 1, 2, 3, 4, 5};
    std::vector<Case> cases = {
        {"moov-last", [](test::MovieParams& p) { p.moov_first = false; }, all},
        {"sound-first", [](test::MovieParams& p) { p.sound_tracks_before = 2; p.handler = "vide"; }, all},
        {"co64", [](test::MovieParams& p) { p.co64 = true; }, all},
        {"fragments", [](test::MovieParams& p) { p.fragmented = true; p.chunk_frames = {2, 3, 1}; }, all},
        // Media times count in units of 24 (the sample duration), durations
        // in the movie's 600: an edit of 48 shows two frames.
        {"trimmed", [](test::MovieParams& p) { p.edits = {48, 48, 0x10000}; }, {2, 3}},
        {"empty-then-two-edits",
         [](test::MovieParams& p) { p.edits = {100, -1, 0x10000, 0, 96, 0x10000, 30, 0, 0x10000}; }, {4, 5, 0, 1}},
        {"mid-frame-start", [](test::MovieParams& p) { p.edits = {30, 30, 0x10000}; }, {1, 2}},
        {"whole", [](test::MovieParams& p) { p.edits = {144, 0, 0x10000}; }, all},
    };
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
    const Indexed sound = index_bytes(test::make_movie(cases[1].params));
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
        test::MovieParams p = frames_of(6);
        p.durations = c.durations;
        const Indexed indexed = index_bytes(test::make_movie(p));
        ASSERT_TRUE(indexed.ok) << indexed.report;
        EXPECT_EQ(indexed.info.frame_period, c.period) << c.durations[1];
        EXPECT_EQ(indexed.info.avi_frames, c.avi_frames) << c.durations[1];
    }
}

// The sound a movie's tables and edits place from the first frame on, read
// back from its pieces: sample values of a chunk of 960 samples (1 to 960)
// listed twice, at 8,000 a second beside six frames of 1/25 s.
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
    };
    const std::vector<Case> cases = {
        {"as-stored", {}, {}, false, join({whole, whole})},
        {"sound-late", {}, {60, -1, 0x10000, 0, 0, 0x10000}, false, join({silence, whole, whole})},
        {"sound-cut", {}, {60, 480, 0x10000}, false, join({{480, 960}, {0, 320}})},
        {"video-late", {60, -1, 0x10000, 144, 0, 0x10000}, {}, false, join({{800, 960}, whole})},
        {"both-late", {60, -1, 0x10000, 144, 0, 0x10000}, {60, -1, 0x10000, 0, 0, 0x10000}, false, join({whole, whole})},
        {"cut-off", {}, {}, true, join({whole, {960, 0}})},
    };
    for (const Case& c : cases) {
        test::MovieParams p = frames_of(6);
        for (int i = 1; i <= 960; ++i) {
            p.sound_chunk.push_back(static_cast<unsigned char>(i >> 8));
            p.sound_chunk.push_back(static_cast<unsigned char>(i));
        }
        p.sound_chunks = 2;
        p.edits = c.video_edits;
        p.sound_edits = c.sound_edits;
        p.sound_last_missing = c.last_missing;
        const Bytes movie = test::make_movie(p);
        const Indexed indexed = index_bytes(movie);
        ASSERT_TRUE(indexed.ok) << c.name << ": " << indexed.report;
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
        EXPECT_EQ(sound.lost, c.last_missing ? 960u : 0u) << c.name;
        EXPECT_NE(indexed.report.find("Track 2 (\"soun\") is carried into the AVI file: \"twos\", 8000 Hz, 1 channels "
                                      "of 16 bits"),
                  std::string::npos)
            << indexed.report;
    }
}

}  // namespace
