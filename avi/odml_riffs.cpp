// The writer's side of files past 2 GiB: where a RIFF must end, the
// standard indexes that close each one, the "AVIX" RIFFs after the first,
// and the count of RIFFs a run can know before it writes anything.
#include "avi/avi_writer.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"

namespace {

using avi_size::extension_header;
using avi_size::idx1_entry;
using avi_size::standard_entry;
using avi_size::standard_index_header;

constexpr std::uint64_t tail_reserve = 4 + 1024;  // "JUNK" and at most 1,024 zero bytes

std::uint64_t standard_index_bytes(std::uint64_t frames) { return standard_index_header + frames * standard_entry; }

std::uint64_t idx1_bytes(std::uint64_t frames) { return 8 + frames * idx1_entry; }

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

}  // namespace

std::uint64_t avi_riff_count(std::uint64_t frames, std::uint32_t frame_size, std::uint64_t first_limit,
                             std::uint64_t extension_limit)
{
    if (frames == 0) {
        return 1;
    }
    const std::uint64_t chunk = 8 + std::uint64_t(avi_padded(frame_size));
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

// Continues the file in a new RIFF where the open one cannot hold a chunk
// of `chunk_bytes` more: its header and its body, padded.
bool AviWriter::make_room(std::uint64_t chunk_bytes, bool is_sound)
{
    const std::uint64_t more_frames = is_sound ? 0 : 1;
    const std::uint64_t more_sound = is_sound ? 1 : 0;
    if (riff_count == 1) {
        const RiffChunks chunks{std::uint64_t(frame_count) + more_frames,
                                std::uint64_t(index_count - frame_count) + more_sound, has_sound};
        if (!first_riff_holds(position + chunk_bytes, chunks, first_riff_limit)) {
            if (index_count == 0) {
                return fail(Fault::avi_frame_too_large);
            }
            if (!close_first_riff() || !begin_extension()) {
                return false;
            }
        }
    } else if (!extension_holds(position + chunk_bytes - riff_start,
                                RiffChunks{std::uint64_t(riff_frames) + more_frames,
                                           std::uint64_t(sound_riff_chunks) + more_sound, has_sound},
                                riff_limit)) {
        if (!close_extension() || !begin_extension()) {
            return false;
        }
    }
    return true;
}

// The open RIFF's "ix00" (or the sound's "ix01") at the end of its "movi"
// list, and its entry in the stream's super index, which gives a frame
// count or the sample frames.
bool AviWriter::write_standard_index(bool of_sound)
{
    const std::uint32_t chunks = static_cast<std::uint32_t>(of_sound ? sound_riff_chunks : riff_frames);
    const std::uint64_t chunk_bytes = standard_index_bytes(chunks);
    const int super_index = of_sound ? avi_offset::sound_super_index : super_index_at;
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
    return write2(head, sizeof head, of_sound ? sound_riff_index : riff_index, std::size_t(chunks) * standard_entry);
}

bool AviWriter::write_standard_indexes()
{
    return write_standard_index(false) && (!has_sound || write_standard_index(true));
}

// Ends the first RIFF before a frame it cannot hold: its "ix00", then the
// "idx1" of its frames, which AVI 1.0 readers use.
bool AviWriter::close_first_riff()
{
    if (!write_standard_indexes()) {
        return false;
    }
    first_riff_frames = frame_count;
    if (!write_idx1()) {
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
    if (riff_count == max_riffs) {
        return fail(Fault::avi_too_many_riffs);
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

// Ends the last "AVIX" RIFF, which carries the tail inside its size, and
// turns the "JUNK" chunks kept for them into the super indexes.
bool AviWriter::close_last_riff()
{
    if (!close_extension() || !write_tail()) {
        return false;
    }
    extensions[riff_count - 2].riff_size = static_cast<std::uint32_t>(position - riff_start - 8);
    // The main header counts the frames of the first RIFF, as readers of
    // plain AVI files expect; the stream and "dmlh" count them all.
    put_le32(header + avi_offset::total_frames, static_cast<std::uint32_t>(first_riff_frames));
    for (int s = 0; s < (has_sound ? 2 : 1); ++s) {
        unsigned char* indx = header + (s == 0 ? super_index_at : avi_offset::sound_super_index);
        std::memcpy(indx, "indx", 4);
        put_le16(indx + 8, 4);  // longs per entry
        indx[10] = 0;           // sub-type
        indx[11] = 0;           // an index of indexes
        put_le32(indx + 12, static_cast<std::uint32_t>(riff_count));
        std::memcpy(indx + 16, s == 0 ? "00dc" : "01wb", 4);
    }
    return true;
}

// The sizes of the "AVIX" RIFFs and their "movi" lists, once they are known.
bool AviWriter::write_back_extensions()
{
    for (int i = 0; i < riff_count - 1; ++i) {
        unsigned char riff_size[4];
        unsigned char movi_size[4];
        put_le32(riff_size, extensions[i].riff_size);
        put_le32(movi_size, extensions[i].movi_size);
        if (!write_at(riff_size, 4, extensions[i].riff_start + 4) ||
            !write_at(movi_size, 4, extensions[i].riff_start + 16)) {
            return false;
        }
    }
    return true;
}
