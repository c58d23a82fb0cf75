#include "driver/frames.h"

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

bool MovieFrames::open(const char* path, std::size_t frame_bytes, unsigned char* frame_buffer, bool map_movie)
{
    frame_size = frame_bytes;
    buffer = frame_buffer;
    if (!file.open(path)) {
        return false;
    }
    if (map_movie) {
        (void)file.map();
    }
    return true;
}

const unsigned char* MovieFrames::mapped(std::uint64_t offset) const
{
    if (file.data == nullptr || given_up.load(std::memory_order_relaxed) || offset > file.size ||
        frame_size > file.size - offset) {
        return nullptr;
    }
    return file.data + offset;
}

void MovieFrames::release(std::uint64_t offset)
{
    if (mapped(offset) == nullptr) {
        return;  // not a frame of the mapping
    }
    // Everything since the pages last given back, up to the frame's end:
    // reading a page maps some around it too, and the frames mostly come in
    // file order.
    file.give_back(offset, offset + frame_size, 1);
}

void MovieFrames::drop(std::uint64_t offset) const
{
    if (mapped(offset) != nullptr) {
        file.drop(offset, frame_size);
    }
}

void MovieFrames::give_up()
{
    if (!given_up.exchange(true)) {
        file.give_back_all();
    }
}

bool MovieFrames::read(std::uint64_t offset, unsigned char* into) const
{
    const std::size_t got = read_at(file.fd, into, frame_size, offset);
    if (got < frame_size) {
        // What the movie does not hold is black, never bytes of an earlier frame.
        if (black == nullptr) {
            std::memset(into + got, 0, frame_size - got);
        }
        for (std::size_t k = got; black != nullptr && k < frame_size; ++k) {
            into[k] = static_cast<unsigned char>(black[k % row_stride % black_size]);
        }
        return false;
    }
    return true;
}
