#include "avi/avi_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "entropy/zero.h"
#include "common/byte_order.h"

namespace {

constexpr int index_entry_size = 16;
constexpr int riff_entry_size = 8;
constexpr int index_growth = 512;
constexpr int standard_index_header = 32;   // "ix00" and its fields before the entries
constexpr int extension_header = 24;        // "RIFF" size "AVIX" "LIST" size "movi"
constexpr std::uint64_t tail_reserve = 4 + 1024;  // "JUNK" and at most 1,024 zero bytes
constexpr std::uint32_t not_key_frame = 0x80000000u;

std::uint32_t padded(std::uint32_t size) { return (size + 3u) & ~3u; }

std::uint64_t standard_index_bytes(std::uint64_t frames) { return standard_index_header + frames * riff_entry_size; }

std::uint64_t idx1_bytes(std::uint64_t frames) { return 8 + frames * index_entry_size; }

// The file's final length if `entries` index entries follow the chunks that
// end at `chunks_end`: "idx1", the entries, "JUNK" and the tail up to the
// next multiple of 1,024.
std::uint64_t finished_length(std::uint64_t chunks_end, std::uint64_t entries)
{
    const std::uint64_t q = chunks_end + idx1_bytes(entries) + 4;
    return (q + 1024) / 1024 * 1024;
}

// The chunks of a RIFF: frames, and sound chunks in a file with sound,
// whose standard indexes ("ix01" too, then) close it.
struct RiffChunks {
    std::uint64_t frames;
    std::uint64_t sound;
    bool has_sound;

