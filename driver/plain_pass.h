// The frame pass of an uncompressed run (-u): frames copied on one thread,
// as fast as on several, from the mapping of the movie or read from it.
// Frames that need converting are converted and written a piece of rows at
// a time, through a buffer small enough to stay in the processor's cache;
// the others are read once, however often written.
#pragma once

#include <cstddef>

#include "driver/conversion.h"

class PlainPass {
public:
    PlainPass() = default;
    ~PlainPass();
    PlainPass(const PlainPass&) = delete;
    PlainPass& operator=(const PlainPass&) = delete;

    // Whether the super index can describe the file: uncompressed frames
    // all have one size, so that is known before anything is written (with
    // sound, each frame's share of it counted at its most). False after
    // saying why not.
    static bool fits(const Conversion& run);
    // Acquires the buffers of the run and hands the movie its buffer for
    // the frames it reads; false after saying why not.
    bool begin(Conversion& run);
    // Writes every frame; false when a write failed.
    bool run(Conversion& run);

private:
    bool write_converted(Conversion& run, std::uint64_t offset);

    unsigned char* frame = nullptr;  // a frame read from the movie, with the writer's room after it
    unsigned char* piece = nullptr;  // piece_rows converted rows
    int piece_rows = 1;
    bool pieces = false;             // frames are converted a piece at a time
};
