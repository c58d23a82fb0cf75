// Reads the layout of an AVI file with one video stream held in memory: the
// stream's format and the position of every frame. Every size and offset is
// checked against the bytes that are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AviFrameRef {
    std::uint64_t offset;  // of the frame's bytes, after the chunk header
    std::uint32_t size;
    std::uint32_t flags;   // from the index; 0x10 (key frame) when there is none
};

struct AviLayout {
    int width = 0;
    int height = 0;
    int bit_count = 0;
    unsigned char compression[4] = {};  // 0 0 0 0 for plain RGB
    unsigned char handler[4] = {};
    std::uint32_t rate = 0;
    std::uint32_t scale = 0;
    std::uint32_t total_frames = 0;     // the main header's count
    std::uint32_t stream_length = 0;
    bool has_index = false;
    std::vector<AviFrameRef> frames;
};

enum class AviReadResult {
    ok,
    not_avi,        // no RIFF "AVI " at the start
    truncated,      // a chunk runs past the end of the file
    no_stream,      // no video stream header or format
    no_movi,        // no "movi" list
};

AviReadResult read_avi_layout(const unsigned char* data, std::size_t size, AviLayout& layout);

const char* avi_read_text(AviReadResult result);
