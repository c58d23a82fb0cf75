#include "avi/avi_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "entropy/zero.h"

namespace {

using avi_size::idx1_entry;
using avi_size::standard_entry;

constexpr int index_growth = 512;
constexpr std::uint32_t not_key_frame = 0x80000000u;

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

// Makes room for one more entry of `entry_size` bytes, growing by 512
// entries at a time.
bool reserve_entry(unsigned char*& entries, std::int32_t& capacity, std::int32_t used, int entry_size)
{
    if (used < capacity) {
        return true;
    }
    const std::size_t grown_capacity = static_cast<std::size_t>(capacity) + index_growth;
    void* grown = std::realloc(entries, grown_capacity * static_cast<std::size_t>(entry_size));
    if (grown == nullptr) {
        return false;
    }
    entries = static_cast<unsigned char*>(grown);
    capacity = static_cast<std::int32_t>(grown_capacity);
    return true;
}

}  // namespace

const char* avi_credit_text() { return "reelpack " REELPACK_VERSION; }

AviWriter::~AviWriter()
{
    abandon();
    std::free(index);
    std::free(riff_index);
    std::free(sound_riff_index);
}

bool AviWriter::write(const void* data, std::size_t size)
{
    return write2(data, size, nullptr, 0);
}

// A frame goes out straight from the caller's buffer behind its chunk
// header, with no copy in between.
bool AviWriter::write2(const void* first, std::size_t first_size, const void* second, std::size_t second_size)
{
    if (failure.failed() || !keep(write_output(output, first, first_size, second, second_size))) {
        return false;
    }
    position += first_size + second_size;
    start_writeback(output, position);
    return true;
}

bool AviWriter::write_at(const void* data, std::size_t size, std::uint64_t at)
{
    return keep(write_output_at(output, data, size, at));
}

bool AviWriter::keep(const Failure& cause)
{
    if (!cause.failed()) {
        return true;
    }
    if (!failure.failed()) {
        failure = cause;
    }
    return false;
}

bool AviWriter::fail(Fault fault)
{
    const std::int64_t number = fault == Fault::avi_frame_too_large ? std::int64_t(avi_max_frame_size)
                                : fault == Fault::avi_too_many_riffs ? std::int64_t(max_riffs)
                                                                     : 0;
    return keep(make_failure(fault, output.name, number));
}

int AviWriter::init(const char* filename, int width, int height, int rate, int scale, int compressed,
                    const AviVideo& video, const AviSound* with_sound)
{
    frame_count = 0;
    index_count = 0;
    index_capacity = 0;
    max_chunk_size = 0;
    std::free(index);
    index = nullptr;
    position = 0;
    failure = Failure{};
    riff_frames = 0;
    riff_start = 0;
    riff_count = 1;
    first_riff_frames = 0;
    has_sound = with_sound != nullptr;
    sound = has_sound ? *with_sound : AviSound{};
    sound_riff_chunks = 0;
    sound_riff_samples = 0;
    sound_samples = 0;
    max_sound_chunk = 0;
    super_index_at = avi_offset::super_index;
    max_riffs = avi_max_riffs;

    zero::deRLE(compact_empty, compact_empty_size, header, avi_header_size, 1);
    int credit_at = avi_offset::credit_text;
    if (has_sound) {
        add_sound_list();
        credit_at += avi_offset::sound_shift;
    }
    movi_code = std::uint64_t(header_size) - 4;
    movi_base = movi_code;

    put_le32(header + avi_offset::main_width, static_cast<std::uint32_t>(width));
    put_le32(header + avi_offset::bitmap_width, static_cast<std::uint32_t>(width));
    put_le32(header + avi_offset::main_height, static_cast<std::uint32_t>(height));
    put_le32(header + avi_offset::bitmap_height, static_cast<std::uint32_t>(height));
    put_le32(header + avi_offset::stream_scale, static_cast<std::uint32_t>(scale));
    put_le32(header + avi_offset::stream_rate, static_cast<std::uint32_t>(rate));
    put_le16(header + avi_offset::bitmap_bit_count, static_cast<unsigned>(video.bit_count));
    put_le32(header + avi_offset::bitmap_image_size,
             video.image_size != 0 ? video.image_size
                                   : static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) *
                                         static_cast<std::uint32_t>(video.bit_count / 8));
    put_le32(header + avi_offset::micro_sec_per_frame, micro_seconds_per_frame(rate, scale));
    // The frame rectangle covers the picture: left 0, top 0, right, bottom.
    put_le16(header + avi_offset::frame_rect + 4, static_cast<unsigned>(width));
    put_le16(header + avi_offset::frame_rect + 6, static_cast<unsigned>(height));
    if (compressed) {
        std::memcpy(header + avi_offset::stream_handler, "trvc", 4);
        std::memcpy(header + avi_offset::bitmap_compression, "TRVC", 4);
        if (video.planes.layout != 0) {
            add_planes_record(video.planes);
        }
    } else if (video.plain_code != 0) {
        put_le32(header + avi_offset::stream_handler, video.plain_code);
        put_le32(header + avi_offset::bitmap_compression, video.plain_code);
    } else {
        std::memcpy(header + avi_offset::stream_handler, "DIB ", 4);
        put_le32(header + avi_offset::bitmap_compression, 0);
    }

    if (filename != nullptr && !keep(open_output(output, filename))) {
        std::fprintf(report, "%s\n", failure_text(failure).c_str());
        return 0;
    }

    const char* credit = avi_credit_text();
    std::memcpy(header + credit_at, credit, std::strlen(credit) + 1);

    // A failed write shows in `failure`, which the next frame and flush() report.
    write(header, static_cast<std::size_t>(header_size));
    return 1;
}

