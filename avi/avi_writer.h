// Writes the output file of a run: a RIFF "AVI " file with one video stream,
// every frame one "00dc" chunk of the "movi" list, then an "idx1" index and a
// "JUNK" tail that brings the length to a multiple of 1,024. The file is
// written in one forward pass; flush() then goes back once to complete the
// header.
#pragma once

#include <cstdint>
#include <cstdio>

#include "avi/compact_empty.h"

// Where the fields that init() and flush() fill lie in the header.
namespace avi_offset {
constexpr int riff_size = 0x0004;
constexpr int micro_sec_per_frame = 0x0020;
constexpr int total_frames = 0x0030;
constexpr int main_suggested_buffer = 0x003C;
constexpr int main_width = 0x0040;
constexpr int main_height = 0x0044;
constexpr int stream_handler = 0x0070;
constexpr int stream_scale = 0x0080;
constexpr int stream_rate = 0x0084;
constexpr int stream_start = 0x0088;
constexpr int stream_length = 0x008C;
constexpr int stream_suggested_buffer = 0x0090;
constexpr int frame_rect = 0x009C;
constexpr int bitmap_width = 0x00B0;
constexpr int bitmap_height = 0x00B4;
constexpr int bitmap_compression = 0x00BC;
constexpr int bitmap_image_size = 0x00C0;
constexpr int dmlh_total_frames = 0x1108;
constexpr int credit_text = 0x1208;
constexpr int credit_area_size = 3576;
constexpr int movi_size = 0x2004;
constexpr int movi_code = 0x2008;  // index offsets count from here
constexpr int first_chunk = 0x200C;
}  // namespace avi_offset

enum class AviError {
    none,
    write_failed,  // a write, the close, or the header rewrite failed
    too_large,     // the next frame would take the file to its size limit
};

class AviWriter {
public:
    unsigned char header[avi_header_size];  // the file header, in file byte order
    std::int32_t frame_count = 0;           // frames written, and index entries in use
    unsigned char* index = nullptr;         // "idx1" entries, 16 bytes each, in file byte order
    std::int32_t index_capacity = 0;
    std::FILE* out = nullptr;
    std::int32_t max_chunk_size = 0;        // the largest frame written, plus 4
    const char* filename = nullptr;         // not owned; flush() opens it again
    std::uint64_t position = 0;             // the current write position
    std::uint64_t max_file_size = 0x80000000u;  // files stay below this length
    AviError error = AviError::none;
    std::FILE* report = stdout;             // where init() says that the file cannot be opened

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Opens the file and writes its header; 0 (after printing "Unable to open
    // output file") when the file cannot be opened.
    int init(const char* filename, int width, int height, int rate, int scale, int compressed);

    // Appends one frame chunk and its index entry. Sets data[size],
    // data[size + 1] and data[size + 2] to 0: the buffer needs three bytes of
    // room after the frame. Returns 1, or 0 with `error` set.
    int write_frame(unsigned char* data, int size, int flags);

    // Writes the index and tail, then completes the header. Returns 1, or 0
    // with `error` set.
    int flush();

    // Closes the file without completing it (the caller then removes it).
    void abandon();

private:
    bool write(const void* data, std::size_t size);
};

// Removes an output file left incomplete by a failure, so that it cannot be
// taken for a result; only a regular file is removed (never a device such as
// /dev/full).
void remove_incomplete_output(const char* path);

// The credit text that init() stores in the header.
const char* avi_credit_text();
