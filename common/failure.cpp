#include "common/failure.h"

std::string failure_text(const Failure& failure)
{
    switch (failure.fault) {
    case Fault::none:
        return "no failure";
        // The movie reader.

        // The AVI reader.
    case Fault::avi_not_avi:
        return "not an AVI file";
    case Fault::avi_no_stream:
        return "no video stream format";
    case Fault::avi_no_movi:
        return "no movi list";

        // The AVI writer and the output file.
    case Fault::output_open:
        return "Unable to open output file " + failure.name;
    case Fault::output_write:
        return "Unable to write output file " + failure.name;
    case Fault::avi_frame_too_large:
        return "The output file " + failure.name + " cannot hold a frame of more than " +
               std::to_string(failure.numbers[0]) + " bytes";
    case Fault::avi_too_many_riffs:
        return "The output file " + failure.name + " would need more than " + std::to_string(failure.numbers[0]) +
               " RIFF lists of up to 1 GiB, more than its index can point to";
    }
    return "unknown failure";
}
