#include "cli/threads.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

int processors_available()
{
    unsigned count = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        count = static_cast<unsigned>(CPU_COUNT(&set));
    } else {
        // More processors than the set can name: the machine's count.
        count = std::thread::hardware_concurrency();
    }
    if (count < 1) {
        return 1;
    }
    return count > unsigned(max_frame_threads) ? max_frame_threads : static_cast<int>(count);
}

bool frame_threads(const char* tool, int& threads)
{
    const char* text = std::getenv("REELPACK_THREADS");
    if (text == nullptr || text[0] == '\0') {
        threads = processors_available();
        return true;
    }
    // Digits only: no sign, no spaces, no other base.
    long value = 0;
    const char* c = text;
    for (; *c >= '0' && *c <= '9' && value <= max_frame_threads; ++c) {
        value = value * 10 + (*c - '0');
    }
    if (*c != '\0' || value > max_frame_threads) {
        std::fprintf(stderr,
                     "%s: REELPACK_THREADS is \"%s\"; it must be a number of threads from 1 to %d, or 0 for one "
                     "for each processor\n",
                     tool, text, max_frame_threads);
        return false;
    }
    threads = value == 0 ? processors_available() : static_cast<int>(value);
    return true;
}
