#include "common/status.h"

const char* status_text(Status status)
{
    switch (status) {
    case Status::ok:
        return "no error";
    case Status::truncated:
        return "the coded data ends early";
    case Status::bad_level:
        return "a channel has an unknown zero-run level";
    case Status::bad_table:
        return "a count table is damaged";
    case Status::bad_stream:
        return "a coded channel is damaged";
    case Status::bad_offsets:
        return "the channel offsets are out of order or out of the frame";
    case Status::bad_type:
        return "the frame type is unknown";
    case Status::bad_size:
        return "the sizes are beyond what the codec can hold";
    case Status::no_memory:
        return "not enough memory";
    case Status::bad_argument:
        return "a pointer is null or a stride is shorter than a row";
    case Status::small_buffer:
        return "the output buffer is smaller than a coded frame can be";
    }
    return "unknown status";
}
