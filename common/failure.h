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
#include <utility>

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
    movie_data_format,           // numbers: the data format, as four bytes big-endian, and its UnreadVideo;
                                 // name: the movie's path, where the reader was told it
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
    avi_not_avi,    // no RIFF "AVI " at the start
    avi_no_stream,  // no video stream format
    avi_no_movi,    // no "movi" list

    // The AVI writer and the output file; `name` is the output as the
    // caller named it.
    output_open,          // the output cannot be opened
    output_write,         // a write, the sync, the close or the rename failed
    avi_frame_too_large,  // a frame that no RIFF can hold; numbers[0]: the largest that fits
    avi_too_many_riffs,   // more RIFFs than the super index can point to; numbers[0]: the most
};

// What the video of a data format with no pixel layout is, which the
// message refusing it says: a compressed movie can be made uncompressed.
enum class UnreadVideo : unsigned char { unknown, uncompressed, compressed };

struct Failure {
    Fault fault = Fault::none;
    std::int64_t numbers[4] = {};  // the counts, sizes or offsets its message names
    std::string name;              // the atom type, path or format its message names
    int error_number = 0;          // errno, where the system said why

    bool failed() const { return fault != Fault::none; }
};

// A failure of `fault` that names `name` (and `number`, where its message
// has one), with the system's errno where it said why.
inline Failure make_failure(Fault fault, std::string name = {}, std::int64_t number = 0, int error_number = 0)
{
    Failure failure;
    failure.fault = fault;
    failure.numbers[0] = number;
    failure.name = std::move(name);
    failure.error_number = error_number;
    return failure;
}

// The message of `failure`, without a line break at its end.
std::string failure_text(const Failure& failure);
