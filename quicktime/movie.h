// The QuickTime movie reader: walks the movie's atoms by their sizes, finds
// the movie atom wherever it lies and the first video track in it, reads the
// picture size, timing, pixel layout and sample tables, follows the track's
// edit list and any movie fragments, and turns all of that into the table
// of every frame's place in the file, in the order a player shows them,
// with the sound track that goes beside them. Nothing of the frame data is
// read.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/failure.h"
#include "quicktime/atoms.h"
#include "quicktime/frame_timing.h"
#include "quicktime/pixel_layouts.h"
#include "quicktime/sample_tables.h"
#include "quicktime/sound_track.h"

// What reading the movie yields.
struct MovieInfo {
    int width = 0;
    int height = 0;
    std::int32_t time_scale = 0;
    std::int32_t sample_duration = 0;
    char data_format[4] = {};
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

// Reads the movie's atoms, printing what it finds to `report` (null prints
// nothing), and builds the frame table; a failure when the conversion cannot
// go on, which the caller prints. A movie whose file ends before its tables
// say it should is converted up to where the file ends: the frames that
// start inside it, in the order they show, up to the first that lies wholly
// past the end, and its sound up to the end of the last of them. The frames
// of a fragment cut off by the end are left out too.
[[nodiscard]] Failure index_movie(const MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report);
