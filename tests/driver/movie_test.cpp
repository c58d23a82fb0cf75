#include "driver/movie.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(FindTag, StopsAtTheFirstOccurrenceAfterTheCursor)
{
    const std::string text = "xxxxstcoyyyystcozz";
    const auto* start = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = start + text.size();

    const unsigned char* cursor = start;
    std::int32_t remaining = 100;
    ASSERT_EQ(findtag(cursor, "stco", remaining, end, nullptr), 1);
    EXPECT_EQ(cursor - start, 4);
    EXPECT_EQ(remaining, 96);
    // Standing on the tag finds it at distance 0.
    ASSERT_EQ(findtag(cursor, "stco", remaining, end, nullptr), 1);
    EXPECT_EQ(cursor - start, 4);
    EXPECT_EQ(remaining, 96);

    // A remaining length of 0 finds nothing and says so.
    std::int32_t none = 0;
    const unsigned char* at = start;
    std::FILE* report = std::tmpfile();
    EXPECT_EQ(findtag(at, "stco", none, end, report), 0);
    std::rewind(report);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, report), nullptr);
    EXPECT_STREQ(line, "Unable to find tag \"stco\"\n");
    std::fclose(report);
    EXPECT_EQ(at, start);

    // The remaining length bounds the search, and so does the window's end:
    // a tag must lie wholly in both.
    const unsigned char* limited = start + 5;
    std::int32_t short_length = 7;
    EXPECT_EQ(findtag(limited, "stco", short_length, end, nullptr), 0);
    std::int32_t long_length = 100;
    EXPECT_EQ(findtag(limited, "stco", long_length, start + 15, nullptr), 0);
    EXPECT_EQ(findtag(limited, "stco", long_length, start + 16, nullptr), 1);
}

TEST(MovieFields, ByteOrderAndFixedPoint)
{
    EXPECT_EQ(from_mov_edian_s(0x01400000u), 320u);
    EXPECT_EQ(from_mov_edian_s(0x0140FFFFu), 320u);
    std::uint32_t words[2];
    const unsigned char bytes[8] = {0x12, 0x34, 0x56, 0x78, 0xFF, 0x00, 0x00, 0x01};
    std::memcpy(words, bytes, 8);
    from_mov_edian_l_block(words, 2);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(words[1], 0xFF000001u);
}

std::vector<std::uint64_t> offsets_of(const std::vector<sample_to_chunk>& records, const std::vector<std::uint32_t>& chunks,
                                      std::uint64_t frame_size)
{
    FrameTable table;
    EXPECT_EQ(calc_frame_offsets(records.data(), static_cast<std::uint32_t>(records.size()), chunks.data(),
                                 static_cast<std::uint32_t>(chunks.size()), frame_size, table),
              IndexResult::ok);
    std::vector<std::uint64_t> offsets;
    FrameCursor cursor{table};
    for (std::int32_t i = 0; i < table.total_frames; ++i) {
        offsets.push_back(cursor.next());
    }
    return offsets;
}

TEST(FrameOffsets, FollowTheSampleToChunkRecords)
{
    EXPECT_EQ(offsets_of({{1, 1, 1}}, {100, 200, 300}, 10), (std::vector<std::uint64_t>{100, 200, 300}));
    EXPECT_EQ(offsets_of({{1, 2, 1}, {3, 1, 1}}, {1000, 2000, 3000, 4000}, 7),
              (std::vector<std::uint64_t>{1000, 1007, 2000, 2007, 3000, 4000}));
    EXPECT_EQ(offsets_of({{1, 3, 1}}, {0, 50}, 5), (std::vector<std::uint64_t>{0, 5, 10, 50, 55, 60}));
    EXPECT_TRUE(offsets_of({}, {1, 2}, 5).empty());
    EXPECT_TRUE(offsets_of({{1, 3, 1}}, {}, 5).empty());
    // The first record applies from the first chunk whatever its number says.
    EXPECT_EQ(offsets_of({{5, 2, 1}}, {10}, 1), (std::vector<std::uint64_t>{10, 11}));
}

TEST(FrameOffsets, HoldEveryFrameOfLongChunks)
{
    // Twelve frames in each of two chunks: more than eight a chunk.
    const auto offsets = offsets_of({{1, 12, 1}}, {0, 1000}, 3);
    ASSERT_EQ(offsets.size(), 24u);
    EXPECT_EQ(offsets[11], 33u);
    EXPECT_EQ(offsets[23], 1033u);
}

