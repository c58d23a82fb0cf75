// The movie's frames for the frame pass. A frame that lies whole within the
// movie is used where it lies, in a read-only mapping of the file, so that
// no frame is copied before the conversion reads it; any other is read into
// a buffer, the bytes the movie does not hold set to zero.
//
// A movie cut short by someone else while it is being read would make the
// mapped pages of its lost end fault. The use of a frame in the mapping is
// guarded: on such a fault it is abandoned and repeated on the frame as read
// from the file, and the mapping is given up for the rest of the run.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>

class MovieFrames {
public:
    int fd = -1;
    std::uint64_t file_size = 0;
    const unsigned char* map = nullptr;  // the whole movie, or none
    std::size_t map_size = 0;
    std::size_t frame_size = 0;
    unsigned char* buffer = nullptr;  // frame_size bytes, not owned
    std::uint64_t released = 0;       // the mapped pages before this have been given back

    MovieFrames() = default;
    ~MovieFrames();
    MovieFrames(const MovieFrames&) = delete;
    MovieFrames& operator=(const MovieFrames&) = delete;

    // Opens the movie; false when it cannot be opened. Mapping it is not
    // required: without a mapping every frame is read.
    bool open(const char* path, std::size_t frame_bytes, unsigned char* frame_buffer);

    // Reads the frame at `offset` into the buffer; false when the movie does
    // not hold all of it.
    bool read(std::uint64_t offset);

    // Hands the frame's bytes to use(const unsigned char*), which only reads
    // them, must be safe to run again on the same frame, and acquires
    // nothing (a fault leaves it where it stands). False when the movie did
    // not hold the whole frame.
    template <typename Use>
    bool with_frame(std::uint64_t offset, Use use);

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

private:
    void unmap();
};

// The guard around a use of mapped bytes.
namespace movie_fault {
extern sigjmp_buf jump;
void arm();
void disarm();
}  // namespace movie_fault

template <typename Read>
bool MovieFrames::guarded(Read read)
{
    if (sigsetjmp(movie_fault::jump, 0) == 0) {
        movie_fault::arm();
        read();
        movie_fault::disarm();
        return true;
    }
    movie_fault::disarm();
    unmap();
    return false;
}

template <typename Use>
bool MovieFrames::with_frame(std::uint64_t offset, Use use)
{
    const unsigned char* const pixels = mapped(offset);
    if (pixels != nullptr && guarded([&] { use(pixels); })) {
        release(offset);
        return true;
    }
    const bool complete = read(offset);
    use(static_cast<const unsigned char*>(buffer));
    return complete;
}
