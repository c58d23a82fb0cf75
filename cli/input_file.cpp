#include "cli/input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

std::uint64_t page_size() { return static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)); }

}  // namespace

InputFile::~InputFile()
{
    if (data != nullptr) {
        ::munmap(const_cast<unsigned char*>(data), size);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

bool InputFile::open(const char* path)
{
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = 0;
        return false;
    }
    return true;
}

bool InputFile::map()
{
    if (st.st_size <= 0) {
        return true;
    }
    const std::size_t length = static_cast<std::size_t>(st.st_size);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
        return false;
    }
    ::madvise(mapped, length, MADV_SEQUENTIAL);
    data = static_cast<const unsigned char*>(mapped);
    size = length;
    return true;
}

void InputFile::give_back(std::uint64_t from, std::uint64_t end, std::uint64_t at_least)
{
    if (data == nullptr) {
        return;
    }
    const std::uint64_t page = page_size();
    const std::uint64_t start = from / page * page;
    const std::uint64_t until = end / page * page;
    if (start < released) {
        released = start;
    }
    if (until > released && until - released >= at_least) {
        ::madvise(const_cast<unsigned char*>(data) + released, static_cast<std::size_t>(until - released),
                  MADV_DONTNEED);
        released = until;
    }
}

void InputFile::give_back_all()
{
    if (data != nullptr) {
        ::madvise(const_cast<unsigned char*>(data), size, MADV_DONTNEED);
    }
    released = 0;
}

void InputFile::drop(std::uint64_t offset, std::size_t bytes) const
{
    if (data == nullptr || offset > size || bytes > size - offset) {
        return;
    }
    const std::uint64_t page = page_size();
    const std::uint64_t start = offset / page * page;
    const std::uint64_t end = std::min<std::uint64_t>((offset + bytes + page - 1) / page * page, size);
    ::madvise(const_cast<unsigned char*>(data) + start, static_cast<std::size_t>(end - start), MADV_DONTNEED);
}

std::size_t read_at(int fd, unsigned char* into, std::size_t size, std::uint64_t at)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, into + got, size - got, static_cast<off_t>(at + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

bool same_file(const struct stat& input, const char* path)
{
    struct stat out;
    return ::stat(path, &out) == 0 && out.st_dev == input.st_dev && out.st_ino == input.st_ino;
}
