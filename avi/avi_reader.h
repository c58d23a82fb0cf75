// Reads the layout of an AVI file with one video stream held in memory: the
// stream's format and the position of every frame, across the first RIFF
// and any "AVIX" RIFFs after it. Every size and offset is checked against the
// bytes that are there; a damaged file yields what can be found in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/failure.h"

struct AviFrameRef {
    std::uint64_t offset;  // of the frame's bytes, after the chunk header
    std::uint32_t size;
    std::uint32_t flags;   // from the index; AVIIF_KEYFRAME (0x10) when there is none
};

// A chunk of the sound stream, and how many frame chunks come before it.
struct AviSoundRef {
    std::uint64_t offset;  // of its bytes, after the chunk header
    std::uint32_t size;
    std::uint32_t after_frames;
};

struct AviLayout {
    int width = 0;
    int height = 0;                     // positive; see top_down
    bool top_down = false;              // the format's height was negative
    int bit_count = 0;
    unsigned char compression[4] = {};  // 0 0 0 0 for plain RGB
    unsigned char handler[4] = {};
    // The record of a Tarvic stream of planes: the 16 bytes after the
    // bitmap header that begin "TRVL", where the stream's format has them.
    bool has_record = false;
    unsigned char record[16] = {};
    std::uint32_t rate = 0;
    std::uint32_t scale = 0;
    std::uint32_t total_frames = 0;     // the main header's count
    std::uint32_t stream_length = 0;
    int riff_count = 0;                 // "AVI " and "AVIX" lists read
    bool has_index = false;             // the frames and flags come from a sound idx1
    bool damaged = false;               // a chunk ran past its list or the file
    std::vector<AviFrameRef> frames;
    // The first sound stream: its "strf" body and its chunks in file order.
    bool has_sound = false;
    unsigned char sound_format[40] = {};
    std::uint32_t sound_format_size = 0;
    std::uint32_t sound_length = 0;     // its "strh" length
    std::vector<AviSoundRef> sound;
};

// Told, as the reader goes through a long file, that it is done with the
// bytes before a position for now, so that a caller holding the file mapped
// can give back what lies behind; a later pass may come back to them.
struct AviReadProgress {
    void (*done_before)(void* context, std::uint64_t position);
    void* context;
};

// Reads the layout of the `size` bytes at `data`. Fails (Fault::avi_not_avi,
// avi_no_stream, avi_no_movi) for a file that holds no video stream to read;
// a damaged one that does is read as far as it can be, and says so in its
// layout.
[[nodiscard]] Failure read_avi_layout(const unsigned char* data, std::size_t size, AviLayout& layout,
                                      const AviReadProgress* progress = nullptr);
