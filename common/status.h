// Results of the codec library. Every reader and decoder returns one of
// these; the tools turn them into messages in one place. They carry the
// numbers of the C interface's tarvic_status (library/tarvic.h), which
// passes them on as they are: the errors of the data, a coded frame that is
// damaged or that no encoder made, from 1; the calls the codec cannot carry
// out from 100.
#pragma once

enum class Status {
    ok = 0,
    truncated = 1,       // the input ends before the data it announces
    bad_level = 2,       // a zero-run level other than 0 to 3
    bad_table = 3,       // a count table that cannot be a valid one
    bad_stream = 4,      // coded bytes that no encoder could have produced
    bad_offsets = 5,     // channel offsets out of order or out of the frame
    bad_type = 6,        // an unknown frame type byte, or one of other bits per pixel
    bad_size = 100,      // sizes the codec cannot hold
    no_memory = 101,     // a buffer could not be acquired
    bad_argument = 102,  // a null pointer, or a stride shorter than a row
    small_buffer = 103,  // an output buffer smaller than a coded frame can be
};

// A short English description of a result, for the tools' messages and the
// library's tarvic_status_text(); "unknown status" for any other number.
[[nodiscard]] const char* status_text(Status status);