void avi_planes_record(const AviPlanesRecord& record, unsigned char* out)
{
    std::memcpy(out, "TRVL", 4);
    put_le32(out + 4, record.plain_code);
    put_le32(out + 8, record.data_format);
    out[12] = static_cast<unsigned char>(record.layout);
    out[13] = static_cast<unsigned char>(record.bits);
    out[14] = 0;
    out[15] = 0;
}

// The record goes inside "strf", after the bitmap header, whose size
// counts it (as players expect of format data); the "JUNK" chunk after it
// gives up its room.
void AviWriter::add_planes_record(const AviPlanesRecord& record)
{
    constexpr std::uint32_t format_with_record = 40 + avi_record_size;
    put_le32(header + avi_offset::format_size, format_with_record);
    put_le32(header + avi_offset::bitmap_size, format_with_record);
    avi_planes_record(record, header + avi_offset::format_data);
    super_index_at = avi_offset::super_index + avi_record_size;
    max_riffs = avi_max_riffs - 1;
    std::memcpy(header + super_index_at, "JUNK", 4);
    put_le32(header + super_index_at + 4, avi_size::standard_index_header + 16 * max_riffs - 8);
}

// Makes room for a frame chunk of `size` bytes: continues the file in a
// new RIFF where the open one cannot hold it, and notes the chunk's place
// and header.
bool AviWriter::begin_chunk(int size, bool is_sound)
{
    if (failure.failed()) {
        return false;
    }
    if (size < 0 || static_cast<std::uint32_t>(size) > avi_max_frame_size) {
        return fail(Fault::avi_frame_too_large);
    }
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    if (!make_room(8 + std::uint64_t(avi_padded(length)), is_sound)) {
        return false;
    }
    if (is_sound) {
        max_sound_chunk = std::max(max_sound_chunk, length);
    } else if (max_chunk_size < size + 4) {
        max_chunk_size = size + 4;
    }
    chunk_position = position;
    chunk_length = length;
    chunk_sound = is_sound;
    std::memcpy(chunk_header, is_sound ? "01wb" : "00dc", 4);
    put_le32(chunk_header + 4, length);
    return true;
}

// The index entries of the chunk just written.
// A frame's entry in "idx1" gives its padded length, a sound chunk's its
// own, from which readers count the samples.
bool AviWriter::end_chunk(int flags)
{
    const std::uint32_t length = chunk_length;
    if (riff_count == 1) {
        if (!reserve_entry(index, index_capacity, index_count, idx1_entry)) {
            return fail(Fault::output_write);
        }
        unsigned char* entry = index + static_cast<std::size_t>(index_count) * idx1_entry;
        std::memcpy(entry, chunk_header, 4);
        put_le32(entry + 4, static_cast<std::uint32_t>(flags));
        put_le32(entry + 8, static_cast<std::uint32_t>(chunk_position - movi_code));
        put_le32(entry + 12, chunk_sound ? length : avi_padded(length));
        ++index_count;
    }
    unsigned char*& entries = chunk_sound ? sound_riff_index : riff_index;
    std::int32_t& used = chunk_sound ? sound_riff_chunks : riff_frames;
    if (!reserve_entry(entries, chunk_sound ? sound_riff_capacity : riff_index_capacity, used, standard_entry)) {
        return fail(Fault::output_write);
    }
    unsigned char* entry = entries + static_cast<std::size_t>(used) * standard_entry;
    put_le32(entry, static_cast<std::uint32_t>(chunk_position + 8 - movi_base));
    put_le32(entry + 4, (std::uint32_t(flags) & AVIIF_KEYFRAME) != 0 ? length : (length | not_key_frame));
    ++used;
    if (chunk_sound) {
        const std::uint64_t samples = length / static_cast<std::uint32_t>(sound.block());
        sound_riff_samples += samples;
        sound_samples += samples;
    } else {
        ++frame_count;
    }
    return true;
}

