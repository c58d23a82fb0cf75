// The movie's frames for the frame pass. A frame that lies whole within the
// movie is used where it lies, in a read-only mapping of the file, so that
// no frame is copied before the conversion reads it; any other is read into
// a buffer, the bytes the movie does not hold set to black.
//
// A movie cut short by someone else while it is being read would make the
// mapped pages of its lost end fault. The use of a frame in the mapping is
// guarded: on such a fault it is abandoned and repeated on the frame as read
// from the file, and the mapping is given up for the rest of the run.
//
// Several threads may use frames at once, each reading into a buffer of its
// own; the guard is kept apart for each thread, since the fault is
// delivered to the thread that touched the lost page. release(), which
// notes how far the pages have been given back, is for one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cli/input_file.h"

class MovieFrames {
public:
    InputFile file;                   // the movie, mapped whole or not at all
    std::size_t frame_size = 0;
    unsigned char* buffer = nullptr;  // frame_size bytes, not owned
    std::atomic<bool> given_up{false};  // the mapping faulted: frames are read from now on
    // Black as the movie stores it, for the bytes it does not hold: the
    // `black_size` bytes at `black` from the start of each row of
    // `row_stride` bytes, over and over; zeros where `black` is null.
    const char* black = nullptr;
    std::size_t black_size = 1;
    std::size_t row_stride = 1;

    MovieFrames() = default;
    MovieFrames(const MovieFrames&) = delete;
    MovieFrames& operator=(const MovieFrames&) = delete;

    // Opens the movie, and maps it unless `map_movie` is false; false when
    // it cannot be opened. Mapping it is not required: without a mapping
    // (or where the system refuses one) every frame is read.
    bool open(const char* path, std::size_t frame_bytes, unsigned char* frame_buffer, bool map_movie = true);

    // Reads the frame at `offset` into the buffer, or into `into` (frame_size
    // bytes); false when the movie does not hold all of it.
    bool read(std::uint64_t offset) const { return read(offset, buffer); }
    bool read(std::uint64_t offset, unsigned char* into) const;

    // Hands the frame's bytes to use(const unsigned char*), which only reads
    // them, must be safe to run again on the same frame, and acquires
    // nothing (a fault leaves it where it stands): in the mapping, or read
    // into `into` (frame_size bytes). False when the movie did not hold the
    // whole frame. Any number of threads may use frames at once, each with
    // a buffer of its own.
    template <typename Use>
    bool use_frame(std::uint64_t offset, unsigned char* into, Use use);

    // The frame's bytes in the mapping, or null where it has none of them.
    const unsigned char* mapped(std::uint64_t offset) const;

    // Runs read() of mapped bytes, which acquires nothing: true when it ran
    // to its end, false when the mapping faulted, which is then given up.
    template <typename Read>
    bool guarded(Read read);

    // Gives back the pages of a mapped frame once it has been used, so that
    // the process does not come to hold the whole movie; nothing for a frame
    // that the mapping does not hold whole.
    void release(std::uint64_t offset);

    // Gives back the pages of a mapped frame once it has been used, from any
    // thread and with nothing noted: the pages it shares with the frames
    // beside it too, which come back from the file should they be read
    // again. release() still gives back the pages between frames.
    void drop(std::uint64_t offset) const;

private:
    // Stops using the mapping and gives back its pages; it stays mapped,
    // since other threads may be reading it, until the movie is closed.
    void give_up();
};

// The guard around a use of mapped bytes: runs read(context) and returns
// true, or false when it faulted on a page the movie no longer holds.
namespace movie_fault {
bool run(void (*read)(void*), void* context);
}  // namespace movie_fault

template <typename Read>
bool MovieFrames::guarded(Read read)
{
    if (movie_fault::run([](void* context) { (*static_cast<Read*>(context))(); }, &read)) {
        return true;
    }
    give_up();
    return false;
}

template <typename Use>
bool MovieFrames::use_frame(std::uint64_t offset, unsigned char* into, Use use)
{
    const unsigned char* const pixels = mapped(offset);
    if (pixels != nullptr && guarded([&] { use(pixels); })) {
        return true;
    }
    const bool complete = read(offset, into);
    use(static_cast<const unsigned char*>(into));
    return complete;
}

