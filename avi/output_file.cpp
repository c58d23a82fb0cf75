#include "avi/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The temporary file being written, for a signal handler: a fixed buffer,
// since a handler may do nothing but read it and call unlink.
char aside_path[PATH_MAX];
std::atomic<bool> aside_recorded{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler reads the flag");

void forget_aside(const std::string& temporary)
{
    if (aside_recorded.load(std::memory_order_acquire) && temporary == aside_path) {
        aside_recorded.store(false, std::memory_order_release);
    }
}

// The name that writing to `path` would create or replace: the file at the
// end of a chain of symbolic links, also one that does not exist yet.
bool resolve_target(const char* path, std::string& target)
{
    struct stat st;
    if (::stat(path, &st) == 0) {
        char* real = ::realpath(path, nullptr);
        if (real == nullptr) {
            return false;
        }
        target = real;
        std::free(real);
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    // A dangling link: writing through it would create the file it names.
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), link, sizeof link);
        if (n <= 0 || std::size_t(n) == sizeof link) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string named(link, static_cast<std::size_t>(n));
        const std::size_t slash = target.rfind('/');
        target = named[0] == '/' || slash == std::string::npos ? named : target.substr(0, slash + 1) + named;
    }
    errno = ELOOP;
    return false;
}

// Creates the temporary file and records it for the signal handler, with
// the signals held off between the two so that the handler never meets a
// file it does not know of, nor a name that is not this run's file. O_EXCL
// makes it a new file every time: never the input, nor any file that was
// there before, so that removing it harms nothing.
int create_aside(const std::string& temporary)
{
    sigset_t held;
    sigset_t before;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    // Made with 0666 as the output itself would be, so that the umask (and a
    // folder's default permissions) give the finished file its mode.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int opened_errno = errno;
    if (fd >= 0) {
        aside_recorded.store(false, std::memory_order_release);
        std::memcpy(aside_path, temporary.c_str(), temporary.size() + 1);
        aside_recorded.store(true, std::memory_order_release);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = opened_errno;
    return fd;
}

bool open_in_place(OutputFile& file, const char* path)
{
    // No O_CREAT: a name that is not a device by now is written aside.
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISREG(st.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    file.fd = fd;
    file.aside = false;
    file.target = path;
    return true;
}

bool open_aside(OutputFile& file, const char* path)
{
    std::string target;
    if (!resolve_target(path, target)) {
        return false;
    }
    struct stat st;
    file.kept_mode = -1;
    if (::stat(target.c_str(), &st) == 0) {
        // A file that could not be written over is not replaced either.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return false;
        }
        file.kept_mode = static_cast<int>(st.st_mode & 0777);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // Part of a long name, so that the temporary name stays within NAME_MAX.
    const std::string name = target.substr(folder.size(), 200);
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    static unsigned count = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.part", static_cast<long>(::getpid()), count++);
        const std::string temporary = folder + "." + name + suffix;
        if (temporary.size() >= sizeof aside_path) {
            errno = ENAMETOOLONG;
            return false;
        }
        const int fd = create_aside(temporary);
        if (fd >= 0) {
            file.fd = fd;
            file.aside = true;
            file.target = target;
            file.temporary = temporary;
            return true;
        }
        if (errno != EEXIST) {
            return false;  // a ".part" left by an earlier run of the same id is skipped, never touched
        }
    }
    return false;
}

// Makes the rename itself durable. A file system that cannot sync a folder
// still holds the finished file, so a failure here is not the run's.
void sync_folder(const std::string& target)
{
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes the parts whole, going on after a partial write or a signal.
bool write_parts(int fd, struct iovec* next, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, next, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        std::size_t done = static_cast<std::size_t>(n);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

std::uint64_t patch_end(const OutputPatch& patch) { return patch.at + patch.bytes.size(); }

// Sends the parts that go at the stream's end, with the write-backs that
// fall among them laid over: copied together first where any does, which
// only the few short writes that a writer goes back to need.
bool send_to_stream(OutputFile& file, struct iovec* parts, int count, std::size_t total)
{
    const std::uint64_t start = file.length;
    const std::uint64_t end = start + total;
    const std::vector<OutputPatch>& patches = file.patches;
    while (file.next_patch < patches.size() && patch_end(patches[file.next_patch]) <= start) {
        ++file.next_patch;
    }
    if (file.next_patch == patches.size() || patches[file.next_patch].at >= end) {
        return write_parts(file.fd, parts, count);
    }
    std::vector<unsigned char> laid;
    for (int i = 0; i < count; ++i) {
        const unsigned char* bytes = static_cast<const unsigned char*>(parts[i].iov_base);
        laid.insert(laid.end(), bytes, bytes + parts[i].iov_len);
    }
    for (std::size_t p = file.next_patch; p < patches.size() && patches[p].at < end; ++p) {
        const std::uint64_t from = std::max(patches[p].at, start);
        const std::uint64_t to = std::min(patch_end(patches[p]), end);
        std::copy(patches[p].bytes.begin() + static_cast<std::ptrdiff_t>(from - patches[p].at),
                  patches[p].bytes.begin() + static_cast<std::ptrdiff_t>(to - patches[p].at),
                  laid.begin() + static_cast<std::ptrdiff_t>(from - start));
    }
    struct iovec whole = {laid.data(), laid.size()};
    return write_parts(file.fd, &whole, 1);
}

bool open_named(OutputFile& file, const char* path)
{
    discard_output(file);
    file.sent = 0;
    file.length = 0;
    if (path[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        return open_in_place(file, path);
    }
    return open_aside(file, path);
}

bool write_back(OutputFile& file, const unsigned char* bytes, std::size_t size, std::uint64_t at)
{
    if (file.kind == OutputKind::rehearsal) {
        if (at > file.length || size > file.length - at) {
            return false;  // past the end: a forward pass would never come to it
        }
        file.patches.push_back(OutputPatch{at, std::vector<unsigned char>(bytes, bytes + size)});
        return true;
    }
    if (file.kind == OutputKind::stream) {
        if (file.repeated == file.patches.size()) {
            return false;
        }
        const OutputPatch& patch = file.patches[file.repeated++];
        return patch.at == at && patch.bytes.size() == size && std::equal(bytes, bytes + size, patch.bytes.begin());
    }
    while (size > 0) {
        const ssize_t n = ::pwrite(file.fd, bytes, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Syncs, closes and renames a file written aside, or closes one written in
// place.
bool finish_file(OutputFile& file)
{
    if (file.fd < 0) {
        return false;
    }
    if (!file.aside) {
        const bool closed = ::close(file.fd) == 0;
        file.fd = -1;
        return closed;
    }
    bool ok = (file.kept_mode < 0 || ::fchmod(file.fd, static_cast<mode_t>(file.kept_mode)) == 0) &&
              ::fsync(file.fd) == 0;
    ok = ::close(file.fd) == 0 && ok;
    file.fd = -1;
    if (!ok || ::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
        const int failed_errno = errno;
        discard_output(file);
        errno = failed_errno;
        return false;
    }
    forget_aside(file.temporary);
    file.aside = false;
    sync_folder(file.target);
    return true;
}

// What a failed write of `file` is, errno saying why where the system did.
Failure write_failure(const OutputFile& file) { return make_failure(Fault::output_write, file.name, 0, errno); }

}  // namespace

OutputFile::~OutputFile() { discard_output(*this); }

Failure open_output(OutputFile& file, const char* path)
{
    file.name = path;
    if (open_named(file, path)) {
        return {};
    }
    return make_failure(Fault::output_open, path, 0, errno);
}

void rehearse_output(OutputFile& file)
{
    discard_output(file);
    file.kind = OutputKind::rehearsal;
    file.length = 0;
    file.patches.clear();
}

void stream_output(OutputFile& file, int fd)
{
    discard_output(file);
    file.kind = OutputKind::stream;
    file.fd = fd;
    file.length = 0;
    file.patches.clear();
    file.repeated = 0;
    file.next_patch = 0;
    file.final_length = 0;
}

Failure stream_output(OutputFile& file, int fd, OutputFile& rehearsal)
{
    stream_output(file, fd);
    file.patches = std::move(rehearsal.patches);
    file.final_length = rehearsal.length;
    for (std::size_t p = 1; p < file.patches.size(); ++p) {
        if (file.patches[p].at < patch_end(file.patches[p - 1])) {
            return write_failure(file);
        }
    }
    return {};
}

Failure write_output(OutputFile& file, const void* first, std::size_t first_size, const void* second,
                  std::size_t second_size)
{
    struct iovec parts[2];
    int count = 0;
    if (first_size != 0) {
        parts[count++] = {const_cast<void*>(first), first_size};
    }
    if (second_size != 0) {
        parts[count++] = {const_cast<void*>(second), second_size};
    }
    bool written = true;  // by a rehearsal, which keeps nothing
    if (file.kind == OutputKind::stream) {
        written = send_to_stream(file, parts, count, first_size + second_size);
    } else if (file.kind == OutputKind::file) {
        written = write_parts(file.fd, parts, count);
    }
    if (!written) {
        return write_failure(file);
    }
    file.length += first_size + second_size;
    return {};
}

Failure write_output_at(OutputFile& file, const void* data, std::size_t size, std::uint64_t at)
{
    if (!write_back(file, static_cast<const unsigned char*>(data), size, at)) {
        return write_failure(file);
    }
    return {};
}

Failure finish_output(OutputFile& file)
{
    bool finished = true;  // a rehearsal, which keeps nothing
    if (file.kind == OutputKind::stream) {
        finished = file.fd >= 0 && file.length == file.final_length && file.repeated == file.patches.size();
        file.fd = -1;
    } else if (file.kind == OutputKind::file) {
        finished = finish_file(file);
    }
    if (!finished) {
        return write_failure(file);
    }
    return {};
}

void start_writeback(OutputFile& file, std::uint64_t end)
{
#if defined(SYNC_FILE_RANGE_WRITE)
    constexpr std::uint64_t batch = std::uint64_t(8) << 20;
    if (file.aside && end >= file.sent + batch) {
        ::sync_file_range(file.fd, static_cast<off_t>(file.sent), static_cast<off_t>(end - file.sent),
                          SYNC_FILE_RANGE_WRITE);
        file.sent = end;
    }
#else
    (void)file;
    (void)end;
#endif
}

void discard_output(OutputFile& file)
{
    if (file.kind != OutputKind::file) {
        file.kind = OutputKind::file;  // a stream's descriptor is not its own to close
        file.fd = -1;
    }
    if (file.fd >= 0) {
        ::close(file.fd);
        file.fd = -1;
    }
    if (file.aside) {
        ::unlink(file.temporary.c_str());
        forget_aside(file.temporary);
        file.aside = false;
    }
}

void remove_aside_output()
{
    if (aside_recorded.load(std::memory_order_acquire)) {
        ::unlink(aside_path);
    }
}
