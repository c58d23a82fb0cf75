#include "driver/frames.h"

#include "cli/pages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace movie_fault {

namespace {

// Each thread's own guard: the fault is delivered to the thread that made it.
thread_local sigjmp_buf jump;
thread_local volatile std::sig_atomic_t armed = 0;

extern "C" void on_fault(int signal_number)
{
    if (armed != 0) {
        armed = 0;
        siglongjmp(jump, 1);
    }
    // A fault outside a guarded use is a fault of the program itself.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Installs the handler once for the process, whichever thread asks first.
void install()
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = on_fault;
        sigemptyset(&action.sa_mask);
        // Not held back while the handler runs: it leaves by the jump.
        action.sa_flags = SA_NODEFER;
        return sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

bool run(void (*read)(void*), void* context)
{
    install();
    if (sigsetjmp(jump, 0) != 0) {
        armed = 0;
        return false;
    }
    armed = 1;
    read(context);
    armed = 0;
    return true;
}

}  // namespace movie_fault

MovieFrames::~MovieFrames()
{
    if (map != nullptr) {
        ::munmap(const_cast<unsigned char*>(map), map_size);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

bool MovieFrames::open(const char* path, std::size_t frame_bytes, unsigned char* frame_buffer, bool map_movie)
{
    frame_size = frame_bytes;
    buffer = frame_buffer;
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        return true;
    }
    file_size = static_cast<std::uint64_t>(st.st_size);
    if (!map_movie) {
        return true;
    }
    void* bytes = ::mmap(nullptr, static_cast<std::size_t>(file_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (bytes != MAP_FAILED) {
        map = static_cast<const unsigned char*>(bytes);
        map_size = static_cast<std::size_t>(file_size);
        ::madvise(bytes, map_size, MADV_SEQUENTIAL);
    }
    return true;
}

const unsigned char* MovieFrames::mapped(std::uint64_t offset) const
{
    if (map == nullptr || given_up.load(std::memory_order_relaxed) || offset > map_size ||
        frame_size > map_size - offset) {
        return nullptr;
    }
    return map + offset;
}

void MovieFrames::release(std::uint64_t offset)
{
    if (mapped(offset) == nullptr) {
        return;  // not a frame of the mapping
    }
    // Everything since the pages last given back, up to the frame's end:
    // reading a page maps some around it too, and the frames mostly come in
    // file order.
    give_back_pages(map, released, offset, offset + frame_size, 1);
}

void MovieFrames::drop(std::uint64_t offset) const
{
    if (mapped(offset) == nullptr) {
        return;
    }
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / page * page;
    const std::uint64_t end = std::min<std::uint64_t>((offset + frame_size + page - 1) / page * page, map_size);
    ::madvise(const_cast<unsigned char*>(map) + start, static_cast<std::size_t>(end - start), MADV_DONTNEED);
}

void MovieFrames::give_up()
{
    if (!given_up.exchange(true)) {
        ::madvise(const_cast<unsigned char*>(map), map_size, MADV_DONTNEED);
    }
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

bool MovieFrames::read(std::uint64_t offset, unsigned char* into) const
{
    const std::size_t got = read_at(fd, into, frame_size, offset);
    if (got < frame_size) {
        // What the movie does not hold is black, never bytes of an earlier frame.
        std::memset(into + got, 0, frame_size - got);
        return false;
    }
    return true;
}
