// The movie's sound on its way into the AVI file: after each frame, the
// sound heard by the end of that frame goes in as one chunk, so that the
// two streams stay interleaved about once a frame; what is left after the
// last frame follows in chunks of up to a second.
#pragma once

#include <cstdint>
#include <vector>

#include "avi/avi_writer.h"
#include "quicktime/sound_track.h"

// The format the AVI file gives the movie's sound.
AviSound avi_sound(const MovieSound& sound);

class SoundFeed {
public:
    std::uint64_t missing = 0;  // sample frames the movie no longer held when read; written as silence

    // Prepares to feed `sound`, read from the movie open as `fd`, beside
    // AVI frames of `period` units of a clock of `time_scale` a second; a
    // period or scale of 0 spreads the sound evenly over `avi_frames`.
    // False when its buffer cannot be had.
    bool begin(const MovieSound& sound, int fd, std::uint64_t period, std::uint32_t time_scale,
               std::uint64_t avi_frames);
    // Writes the sound heard by the end of the AVI file's first
    // `frames_done` frames that has not been written yet.
    bool write_due(AviWriter& writer, std::uint64_t frames_done);
    // Writes the rest of the sound.
    bool write_rest(AviWriter& writer);
    // The bytes of sound that go with one AVI frame, at most.
    std::uint64_t bytes_per_frame() const;

private:
    bool write_samples(AviWriter& writer, std::uint64_t count);

    const MovieSound* sound = nullptr;
    int fd = -1;
    std::uint64_t period = 0;
    std::uint32_t time_scale = 0;
    std::uint64_t avi_frames = 0;
    std::uint64_t chunk_samples = 0;  // the most in one chunk
    std::vector<unsigned char> buffer;
    std::size_t piece = 0;            // the piece being read, and how far
    std::uint64_t within = 0;
    std::uint64_t written = 0;        // sample frames written
};
