// The QuickTime movie reader: finds the atoms that the conversion needs by
// searching the head of the movie for their four-letter types, reads the
// picture size, timing and data format, and turns the sample-to-chunk and
// chunk offset tables into the table of every frame's file offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The head of the movie that the atom search covers.
constexpr std::uint32_t header_window_size = 0x8D0000;

// Where the movie's bytes come from: the header window read at the start,
// and the file itself for the tables and fields that lie beyond it.
struct MovieSource {
    const unsigned char* window = nullptr;  // the first window_bytes bytes of the file
    std::size_t window_bytes = 0;
    std::uint64_t file_size = 0;
    std::FILE* file = nullptr;              // for reads beyond the window; may be null
    // A window read as the atom search reaches into it: `room` has space for
    // window_capacity bytes and is `window`; a movie whose atoms lie at its
    // start is then not read up to the whole window's length. Null when the
    // window is given whole.
    unsigned char* room = nullptr;
    std::size_t window_capacity = 0;
};

// Reads more of a window read on demand (twice as much as before, up to its
// capacity); false when there is no more to read.
bool extend_window(MovieSource& source);

// Reads `size` bytes at absolute `position`; false when they do not all lie
// within the file (or the file cannot be read there).
bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination);

struct sample_to_chunk {
    std::uint32_t first_chunk;
    std::uint32_t samples_per_chunk;
    std::uint32_t sample_description_id;
};

// The frame offset table: the absolute file offset of every frame, in chunk
// order and within a chunk in sample order. It is held as one run a chunk
// (the frames of a chunk lie back to back, frame_size bytes apart), so its
// size follows the chunk offset table, which the file itself holds, and not
// the frame counts, which can be anything.
struct ChunkRun {
    std::uint64_t offset;  // of the chunk's first frame
    std::uint32_t frames;
};

struct FrameTable {
    ChunkRun* runs = nullptr;
    std::uint32_t run_count = 0;
    std::uint64_t frame_size = 0;
    std::int32_t total_frames = 0;

    FrameTable() = default;
    ~FrameTable();
    FrameTable(const FrameTable&) = delete;
    FrameTable& operator=(const FrameTable&) = delete;
};

// Walks the table's frames in order.
struct FrameCursor {
    const FrameTable& table;
    std::uint32_t run = 0;
    std::uint32_t within = 0;

    // The offset of the next frame; only called total_frames times.
    std::uint64_t next()
    {
        while (within >= table.runs[run].frames) {
            ++run;
            within = 0;
        }
        return table.runs[run].offset + std::uint64_t(within++) * table.frame_size;
    }
};

// The largest frame count an AVI file can hold.
constexpr std::int64_t max_total_frames = 2147483647;

enum class IndexResult {
    ok,
    too_many_frames,  // more than max_total_frames
    no_memory,
};

// Finds `tag` at or after `cursor`, within `remaining_length` positions and
// within the `window_end` of the bytes read; moves cursor and length onto it
// and returns 1, or prints "Unable to find tag" to `report` and returns 0.
int findtag(const unsigned char*& cursor, const char* tag, std::int32_t& remaining_length,
            const unsigned char* window_end, std::FILE* report);

// The integer part of a 16.16 fixed-point field.
inline unsigned from_mov_edian_s(std::uint32_t value) { return value >> 16; }

// Converts `count` big-endian 32-bit words in place into native integers.
void from_mov_edian_l_block(std::uint32_t* words, std::int64_t count);

// Counts the frames the tables describe (64-bit, so no count can wrap).
std::int64_t count_frames(const sample_to_chunk* records, std::uint32_t record_count, std::uint32_t chunk_count);

// Fills `table` with every frame's offset.
IndexResult calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count, const std::uint32_t* chunk_offsets,
                               std::uint32_t chunk_count, std::uint64_t frame_size, FrameTable& table);

// What reading the movie's head yields.
struct MovieInfo {
    int width = 0;
    int height = 0;
    std::int32_t time_scale = 0;
    std::int32_t sample_duration = 0;
    char data_format[4] = {};
    bool is_raw = false;
};

// Reads the movie's atoms, printing what it finds to `report` (null prints
// nothing), and builds the frame table. Returns true when the conversion can
// go on; otherwise it has printed why.
bool index_movie(MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report);
