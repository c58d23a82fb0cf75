#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(250);

// Erases from the cursor to the end of the line, so that a shorter line
// leaves nothing of a longer one behind.
constexpr char erase_line[] = "\033[K";

// The text of the line, for `done` of `total` frames of `frame_bytes` bytes
// after `seconds`; the rate and the time left once there is a rate.
void progress_text(char* text, std::size_t size, const char* tool, std::uint64_t done, std::uint64_t total,
                   std::uint64_t frame_bytes, double seconds)
{
    const double percent = total == 0 ? 100.0 : 100.0 * double(done) / double(total);
    int n = std::snprintf(text, size, "%s: frame %llu of %llu (%.0f%%)", tool, static_cast<unsigned long long>(done),
                          static_cast<unsigned long long>(total), percent);
    if (n < 0 || std::size_t(n) >= size || seconds <= 0 || done == 0) {
        return;
    }
    const double rate = double(done) * double(frame_bytes) / seconds / 1e6;
    const double left = seconds * double(total - done) / double(done);
    const unsigned long long whole = static_cast<unsigned long long>(left + 0.5);
    if (whole >= 3600) {
        std::snprintf(text + n, size - std::size_t(n), ", %.1f MB/s, %llu:%02llu:%02llu left", rate, whole / 3600,
                      whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text + n, size - std::size_t(n), ", %.1f MB/s, %llu:%02llu left", rate, whole / 60, whole % 60);
    }
}

}  // namespace

Progress::Progress(const char* tool_name, std::uint64_t frames, std::uint64_t bytes_per_frame)
    : tool(tool_name),
      total(frames),
      frame_bytes(bytes_per_frame),
      shown(::isatty(STDERR_FILENO) == 1),
      start(std::chrono::steady_clock::now()),
      last(start)
{
}

void Progress::update(std::uint64_t done)
{
    if (!shown) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn && now - last < redraw_interval && done < total) {
        return;
    }
    last = now;
    char text[160];
    progress_text(text, sizeof text, tool, done, total, frame_bytes,
                  std::chrono::duration<double>(now - start).count());
    std::fprintf(stderr, "\r%s%s", text, erase_line);
    drawn = true;
}

void Progress::clear()
{
    if (drawn) {
        std::fprintf(stderr, "\r%s", erase_line);
        drawn = false;
    }
}
