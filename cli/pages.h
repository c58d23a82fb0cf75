// Pages of a read-only file mapping given back once a pass has read them,
// so that reading a long file from start to end does not come to hold the
// whole of it as the process's memory. A page read again later comes back
// from the file.
#pragma once

#include <cstdint>

// Gives back the pages from `released` up to the page that holds `end`
// once they come to `at_least` bytes, and moves `released` there. A `from`
// before the pages given back starts over from its own page.
void give_back_pages(const unsigned char* map, std::uint64_t& released, std::uint64_t from, std::uint64_t end,
                     std::uint64_t at_least);
