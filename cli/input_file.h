// The file a tool reads its input from: opened read-only, mapped whole where
// the tool reads it through memory, and its pages given back once a pass has
// read them, so that reading a long file from start to end does not come to
// hold the whole of it as the process's memory. A page read again later
// comes back from the file.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

class InputFile {
public:
    int fd = -1;
    struct stat st {};
    const unsigned char* data = nullptr;  // the whole file, once mapped
    std::size_t size = 0;                 // the bytes mapped
    std::uint64_t released = 0;           // the mapped pages before this have been given back

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens a regular file; false when it cannot be opened (errno says why)
    // or is no regular file (errno is then 0).
    bool open(const char* path);
    // Maps the whole file to be read in order; false when the system
    // refuses. An empty file maps to nothing.
    bool map();

    // Gives back the pages from `released` up to the page that holds `end`
    // once they come to `at_least` bytes, and moves `released` there. A
    // `from` before the pages given back starts over from its own page.
    void give_back(std::uint64_t from, std::uint64_t end, std::uint64_t at_least);
    // Gives back every page, for a pass that starts over.
    void give_back_all();
    // Gives back the pages that `size` bytes at `offset` touch, from any
    // thread and with nothing noted: the pages they share with the bytes
    // beside them too.
    void drop(std::uint64_t offset, std::size_t size) const;
};

// Reads up to `size` bytes of the open file at `at`; returns how many there
// were.
std::size_t read_at(int fd, unsigned char* into, std::size_t size, std::uint64_t at);

// Whether `path` names the file whose status is `input`: an output there
// would destroy its own input.
bool same_file(const struct stat& input, const char* path);
