#include "cli/pages.h"

#include <sys/mman.h>
#include <unistd.h>

void give_back_pages(const unsigned char* map, std::uint64_t& released, std::uint64_t from, std::uint64_t end,
                     std::uint64_t at_least)
{
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = from / page * page;
    const std::uint64_t until = end / page * page;
    if (start < released) {
        released = start;
    }
    if (until > released && until - released >= at_least) {
        ::madvise(const_cast<unsigned char*>(map) + released, static_cast<std::size_t>(until - released),
                  MADV_DONTNEED);
        released = until;
    }
}
