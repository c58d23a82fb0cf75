// The one error value of the layers that read and write files: the movie
// reader, the AVI reader, the AVI writer and the output file. A failure is a
// cause and the few numbers and names its message needs; failure_text()
// makes every message in one place, so that each text the tools print is
// written once. The codec reports its own results (common/status.h), which
// the C interface passes on by number.
//
// Not part of the codec library: it is compiled into the tools only.
#pragma once

#include <cstdint>
#include <string>

enum class Fault : unsigned char {
    none = 0,
    // The movie reader.
    movie_tag_missing,           // name: the atom type
    movie_atom_too_short,        // name: the atom type
    movie_atom_header_cut,       // name: the atom type
    movie_atom_below_header,     // name: the atom type; numbers[0]: its size
    movie_atom_past_file,        // name: the atom type
    movie_atom_past_holder,      // name: the atom type; numbers[0]: the holder's, as four bytes big-endian
    movie_header_memory,
    movie_fragment_memory,
    movie_no_video,
    movie_picture_size,          // numbers: width, height
    movie_data_format,
    movie_depth_without_table,
    movie_depth,                 // numbers[0]: the depth; name: the data format
    movie_frame_fits_nothing,    // numbers: the sample size, width, height, depth
    movie_frame_sizes_differ,    // numbers: the first size, the other
    movie_too_few_sizes,         // numbers: the sizes listed, the frames
    movie_too_many_frames,       // numbers: the frames, the most an AVI file holds
    movie_edits_too_many_frames, // numbers[0]: the most an AVI file holds
    movie_edits_too_many_runs,
    movie_too_many_avi_frames,   // numbers: the AVI frames, the most an AVI file holds

    // The AVI reader.

    // The AVI writer and the output file.
};

struct Failure {
    Fault fault = Fault::none;
    std::int64_t numbers[4] = {};  // the counts, sizes or offsets its message names
    std::string name;              // the atom type, path or format its message names
    int error_number = 0;          // errno, where the system said why

    bool failed() const { return fault != Fault::none; }
};

// The message of `failure`, without a line break at its end.
std::string failure_text(const Failure& failure);