TEST(FrameOffsets, AreUnsignedAndSixtyFourBit)
{
    // Chunk offsets above 2 GiB, and frames of a chunk that pass 4 GiB.
    const auto offsets = offsets_of({{1, 3, 1}}, {0xF0000000u}, 0x10000000u);
    EXPECT_EQ(offsets, (std::vector<std::uint64_t>{0xF0000000u, 0x100000000u, 0x110000000u}));
}

TEST(FrameOffsets, TakeRoomByChunksNotByFrames)
{
    // Two billion frames in one chunk: the table holds one run.
    const std::vector<sample_to_chunk> records = {{1, 2000000000u, 1}};
    const std::uint32_t chunk = 0;
    FrameTable table;
    ASSERT_EQ(calc_frame_offsets(records.data(), 1, &chunk, 1, 3, table), IndexResult::ok);
    EXPECT_EQ(table.total_frames, 2000000000);
    EXPECT_EQ(table.run_count, 1u);
    // Chunks of no frames are passed over.
    const std::vector<sample_to_chunk> gaps = {{1, 2, 1}, {2, 0, 1}, {4, 1, 1}};
    EXPECT_EQ(offsets_of(gaps, {10, 20, 30, 40}, 1), (std::vector<std::uint64_t>{10, 11, 40}));
}

TEST(FrameOffsets, RefuseMoreFramesThanAnAviCounts)
{
    const std::vector<sample_to_chunk> records = {{1, 0xFFFFFFFFu, 1}};
    const std::uint32_t chunk = 0;
    FrameTable table;
    EXPECT_EQ(calc_frame_offsets(records.data(), 1, &chunk, 1, 3, table), IndexResult::too_many_frames);
    EXPECT_EQ(table.total_frames, 0);
    const std::vector<sample_to_chunk> half = {{1, 0x40000000u, 1}};
    const std::uint32_t two[2] = {0, 0};
    EXPECT_EQ(count_frames(half.data(), 1, 2), std::int64_t(0x80000000u));
    EXPECT_EQ(calc_frame_offsets(half.data(), 1, two, 2, 3, table), IndexResult::too_many_frames);
}

// What index_movie makes of a movie file, with the window read whole or as
// the search reaches into it.
struct Indexed {
    bool ok = false;
    std::string report;
    MovieInfo info;
    std::vector<std::uint64_t> offsets;
};

Indexed index_file(const std::string& path, bool on_demand)
{
    Indexed result;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::FILE* report = std::tmpfile();
    const Bytes bytes = test::read_file(path);
    Bytes window(std::min<std::size_t>(bytes.size(), header_window_size));
    MovieSource source;
    source.window = window.data();
    source.file_size = bytes.size();
    source.file = file;
    if (on_demand) {
        source.room = window.data();
        source.window_capacity = window.size();
        extend_window(source);
    } else {
        std::memcpy(window.data(), bytes.data(), window.size());
        source.window_bytes = window.size();
    }
    FrameTable table;
    result.ok = index_movie(source, result.info, table, report);
    FrameCursor cursor{table};
    for (std::int32_t i = 0; i < table.total_frames; ++i) {
        result.offsets.push_back(cursor.next());
    }
    std::rewind(report);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, report)) > 0) {
        result.report.append(buffer, n);
    }
    std::fclose(report);
    std::fclose(file);
    return result;
}

TEST(MovieWindow, ReadOnDemandFindsWhatTheWholeWindowFinds)
{
    // The movie atom behind free atoms of several sizes: at the start, across
    // the first read's end (64 KiB) and across later ones, and beyond the
    // window, where its tags are not found at all.
    for (std::size_t lead : {0u, 65536u - 30u, 65536u - 2u, 300000u, 0x8D0000u - 40u, 0x8D0000u + 10u}) {
        test::MovieParams p;
        for (unsigned k = 0; k < 3; ++k) {
            p.frames.push_back(test::pattern_frame(4, 3, k));
        }
        p.leading_free = std::string(lead, 'x');
        p.decoy = "stsd stco";  // decoy text inside an earlier atom
        const std::string path = test::temp_path("window.mov");
        test::write_file(path, test::make_movie(p));
        const Indexed whole = index_file(path, false);
        const Indexed on_demand = index_file(path, true);
        EXPECT_EQ(on_demand.ok, whole.ok) << lead;
        EXPECT_EQ(on_demand.report, whole.report) << lead;
        EXPECT_EQ(on_demand.offsets, whole.offsets) << lead;
        EXPECT_EQ(on_demand.info.width, whole.info.width) << lead;
        if (lead <= 300000u) {
            EXPECT_TRUE(whole.ok) << lead << whole.report;
        } else {
            EXPECT_FALSE(whole.ok) << lead;  // the search window ends before the movie atom's tags
        }
    }
}

}  // namespace
