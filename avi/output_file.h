// The file a tool writes its result to, which appears whole or not at all.
//
// A regular file, or a name that does not exist yet, is written aside: under
// a temporary name in the folder of the file it is to replace, dot-prefixed
// and ending in ".part" so that a person sees it is incomplete, with the
// process id and a count in it so that two runs never share one. Only when
// the file is complete is it synced and renamed over its name, so until then
// the name keeps what it held, two runs racing for one name leave one of
// their files whole, and a crash leaves at most the ".part" file.
//
// A symbolic link is followed: the file it names is replaced and the link
// stays. An existing device or FIFO (/dev/null, /dev/full, a pipe) cannot be
// replaced and is written in place.
#pragma once

#include <cstdint>
#include <string>

struct OutputFile {
    int fd = -1;            // the open file, or -1
    bool aside = false;     // written under `temporary`, renamed to `target` when finished
    std::string target;     // the name the finished file takes
    std::string temporary;  // the name it is written under while aside
    int kept_mode = -1;     // the permission bits of the file it replaces; -1 for a new file
    std::uint64_t sent = 0; // the bytes before this have been handed to the disk

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
};

// Opens `path` for writing as described above. Returns false, with errno
// set, when it cannot: the folder cannot hold a new file, the existing file
// may not be written, or the path names no file that can be.
bool open_output(OutputFile& file, const char* path);

// Makes the written file durable and puts it in place: for a file written
// aside its mode, fsync, close, rename, and an fsync of the folder; for one
// written in place, its close. Returns false when any of that fails, and
// then the temporary file is gone and the name keeps what it held.
bool finish_output(OutputFile& file);

// Hands the bytes written before `end` to the disk, without waiting for
// them, once a few megabytes have come since the last time: the sync of the
// finished file then has little left to wait for.
void start_writeback(OutputFile& file, std::uint64_t end);

// Closes the file without finishing it and removes the temporary file.
void discard_output(OutputFile& file);

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of the output
// being written (the last one opened) and end the process with 128 plus the
// signal number, whichever thread they arrive on.
void remove_output_on_signals();
