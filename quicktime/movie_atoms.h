// The movie's structure: the top level of the file walked atom after atom,
// the movie atom held in memory, its tracks and their handlers, the first
// video track's atoms, the first sound track, and the fragments.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "quicktime/atoms.h"
#include "quicktime/fragments.h"
#include "quicktime/sample_tables.h"

struct MovieAtoms {
    Held moov;
    Atom mvhd, tkhd, mdhd, stsd, elst;  // of the video track, but "mvhd"
    SampleTableAtoms tables;
    Fragments fragments;
    bool fragment_cut = false;  // the end of the file cuts the last fragment off
    // The first sound track, which the AVI carries when it can.
    Atom sound;
    int sound_number = 0;
    // The tracks other than the video, by number and handler, in order.
    std::vector<std::pair<int, std::string>> others;
};

// Finds the movie atom wherever it lies, the first video track in it (a
// track without a handler is taken for one, as a movie of one track is),
// the first sound track, and reads the fragments of both. Damage in the
// sound track's atoms is told in `report` and does not end the reading.
[[nodiscard]] Failure find_movie_atoms(const MovieSource& source, MovieAtoms& atoms, std::FILE* report);
