// What a run of reelpack converts, and what its two frame passes share: the
// movie indexed, its frames' sizes as the movie stores them and as the AVI
// file holds them, the frames themselves, the sound between them, and the
// writer of the AVI file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avi/avi_writer.h"
#include "driver/frames.h"
#include "quicktime/movie.h"
#include "driver/sound_feed.h"

struct Conversion {
    const char* input_path = nullptr;
    const char* output_path = nullptr;
    bool compressed = true;  // Tarvic frames; -u writes plain ones
    int threads = 1;
    MovieInfo info;
    FrameTable table;
    std::size_t stored_size = 0;  // a frame as the movie stores it
    std::size_t row_bytes = 0;    // a row as the AVI file holds it
    std::size_t frame_size = 0;   // a frame as the AVI file holds it
    // Packed 24-bit frames go on as they are stored ("WRLE") or as the codec
    // reads a "raw " movie's; every other layout is converted first.
    bool as_stored = false;
    // The codec's planes of a Y'CbCr or 10- or 16-bit movie's pictures
    // (plane_bits 0: RGB pictures, coded packed).
    PlaneLayout plane_layout = PlaneLayout::yuv422;
    int plane_bits = 0;
    MovieFrames movie;
    SoundFeed feed;
    AviWriter writer;
    std::int32_t incomplete = 0;  // frames the movie held only in part

    // Writes the sound heard by the end of the frames written so far.
    bool sound_due()
    {
        return !info.sound.carried || feed.write_due(writer, std::uint64_t(writer.frame_count));
    }
};
