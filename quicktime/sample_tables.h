// The sample tables of the video track (stts, stsc, stsz, stco or co64)
// and the frame table they make: where every frame lies in the file, in
// runs of frames that follow one another, each run with its sample size
// and duration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/failure.h"
#include "quicktime/atoms.h"

// The largest frame count an AVI file can hold.
constexpr std::int64_t max_total_frames = 2147483647;

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

// Appends a run of frames, joining it to the run before when they follow on.
void add_run(std::vector<FrameRun>& runs, std::uint64_t offset, std::uint32_t frames, std::uint32_t step,
             std::uint32_t duration);

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
// next record's first chunk brings that record into force. Refuses more
// frames than an AVI file holds, and a size table shorter than the frames.
[[nodiscard]] Failure calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count,
                                         const std::uint64_t* chunk_offsets, std::uint32_t chunk_count,
                                         SampleSizes sizes, SampleTimes times, FrameTable& table);

// The sample table atoms of a track.
struct SampleTableAtoms {
    Atom stts, stsc, stsz, stco;  // stco may be a "co64"
    bool co64 = false;
};

// The tables as the movie atom holds them, as native integers.
struct SampleTables {
    std::vector<std::uint32_t> times;  // (count, duration) pairs
    std::vector<sample_to_chunk> records;
    std::vector<std::uint32_t> size_table;
    SampleSizes sizes;
    std::vector<std::uint64_t> chunk_offsets;
};

// Reads the time-to-sample table, saying so in `report`.
[[nodiscard]] Failure read_time_table(const Held& held, const SampleTableAtoms& atoms, SampleTables& tables,
                                      std::FILE* report);

// Reads the sample-to-chunk, sample size and chunk offset tables, saying
// what it finds in `report`. A movie without a size table has frames of
// `frame_bytes`.
[[nodiscard]] Failure read_chunk_tables(const Held& held, const SampleTableAtoms& atoms, std::uint32_t frame_bytes,
                                        SampleTables& tables, std::FILE* report);

// The frames up to where the file ends, in the order they show: every one
// that starts inside the file, the last perhaps cut short by its end (it is
// then written with its missing bytes black). The first frame that lies
// wholly past the end ends the video. Returns how many frames that leaves
// out, counted by the runs and never one by one, however many the tables
// place past the end.
std::int64_t cut_at_file_end(FrameTable& table, std::uint64_t file_size);
