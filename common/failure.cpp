#include "common/failure.h"

std::string failure_text(const Failure& failure)
{
    switch (failure.fault) {
    case Fault::none:
        return "no failure";
        // The movie reader.

        // The AVI reader.

        // The AVI writer and the output file.
    }
    return "unknown failure";
}
