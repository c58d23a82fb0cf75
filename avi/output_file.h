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
//
// An output can also go forward only, to a pipe: the bytes that a writer
// would go back to complete cannot be written back there, so the same
// sequence of writes goes first to a rehearsal, which keeps no bytes but
// the ones written back over earlier ones, and then to the stream, which
// lays those over the bytes as they pass. What the stream sends is then the
// file the writer would have written, byte for byte, from its first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/failure.h"

enum class OutputKind {
    file,       // opened by open_output
    rehearsal,  // the bytes are counted and dropped; those written back are kept
    stream,     // the bytes go forward to a descriptor, a rehearsal's write-backs laid over them
};

// Bytes written back over earlier ones.
struct OutputPatch {
    std::uint64_t at;
    std::vector<unsigned char> bytes;
};

struct OutputFile {
    std::string name;       // as the caller named it, for the messages of its failures
    int fd = -1;            // the open file, or -1
    bool aside = false;     // written under `temporary`, renamed to `target` when finished
    std::string target;     // the name the finished file takes
    std::string temporary;  // the name it is written under while aside
    int kept_mode = -1;     // the permission bits of the file it replaces; -1 for a new file
    std::uint64_t sent = 0; // the bytes before this have been handed to the disk
    OutputKind kind = OutputKind::file;
    std::uint64_t length = 0;           // the bytes written forward
    // A rehearsal's write-backs in the order made; for a stream, those of
    // the rehearsal it follows, how many of them it has been asked to make
    // again, the first one whose bytes have not all gone, and the length
    // the rehearsal reached.
    std::vector<OutputPatch> patches;
    std::size_t repeated = 0;
    std::size_t next_patch = 0;
    std::uint64_t final_length = 0;

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
};

// Opens `path` for writing as described above. Fails (Fault::output_open,
// with errno) when it cannot: the folder cannot hold a new file, the
// existing file may not be written, or the path names no file that can be.
// Every other function that can fail fails with Fault::output_write.
[[nodiscard]] Failure open_output(OutputFile& file, const char* path);

// Makes `file` a rehearsal, which no signal or failure leaves anything of.
void rehearse_output(OutputFile& file);

// Makes `file` a stream to `fd` (left open) that sends what it is written,
// as it comes, with nothing laid over.
void stream_output(OutputFile& file, int fd);

// Makes `file` a stream to `fd` (left open) that sends what `rehearsal`
// was sent, with its write-backs laid over, once the same writes come
// again; the rehearsal's patches move to it. Fails when the write-backs do
// not follow one another through the file: a forward pass could not lay
// them then.
[[nodiscard]] Failure stream_output(OutputFile& file, int fd, OutputFile& rehearsal);

// Writes two blocks at the end of what was written, with as few system
// calls as the system allows.
[[nodiscard]] Failure write_output(OutputFile& file, const void* first, std::size_t first_size, const void* second,
                                   std::size_t second_size);

// Writes `size` bytes over the ones written at `at`. A stream has already
// sent them, laid over: it accepts the rehearsal's write-backs again, in
// their order, and refuses any other.
[[nodiscard]] Failure write_output_at(OutputFile& file, const void* data, std::size_t size, std::uint64_t at);

// Makes the written file durable and puts it in place: for a file written
// aside its mode, fsync, close, rename, and an fsync of the folder; for one
// written in place, its close. When any of that fails the temporary file is
// gone and the name keeps what it held. A rehearsal finishes at once; a
// stream once it has sent all that its rehearsal was sent.
[[nodiscard]] Failure finish_output(OutputFile& file);

// Hands the bytes written before `end` to the disk, without waiting for
// them, once a few megabytes have come since the last time: the sync of the
// finished file then has little left to wait for.
void start_writeback(OutputFile& file, std::uint64_t end);

// Closes the file without finishing it and removes the temporary file.
void discard_output(OutputFile& file);

// Removes the temporary file of the output being written aside (the last
// one opened), if there is one; safe to call from a signal handler, which
// is where the tools call it (see cli/output_signals.h).
void remove_aside_output();
