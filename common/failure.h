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

    // The AVI reader.

    // The AVI writer and the output file.
};

struct Failure {
    Fault fault = Fault::none;
    std::int64_t numbers[2] = {};  // the counts, sizes or offsets its message names
    std::string name;              // the atom type, path or format its message names
    int error_number = 0;          // errno, where the system said why

    bool failed() const { return fault != Fault::none; }
};

// The message of `failure`, without a line break at its end.
std::string failure_text(const Failure& failure);
