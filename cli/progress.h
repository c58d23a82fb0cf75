// The progress line of both tools: one line on standard error, rewritten in
// place, that tells a person watching how far a long run has come (frames
// done of the total, percent, megabytes of raw frames a second, time left).
// Nothing is written when standard error is not a terminal, so that logs and
// pipes get only the tools' messages.
#pragma once

#include <chrono>
#include <cstdint>

struct Progress {
    const char* tool;
    std::uint64_t total;        // frames in the run
    std::uint64_t frame_bytes;  // raw bytes of one frame, for the rate
    bool shown;                 // standard error is a terminal
    bool drawn = false;         // the line is on the screen
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;

    Progress(const char* tool_name, std::uint64_t frames, std::uint64_t bytes_per_frame);

    // Tells that `done` frames are finished. The line is drawn at the first
    // call and then at most four times a second.
    void update(std::uint64_t done);
    // Takes the line off the screen, before any other message.
    void clear();
};

