// The QuickTime movie reader: walks the movie's atoms by their sizes, finds
// the movie atom wherever it lies and the first video track in it, reads the
// picture size, timing, pixel layout and sample tables, follows the track's
// edit list and any movie fragments, and turns all of that into the table
// of every frame's place in the file, in the order a player shows them.
// Every size and count is checked against the bytes really there before it
// is used; nothing of the frame data is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "driver/pixels.h"

// Where the movie's bytes come from: the whole file in memory, or a file
// read at the positions asked for.
struct MovieSource {
    const unsigned char* bytes = nullptr;
    std::FILE* file = nullptr;
    std::uint64_t file_size = 0;
};

// Reads `size` bytes at absolute `position`; false when they do not all lie
// within the file (or the file cannot be read there).
bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination);

struct sample_to_chunk {
    std::uint32_t first_chunk;
    std::uint32_t samples_per_chunk;
    std::uint32_t sample_description_id;
};

// Frames that lie one after another in the file, `step` bytes apart (the
// sample size), each lasting `duration` units of the track's time scale.
// The table holds runs, not frames, so that its size follows the tables the
// file itself holds and not the frame counts, which can be anything.
struct FrameRun {
    std::uint64_t offset;  // of the run's first frame
    std::uint32_t frames;
    std::uint32_t step;
    std::uint32_t duration;
};

struct FrameTable {
    std::vector<FrameRun> runs;
    std::int32_t total_frames = 0;
};

// Walks the table's frames in order.
struct FrameCursor {
    const FrameTable& table;
    std::size_t run = 0;
    std::uint32_t within = 0;

    // The offset of the next frame; only called total_frames times.
    std::uint64_t next()
    {
        while (within >= table.runs[run].frames) {
            ++run;
            within = 0;
        }
        const FrameRun& r = table.runs[run];
        return r.offset + std::uint64_t(within++) * r.step;
    }
    // How long the frame that next() gave last lasts.
    std::uint32_t duration() const { return table.runs[run].duration; }
};

// Places the movie's frames on the AVI file's grid of frame periods: each
// frame takes the periods from the one nearest its start to the one nearest
// the next frame's start, so that it shows at its time. A frame that lasts
// several periods is followed by repeats; one that rounds to none is left
// out. A period of 0 gives every frame one AVI frame.
struct FrameClock {
    std::uint64_t period = 0;
    std::uint64_t time = 0;  // where the next frame starts

    std::uint64_t frames_for(std::uint32_t duration)
    {
        if (period == 0) {
            return 1;
        }
        const std::uint64_t first = (time + period / 2) / period;
        time += duration;
        return (time + period / 2) / period - first;
    }
};

// A stretch of the movie's sound: sample frames that lie one after another
// in the file, or silence.
struct SoundPiece {
    std::uint64_t offset;   // in the movie file; silent_piece for silence
    std::uint64_t samples;  // sample frames
};
constexpr std::uint64_t silent_piece = ~std::uint64_t(0);

// The sound track that the AVI file carries: linear PCM as the movie
// stores it, and its sample frames in the order they are heard, from the
// moment the first frame shows.
struct MovieSound {
    bool carried = false;
    int track = 0;            // its number among the movie's tracks
    char format[5] = {};      // the sample description's data format
    std::uint32_t rate = 0;   // sample frames a second
    int channels = 0;
    int bits = 0;             // of one channel's sample
    bool is_float = false;
    bool big_endian = false;  // as stored; the AVI file holds them little-endian
    bool is_signed = true;    // 8-bit samples only; the AVI file holds them unsigned
    std::vector<SoundPiece> pieces;
    std::uint64_t samples = 0;  // in all the pieces
    std::uint64_t lost = 0;     // of them, the ones past the end of the file: silence

    int block() const { return channels * bits / 8; }
};

// Turns stored sample frames into the AVI file's: little-endian, and 8-bit
// samples unsigned.
void sound_to_avi(const MovieSound& sound, unsigned char* bytes, std::size_t size);

// The largest frame count an AVI file can hold.
constexpr std::int64_t max_total_frames = 2147483647;

// What reading the movie yields.
struct MovieInfo {
    int width = 0;
    int height = 0;
    std::int32_t time_scale = 0;
    std::int32_t sample_duration = 0;
    char data_format[4] = {};
    bool is_raw = false;
    int depth = 0;
    PixelLayout layout;
    // The AVI file's frame period in the track's time units, and its frame
    // count: the greatest common divisor of the frame durations (the one
    // duration of a movie whose frames all last as long), or the most common
    // duration where that would make too many AVI frames.
    std::uint32_t frame_period = 0;
    std::int64_t avi_frames = 0;
    // Frames of the movie left out of the table where the file ends before
    // them (see index_movie), and whether it ends inside a fragment, of
    // which it may not even hold the frame count.
    std::int64_t frames_lost = 0;
    bool fragment_cut = false;
    MovieSound sound;
};

// The integer part of a 16.16 fixed-point field.
inline unsigned from_mov_edian_s(std::uint32_t value) { return value >> 16; }

enum class IndexResult {
    ok,
    too_many_frames,  // more than max_total_frames
    too_few_sizes,    // a table of sample sizes shorter than the frames
};

// The sizes of a track's samples: one size for all, or a table of them.
struct SampleSizes {
    std::uint32_t constant = 0;
    const std::uint32_t* table = nullptr;  // when constant is 0
    std::uint32_t count = 0;               // entries of the table
};

// The durations of a track's samples, as (count, duration) pairs.
struct SampleTimes {
    const std::uint32_t* entries = nullptr;
    std::uint32_t count = 0;
};

// Counts the frames the tables describe (64-bit, so no count can wrap).
std::int64_t count_frames(const sample_to_chunk* records, std::uint32_t record_count, std::uint32_t chunk_count);

// Appends the runs of every frame that the sample tables place: the record
// in force starts as the first one, and a chunk whose number reaches the
// next record's first chunk brings that record into force.
IndexResult calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count,
                               const std::uint64_t* chunk_offsets, std::uint32_t chunk_count, SampleSizes sizes,
                               SampleTimes times, FrameTable& table);

// Reads the movie's atoms, printing what it finds to `report` (null prints
// nothing), and builds the frame table. Returns true when the conversion can
// go on; otherwise it has printed why. A movie whose file ends before its
// tables say it should is converted up to where the file ends: the frames
// that start inside it, in the order they show, up to the first that lies
// wholly past the end, and its sound up to the end of the last of them.
// The frames of a fragment cut off by the end are left out too.
bool index_movie(const MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report);