    std::uint64_t standard_indexes() const
    {
        return standard_index_bytes(frames) + (has_sound ? standard_index_bytes(sound) : 0);
    }
};

// Whether the first RIFF can hold chunks that end at `chunks_end`: finished
// as a plain file, and closed with its standard indexes and "idx1" when
// more follow, it must stay below the limit.
bool first_riff_holds(std::uint64_t chunks_end, RiffChunks chunks, std::uint64_t limit)
{
    const std::uint64_t entries = chunks.frames + chunks.sound;
    return finished_length(chunks_end, entries) < limit &&
           chunks_end + chunks.standard_indexes() + idx1_bytes(entries) < limit;
}

// Whether an "AVIX" RIFF whose chunks take `riff_bytes` from its start can
// hold them with its standard indexes and the tail. One chunk always goes
// in, however large, so that every frame finds a RIFF.
bool extension_holds(std::uint64_t riff_bytes, RiffChunks chunks, std::uint64_t limit)
{
    return chunks.frames + chunks.sound <= 1 || riff_bytes + chunks.standard_indexes() + tail_reserve <= limit;
}

// The largest n in [0, most] for which holds(n) is true, for a predicate
// that stays true up to some n and false after it; holds(0) is taken as true.
template <typename Holds>
std::uint64_t largest_held(std::uint64_t most, Holds holds)
{
    std::uint64_t low = 0;
    std::uint64_t high = most;
    while (low < high) {
        const std::uint64_t mid = low + (high - low + 1) / 2;
        if (holds(mid)) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
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

std::uint64_t avi_riff_count(std::uint64_t frames, std::uint32_t frame_size, std::uint64_t first_limit,
                             std::uint64_t extension_limit)
{
    if (frames == 0) {
        return 1;
    }
    const std::uint64_t chunk = 8 + std::uint64_t(padded(frame_size));
    const std::uint64_t in_first = largest_held(frames, [&](std::uint64_t n) {
        return first_riff_holds(avi_offset::first_chunk + n * chunk, RiffChunks{n, 0, false}, first_limit);
    });
    if (in_first == 0) {
        return 0;
    }
    if (in_first == frames) {
        return 1;
    }
    const std::uint64_t rest = frames - in_first;
    const std::uint64_t per_extension = largest_held(rest, [&](std::uint64_t n) {
        return extension_holds(extension_header + n * chunk, RiffChunks{n, 0, false}, extension_limit);
    });
    return 1 + (rest + per_extension - 1) / per_extension;
}

const char* avi_credit_text() { return "reelpack " REELPACK_VERSION; }

int avi_sound_format(const AviSound& sound, unsigned char* out)
{
    // The speaker positions of the usual layouts of 1 to 8 channels.
    static const std::uint32_t channel_masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
    const bool extensible = sound.channels > 2 || (!sound.is_float && sound.bits > 16);
    const unsigned block = static_cast<unsigned>(sound.block());
    std::memset(out, 0, 40);
    put_le16(out, extensible ? 0xFFFEu : (sound.is_float ? 3u : 1u));
    put_le16(out + 2, static_cast<unsigned>(sound.channels));
    put_le32(out + 4, sound.rate);
    put_le32(out + 8, sound.rate * block);
    put_le16(out + 12, block);
    put_le16(out + 14, static_cast<unsigned>(sound.bits));
    if (!extensible) {
        return 18;
    }
    put_le16(out + 16, 22);  // the bytes that follow
    put_le16(out + 18, static_cast<unsigned>(sound.bits));
    put_le32(out + 20, channel_masks[sound.channels >= 1 && sound.channels <= 8 ? sound.channels : 0]);
    // The sub-format: PCM (1) or IEEE float (3), then the fixed GUID tail.
    static const unsigned char guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    put_le16(out + 24, sound.is_float ? 3u : 1u);
    std::memcpy(out + 26, guid_tail, sizeof guid_tail);
    return 40;
}

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
    if (error != AviError::none) {
        return false;
    }
    if (!write_output(output, first, first_size, second, second_size)) {
        error = AviError::write_failed;
        return false;
    }
    position += first_size + second_size;
    start_writeback(output, position);
    return true;
}

bool AviWriter::write_at(const void* data, std::size_t size, std::uint64_t at)
{
    return write_output_at(output, data, size, at);
}

int AviWriter::init(const char* filename, int width, int height, int rate, int scale, int compressed, int bit_count,
                    const AviSound* with_sound)
{
    frame_count = 0;
    index_count = 0;
    index_capacity = 0;
    max_chunk_size = 0;
    std::free(index);
    index = nullptr;
    position = 0;
    error = AviError::none;
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
    put_le16(header + avi_offset::bitmap_bit_count, static_cast<unsigned>(bit_count));
    put_le32(header + avi_offset::bitmap_image_size, static_cast<std::uint32_t>(width) *
                                                         static_cast<std::uint32_t>(height) *
                                                         static_cast<std::uint32_t>(bit_count / 8));
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

    if (filename != nullptr && !open_output(output, filename)) {
        std::fprintf(report, "Unable to open output file %s\n", filename);
        return 0;
    }

    const char* credit = avi_credit_text();
    std::memcpy(header + credit_at, credit, std::strlen(credit) + 1);

    // A failed write shows in `error`, which the next frame and flush() report.
    write(header, static_cast<std::size_t>(header_size));
    return 1;
}

// Makes the header one of a file with sound: the sound's list goes in after
// the video's, what followed moves on, and "movi" starts a page later.
void AviWriter::add_sound_list()
{
    using avi_offset::sound_list;
    using avi_offset::sound_shift;
    using avi_offset::sound_movi_shift;
    constexpr int moved_end = 0x1208;  // "odml" and the credit chunk's header
    unsigned char movi_list[12];
    std::memcpy(movi_list, header + avi_offset::movi_code - 8, sizeof movi_list);
    std::memmove(header + sound_list + sound_shift, header + sound_list, moved_end - sound_list);
    header_size = avi_header_size + sound_movi_shift;
    std::memset(header + sound_list, 0, sound_shift);
    std::memset(header + moved_end + sound_shift, 0, std::size_t(header_size - moved_end - sound_shift));
    const int movi_list_at = avi_offset::movi_code - 8 + sound_movi_shift;
    std::memcpy(header + movi_list_at, movi_list, sizeof movi_list);
    put_le32(header + moved_end + sound_shift - 4, static_cast<std::uint32_t>(movi_list_at - moved_end - sound_shift));
    put_le32(header + 0x10, get_le32(header + 0x10) + sound_shift);  // the "hdrl" list
    put_le32(header + 0x38, 2);                                      // streams

    unsigned char* list = header + sound_list;
    std::memcpy(list, "LIST", 4);
    put_le32(list + 4, sound_shift - 8);
    std::memcpy(list + 8, "strl", 4);
    std::memcpy(list + 12, "strh", 4);
    put_le32(list + 16, 56);
    unsigned char* strh = header + avi_offset::sound_stream_header;
    std::memcpy(strh, "auds", 4);
    const std::uint32_t block = static_cast<std::uint32_t>(sound.block());
    put_le32(strh + 20, block);               // scale: a sample frame's bytes
    put_le32(strh + 24, sound.rate * block);  // rate: bytes a second
    put_le32(strh + 40, 0xFFFFFFFFu);         // quality: none given
    put_le32(strh + 44, block);               // sample size
    unsigned char* strf = header + avi_offset::sound_format;
    std::memcpy(strf, "strf", 4);
    const int format_size = avi_sound_format(sound, strf + 8);
    put_le32(strf + 4, static_cast<std::uint32_t>(format_size));
    if (format_size < 40) {
        // The rest of the 40-byte slot is a chunk of its own.
        std::memcpy(strf + 8 + format_size, "JUNK", 4);
        put_le32(strf + 12 + format_size, static_cast<std::uint32_t>(40 - format_size - 8));
    }
    std::memcpy(header + avi_offset::sound_super_index, "JUNK", 4);
    put_le32(header + avi_offset::sound_super_index + 4, standard_index_header + 16 * avi_max_riffs - 8);
}

// Makes room for a frame chunk of `size` bytes: continues the file in a
// new RIFF where the open one cannot hold it, and notes the chunk's place
// and header.
bool AviWriter::begin_chunk(int size, bool is_sound)
{
    if (error != AviError::none) {
        return false;
    }
    if (size < 0 || static_cast<std::uint32_t>(size) > avi_max_frame_size) {
        error = AviError::frame_too_large;
        return false;
    }
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    // Sound chunks are padded to a multiple of four bytes as frames are, so
    // that every chunk starts on one.
    const std::uint64_t chunk = 8 + std::uint64_t(padded(length));
    const std::uint64_t more_frames = is_sound ? 0 : 1;
    const std::uint64_t more_sound = is_sound ? 1 : 0;
    if (riff_count == 1) {
        const RiffChunks chunks{std::uint64_t(frame_count) + more_frames,
                                std::uint64_t(index_count - frame_count) + more_sound, has_sound};
        if (!first_riff_holds(position + chunk, chunks, first_riff_limit)) {
            if (index_count == 0) {
                error = AviError::frame_too_large;
                return false;
            }
            if (!close_first_riff() || !begin_extension()) {
                return false;
            }
        }
    } else if (!extension_holds(position + chunk - riff_start,
                                RiffChunks{std::uint64_t(riff_frames) + more_frames,
                                           std::uint64_t(sound_riff_chunks) + more_sound, has_sound},
                                riff_limit)) {
        if (!close_extension() || !begin_extension()) {
            return false;
        }
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
        if (!reserve_entry(index, index_capacity, index_count, index_entry_size)) {
            error = AviError::write_failed;
            return false;
        }
        unsigned char* entry = index + static_cast<std::size_t>(index_count) * index_entry_size;
        std::memcpy(entry, chunk_header, 4);
        put_le32(entry + 4, static_cast<std::uint32_t>(flags));
        put_le32(entry + 8, static_cast<std::uint32_t>(chunk_position - movi_code));
        put_le32(entry + 12, chunk_sound ? length : padded(length));
        ++index_count;
    }
    unsigned char*& entries = chunk_sound ? sound_riff_index : riff_index;
    std::int32_t& used = chunk_sound ? sound_riff_chunks : riff_frames;
    if (!reserve_entry(entries, chunk_sound ? sound_riff_capacity : riff_index_capacity, used, riff_entry_size)) {
        error = AviError::write_failed;
        return false;
    }
    unsigned char* entry = entries + static_cast<std::size_t>(used) * riff_entry_size;
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
    if (!write2(chunk_header, 8, data, padded(chunk_length))) {
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
        error = AviError::frame_too_large;  // more than the frame begun
        return 0;
    }
    chunk_written += static_cast<std::uint32_t>(size);
    return write(part, size) ? 1 : 0;
}

int AviWriter::end_frame()
{
    if (chunk_written != chunk_length) {
        error = AviError::write_failed;  // fewer bytes than the frame begun
        return 0;
    }
    static const unsigned char zeros[3] = {};
    if (!write(zeros, padded(chunk_length) - chunk_length)) {
        return 0;
    }
    return end_chunk(chunk_flags) ? 1 : 0;
}

int AviWriter::write_sound(const unsigned char* data, std::uint32_t size)
{
    if (!has_sound || size > avi_max_frame_size || !begin_chunk(static_cast<int>(size), true)) {
        if (error == AviError::none) {
            error = AviError::frame_too_large;
        }
        return 0;
    }
    static const unsigned char pad[3] = {};
    if (!write2(chunk_header, 8, data, size) || !write(pad, padded(size) - size)) {
        return 0;
    }
    return end_chunk(AVIIF_KEYFRAME) ? 1 : 0;
}

// The open RIFF's "ix00" (or the sound's "ix01") at the end of its "movi"
// list, and its entry in the stream's super index, which gives a frame
// count or the sample frames.
bool AviWriter::write_standard_index(bool of_sound)
{
    const std::uint32_t chunks = static_cast<std::uint32_t>(of_sound ? sound_riff_chunks : riff_frames);
    const std::uint64_t chunk_bytes = standard_index_bytes(chunks);
    const int super_index = of_sound ? avi_offset::sound_super_index : avi_offset::super_index;
    unsigned char* super_entry = header + super_index + standard_index_header + 16 * (riff_count - 1);
    put_le64(super_entry, position);
    put_le32(super_entry + 8, static_cast<std::uint32_t>(chunk_bytes));
    put_le32(super_entry + 12, of_sound ? static_cast<std::uint32_t>(sound_riff_samples) : chunks);

    unsigned char head[standard_index_header] = {};
    std::memcpy(head, of_sound ? "ix01" : "ix00", 4);
    put_le32(head + 4, static_cast<std::uint32_t>(chunk_bytes - 8));
    put_le16(head + 8, 2);  // longs per entry
    head[10] = 0;           // sub-type
    head[11] = 1;           // an index of chunks
    put_le32(head + 12, chunks);
    std::memcpy(head + 16, of_sound ? "01wb" : "00dc", 4);
    put_le64(head + 20, movi_base);
    if (of_sound) {
        sound_riff_chunks = 0;
        sound_riff_samples = 0;
    } else {
        riff_frames = 0;
    }
    return write2(head, sizeof head, of_sound ? sound_riff_index : riff_index, std::size_t(chunks) * riff_entry_size);
}

bool AviWriter::write_standard_indexes()
{
    return write_standard_index(false) && (!has_sound || write_standard_index(true));
}

// "JUNK" and the zero bytes that bring the file's length to the next
// multiple of 1,024 (1 to 1,024 of them).
bool AviWriter::write_tail()
{
    static const unsigned char zeros[1024] = {};
    const std::uint64_t q = position + 4;
    return write2("JUNK", 4, zeros, static_cast<std::size_t>((q + 1024) / 1024 * 1024 - q));
}

// Ends the first RIFF before a frame it cannot hold: its "ix00", then the
// "idx1" of its frames, which AVI 1.0 readers use.
bool AviWriter::close_first_riff()
{
    if (!write_standard_indexes()) {
        return false;
    }
    put_le32(header + movi_code - 4, static_cast<std::uint32_t>(position - movi_code));
    first_riff_frames = frame_count;
    const std::uint32_t entries = static_cast<std::uint32_t>(index_count);
    unsigned char index_header[8];
    std::memcpy(index_header, "idx1", 4);
    put_le32(index_header + 4, entries * index_entry_size);
    if (!write2(index_header, 8, index, std::size_t(entries) * index_entry_size)) {
        return false;
    }
    put_le32(header + avi_offset::riff_size, static_cast<std::uint32_t>(position - 8));
    // Later frames are indexed by their "ix00" only.
    std::free(index);
    index = nullptr;
    index_capacity = 0;
    return true;
}

// Ends an "AVIX" RIFF with its "ix00". Its sizes are written by flush(), which goes back to them.
bool AviWriter::close_extension()
{
    if (!write_standard_indexes()) {
        return false;
    }
    AviExtension& extension = extensions[riff_count - 2];
    extension.movi_size = static_cast<std::uint32_t>(position - movi_base);
    extension.riff_size = static_cast<std::uint32_t>(position - riff_start - 8);
    return true;
}

bool AviWriter::begin_extension()
{
    if (riff_count == avi_max_riffs) {
        error = AviError::too_many_riffs;
        return false;
    }
    riff_start = position;
    movi_base = riff_start + 20;
    AviExtension& extension = extensions[riff_count - 1];
    extension.riff_start = riff_start;
    extension.riff_size = 0;
    extension.movi_size = 0;
    ++riff_count;
    unsigned char head[extension_header] = {};
    std::memcpy(head, "RIFF", 4);
    std::memcpy(head + 8, "AVIX", 4);
    std::memcpy(head + 12, "LIST", 4);
    std::memcpy(head + 20, "movi", 4);
    return write(head, sizeof head);
}

int AviWriter::flush()
{
    if (error != AviError::none) {
        return 0;
    }
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

    if (riff_count == 1) {
        put_le32(header + avi_offset::total_frames, frames);
        put_le32(header + movi_code - 4, static_cast<std::uint32_t>(position - movi_code));
        const std::uint32_t entries = static_cast<std::uint32_t>(index_count);
        unsigned char index_header[8];
        std::memcpy(index_header, "idx1", 4);
        put_le32(index_header + 4, entries * index_entry_size);
        if (!write2(index_header, 8, index, static_cast<std::size_t>(entries) * index_entry_size) || !write_tail()) {
            return 0;
        }
        put_le32(header + avi_offset::riff_size, static_cast<std::uint32_t>(position - 8));
    } else {
        // The last RIFF carries the tail, inside its size.
        if (!close_extension() || !write_tail()) {
            return 0;
        }
        extensions[riff_count - 2].riff_size = static_cast<std::uint32_t>(position - riff_start - 8);
        // The main header counts the frames of the first RIFF, as readers of
        // plain AVI files expect; the stream and "dmlh" count them all.
        put_le32(header + avi_offset::total_frames, static_cast<std::uint32_t>(first_riff_frames));
        for (int s = 0; s < (has_sound ? 2 : 1); ++s) {
            unsigned char* indx = header + (s == 0 ? avi_offset::super_index : avi_offset::sound_super_index);
            std::memcpy(indx, "indx", 4);
            put_le16(indx + 8, 4);  // longs per entry
            indx[10] = 0;           // sub-type
            indx[11] = 0;           // an index of indexes
            put_le32(indx + 12, static_cast<std::uint32_t>(riff_count));
            std::memcpy(indx + 16, s == 0 ? "00dc" : "01wb", 4);
        }
    }

    // Go back once to complete the header, everything up to and including
    // the "movi" list size, and the sizes of the "AVIX" RIFFs.
    bool ok = write_at(header, static_cast<std::size_t>(movi_code), 0);
    for (int i = 0; ok && i < riff_count - 1; ++i) {
        unsigned char riff_size[4];
        unsigned char movi_size[4];
        put_le32(riff_size, extensions[i].riff_size);
        put_le32(movi_size, extensions[i].movi_size);
        ok = write_at(riff_size, 4, extensions[i].riff_start + 4) &&
             write_at(movi_size, 4, extensions[i].riff_start + 16);
    }
    if (!ok || !finish_output(output)) {
        error = AviError::write_failed;
        return 0;
    }
    return 1;
}

void AviWriter::abandon() { discard_output(output); }
