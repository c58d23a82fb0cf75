#include "common/blocks.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

unsigned char* acquire_block(std::size_t size)
{
    constexpr std::size_t large_page = std::size_t(2) << 20;
    if (size < large_page) {
        return static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    }
    void* block = nullptr;
    if (::posix_memalign(&block, large_page, size) != 0) {
        return nullptr;
    }
#if defined(MADV_HUGEPAGE)
    // Only advice: where large pages are off or none is free, the block
    // has small pages as any other.
    ::madvise(block, size / large_page * large_page, MADV_HUGEPAGE);
#endif
    return static_cast<unsigned char*>(block);
}
