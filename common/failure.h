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

struct Failure {
    Fault fault = Fault::none;
    std::int64_t numbers[2] = {};  // the counts, sizes or offsets its message names
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
