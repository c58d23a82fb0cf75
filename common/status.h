// Results of the codec library. Every reader and decoder returns one of these;
// the tools turn them into messages in one place.
#pragma once

enum class Status {
    ok = 0,
    truncated,       // the input ends before the data it announces
    bad_level,       // a zero-run level other than 0 to 3
    bad_table,       // a count table that cannot be a valid one
    bad_stream,      // coded bytes that no encoder could have produced
    bad_offsets,     // channel offsets out of order or out of the frame
    bad_type,        // an unknown frame type byte
    bad_size,        // sizes the codec cannot hold
    no_memory,       // a buffer could not be acquired
};

// A short English description of a result, for the tools' messages.
const char* status_text(Status status);