int AviWriter::write_frame(unsigned char* data, int size, int flags)
{
    if (!begin_chunk(size, false)) {
        return 0;
    }
    std::memset(data + size, 0, avi_frame_room);
    if (!write2(chunk_header, 8, data, avi_padded(chunk_length))) {
        return 0;
    }
    return end_chunk(flags) ? 1 : 0;
}

int AviWriter::begin_frame(int size, int flags)
{
    if (!begin_chunk(size, false)) {
        return 0;
    }
    chunk_flags = flags;
    chunk_written = 0;
    return write(chunk_header, 8) ? 1 : 0;
}

int AviWriter::write_frame_part(const unsigned char* part, std::size_t size)
{
    if (size > chunk_length - chunk_written) {
        fail(Fault::avi_frame_too_large);  // more than the frame begun
        return 0;
    }
    chunk_written += static_cast<std::uint32_t>(size);
    return write(part, size) ? 1 : 0;
}

int AviWriter::end_frame()
{
    if (chunk_written != chunk_length) {
        fail(Fault::output_write);  // fewer bytes than the frame begun
        return 0;
    }
    static const unsigned char zeros[3] = {};
    if (!write(zeros, avi_padded(chunk_length) - chunk_length)) {
        return 0;
    }
    return end_chunk(chunk_flags) ? 1 : 0;
}

int AviWriter::write_sound(const unsigned char* data, std::uint32_t size)
{
    if (!has_sound || size > avi_max_frame_size || !begin_chunk(static_cast<int>(size), true)) {
        fail(Fault::avi_frame_too_large);  // kept only when nothing failed before
        return 0;
    }
    static const unsigned char pad[3] = {};
    if (!write2(chunk_header, 8, data, size) || !write(pad, avi_padded(size) - size)) {
        return 0;
    }
    return end_chunk(AVIIF_KEYFRAME) ? 1 : 0;
}

// The "idx1" of the first RIFF's chunks, which AVI 1.0 readers use, after
// its "movi" list, whose size it completes.
bool AviWriter::write_idx1()
{
    put_le32(header + movi_code - 4, static_cast<std::uint32_t>(position - movi_code));
    const std::uint32_t entries = static_cast<std::uint32_t>(index_count);
    unsigned char index_header[8];
    std::memcpy(index_header, "idx1", 4);
    put_le32(index_header + 4, entries * idx1_entry);
    return write2(index_header, 8, index, std::size_t(entries) * idx1_entry);
}

// "JUNK" and the zero bytes that bring the file's length to the next
// multiple of 1,024 (1 to 1,024 of them).
bool AviWriter::write_tail()
{
    static const unsigned char zeros[1024] = {};
    const std::uint64_t q = position + 4;
    return write2("JUNK", 4, zeros, static_cast<std::size_t>((q + 1024) / 1024 * 1024 - q));
}

// The counts and largest chunks that only the end of the file knows.
void AviWriter::fill_counts()
{
    const std::uint32_t frames = static_cast<std::uint32_t>(frame_count);
    put_le32(header + avi_offset::main_suggested_buffer, 0);
    put_le32(header + avi_offset::stream_length, frames);
    put_le32(header + avi_offset::stream_start, 0);
    put_le32(header + avi_offset::stream_suggested_buffer, static_cast<std::uint32_t>(max_chunk_size));
    put_le32(header + avi_offset::dmlh_total_frames + (has_sound ? avi_offset::sound_shift : 0), frames);
    if (has_sound) {
        put_le32(header + avi_offset::sound_stream_length, static_cast<std::uint32_t>(sound_samples));
        put_le32(header + avi_offset::sound_suggested_buffer, max_sound_chunk);
    }
}

int AviWriter::flush()
{
    if (failure.failed()) {
        return 0;
    }
    fill_counts();
    if (riff_count == 1) {
        put_le32(header + avi_offset::total_frames, static_cast<std::uint32_t>(frame_count));
        if (!write_idx1() || !write_tail()) {
            return 0;
        }
        put_le32(header + avi_offset::riff_size, static_cast<std::uint32_t>(position - 8));
    } else if (!close_last_riff()) {
        return 0;
    }
    // Go back once to complete the header, everything up to and including
    // the "movi" list size, then the sizes of the "AVIX" RIFFs.
    if (!write_at(header, static_cast<std::size_t>(movi_code), 0) || !write_back_extensions() ||
        !keep(finish_output(output))) {
        return 0;
    }
    return 1;
}

void AviWriter::abandon() { discard_output(output); }
