#include "avi/avi_writer.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "entropy/zero.h"
#include "entropy/byte_order.h"

namespace {

constexpr int index_entry_size = 16;
constexpr int index_growth = 512;

std::uint32_t padded(std::uint32_t size) { return (size + 3u) & ~3u; }

// The file's final length if `frames` index entries follow the chunks that
// end at `chunks_end`: "idx1", the entries, "JUNK" and the tail up to the
// next multiple of 1,024.
std::uint64_t finished_length(std::uint64_t chunks_end, std::uint64_t frames)
{
    const std::uint64_t q = chunks_end + 8 + frames * index_entry_size + 4;
    return (q + 1024) / 1024 * 1024;
}

// The frame period in microseconds, truncated; 0 when the rate gives none
// that a 32-bit field can hold (a rate of 0, or a negative one).
std::uint32_t micro_seconds_per_frame(int rate, int scale)
{
    const double period = 1000000.0 * static_cast<double>(scale) / static_cast<double>(rate);
    if (!(period >= 0.0 && period < 4294967296.0)) {
        return 0;
    }
    return static_cast<std::uint32_t>(period);
}

}  // namespace

void remove_incomplete_output(const char* path)
{
    struct stat st;
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
        std::remove(path);
    }
}

const char* avi_credit_text() { return "reelpack " REELPACK_VERSION; }

AviWriter::~AviWriter()
{
    abandon();
    std::free(index);
}

bool AviWriter::write(const void* data, std::size_t size)
{
    if (error != AviError::none) {
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, out) != size) {
        error = AviError::write_failed;
        return false;
    }
    position += size;
    return true;
}

int AviWriter::init(const char* name, int width, int height, int rate, int scale, int compressed)
{
    filename = name;
    frame_count = 0;
    index_capacity = 0;
    max_chunk_size = 0;
    std::free(index);
    index = nullptr;
    position = 0;
    error = AviError::none;

    zero::deRLE(compact_empty, compact_empty_size, header, avi_header_size, 1);

    put_le32(header + avi_offset::main_width, static_cast<std::uint32_t>(width));
    put_le32(header + avi_offset::bitmap_width, static_cast<std::uint32_t>(width));
    put_le32(header + avi_offset::main_height, static_cast<std::uint32_t>(height));
    put_le32(header + avi_offset::bitmap_height, static_cast<std::uint32_t>(height));
    put_le32(header + avi_offset::stream_scale, static_cast<std::uint32_t>(scale));
    put_le32(header + avi_offset::stream_rate, static_cast<std::uint32_t>(rate));
    put_le32(header + avi_offset::bitmap_image_size,
             static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 3u);
    put_le32(header + avi_offset::micro_sec_per_frame, micro_seconds_per_frame(rate, scale));
    // The frame rectangle covers the picture: left 0, top 0, right, bottom.
    put_le16(header + avi_offset::frame_rect + 4, static_cast<unsigned>(width));
    put_le16(header + avi_offset::frame_rect + 6, static_cast<unsigned>(height));
    if (compressed) {
        std::memcpy(header + avi_offset::stream_handler, "trvc", 4);
        std::memcpy(header + avi_offset::bitmap_compression, "TRVC", 4);
    } else {
        std::memcpy(header + avi_offset::stream_handler, "DIB ", 4);
        put_le32(header + avi_offset::bitmap_compression, 0);
    }

    out = std::fopen(filename, "wb");
    if (out == nullptr) {
        std::fprintf(report, "Unable to open output file %s\n", filename);
        return 0;
    }
    // Frames are large and written whole; a big buffer keeps the small chunk
    // headers from costing a system call each.
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);

    const char* credit = avi_credit_text();
    std::memcpy(header + avi_offset::credit_text, credit, std::strlen(credit) + 1);

    // A failed write shows in `error`, which the next frame and flush() report.
    write(header, avi_header_size);
    return 1;
}

int AviWriter::write_frame(unsigned char* data, int size, int flags)
{
    if (error != AviError::none) {
        return 0;
    }
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    const std::uint32_t stored = padded(length);
    if (finished_length(position + 8 + stored, static_cast<std::uint64_t>(frame_count) + 1) >= max_file_size) {
        error = AviError::too_large;
        return 0;
    }
    if (max_chunk_size < size + 4) {
        max_chunk_size = size + 4;
    }
    data[size] = 0;
    data[size + 1] = 0;
    data[size + 2] = 0;

    const std::uint64_t chunk_position = position;
    unsigned char chunk_header[8];
    std::memcpy(chunk_header, "00dc", 4);
    put_le32(chunk_header + 4, length);
    if (!write(chunk_header, 8) || !write(data, stored)) {
        return 0;
    }

    if (frame_count >= index_capacity) {
        const std::size_t capacity = static_cast<std::size_t>(index_capacity) + index_growth;
        void* grown = std::realloc(index, capacity * index_entry_size);
        if (grown == nullptr) {
            error = AviError::write_failed;
            return 0;
        }
        index = static_cast<unsigned char*>(grown);
        index_capacity = static_cast<std::int32_t>(capacity);
    }
    unsigned char* entry = index + static_cast<std::size_t>(frame_count) * index_entry_size;
    std::memcpy(entry, "00dc", 4);
    put_le32(entry + 4, static_cast<std::uint32_t>(flags));
    put_le32(entry + 8, static_cast<std::uint32_t>(chunk_position - avi_offset::movi_code));
    put_le32(entry + 12, stored);
    ++frame_count;
    return 1;
}

int AviWriter::flush()
{
    if (error != AviError::none) {
        return 0;
    }
    const std::uint32_t frames = static_cast<std::uint32_t>(frame_count);
    put_le32(header + avi_offset::total_frames, frames);
    put_le32(header + avi_offset::main_suggested_buffer, 0);
    put_le32(header + avi_offset::movi_size, static_cast<std::uint32_t>(position - avi_offset::movi_code));
    put_le32(header + avi_offset::stream_length, frames);
    put_le32(header + avi_offset::stream_start, 0);
    put_le32(header + avi_offset::stream_suggested_buffer, static_cast<std::uint32_t>(max_chunk_size));
    put_le32(header + avi_offset::dmlh_total_frames, frames);

    unsigned char index_header[8];
    std::memcpy(index_header, "idx1", 4);
    put_le32(index_header + 4, frames * index_entry_size);
    if (!write(index_header, 8) || !write(index, static_cast<std::size_t>(frames) * index_entry_size) ||
        !write("JUNK", 4)) {
        return 0;
    }
    static const unsigned char tail[1024] = {};
    const std::uint64_t q = position;
    if (!write(tail, static_cast<std::size_t>((q + 1024) / 1024 * 1024 - q))) {
        return 0;
    }
    put_le32(header + avi_offset::riff_size, static_cast<std::uint32_t>(position - 8));

    const bool closed = std::fclose(out) == 0;
    out = nullptr;
    if (!closed) {
        error = AviError::write_failed;
        return 0;
    }

    // Go back once to complete the header: everything up to and including
    // the "movi" list size.
    std::FILE* again = std::fopen(filename, "r+b");
    if (again == nullptr) {
        error = AviError::write_failed;
        return 0;
    }
    bool ok = std::fseek(again, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, avi_offset::movi_code, again) == static_cast<std::size_t>(avi_offset::movi_code) &&
              std::fflush(again) == 0;
    ok = (std::fclose(again) == 0) && ok;
    if (!ok) {
        error = AviError::write_failed;
        return 0;
    }
    return 1;
}

void AviWriter::abandon()
{
    if (out != nullptr) {
        std::fclose(out);
        out = nullptr;
    }
}
