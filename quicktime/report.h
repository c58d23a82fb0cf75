// The movie reader's account of what it finds ("Movie header found",
// "Width = 4", ...), printed as it reads; a null report prints nothing.
// Its failures are not printed here: they are returned (common/failure.h).
#pragma once

#include <cstdio>

inline void report_line(std::FILE* report, const char* text)
{
    if (report != nullptr) {
        std::fputs(text, report);
        std::fputc('\n', report);
    }
}

template <typename... Args>
void report_format(std::FILE* report, const char* format, Args... args)
{
    if (report != nullptr) {
        std::fprintf(report, format, args...);
    }
}
