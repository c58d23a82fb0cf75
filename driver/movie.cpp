#include "driver/movie.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include "entropy/byte_order.h"

namespace {

void report_line(std::FILE* report, const char* text)
{
    if (report != nullptr) {
        std::fputs(text, report);
        std::fputc('\n', report);
    }
}

template <typename... Args>
void report_format(std::FILE* report, const char* format, Args... args)
{
    if (report != nullptr) {
        std::fprintf(report, format, args...);
    }
}

void report_damage(std::FILE* report, const char* tag)
{
    report_format(report, "The \"%s\" atom runs past the end of the movie file.\n", tag);
}

// The atom search keeps the position of the tag it stands on, both as a
// pointer into the window and as a file position.
struct Search {
    MovieSource& source;
    const unsigned char* cursor;
    std::int32_t remaining_length;
    std::FILE* report;

    // The search covers the window as far as it is read; where it reaches
    // the end of the bytes read, more are read and the search is made again,
    // so that it finds what a search over the whole window finds.
    bool find(const char* tag)
    {
        for (;;) {
            const std::uint64_t reach = position() + std::uint64_t(remaining_length > 0 ? remaining_length : 0) + 3;
            if (reach <= source.window_bytes || !extend_window(source)) {
                break;
            }
            const unsigned char* at = cursor;
            std::int32_t remaining = remaining_length;
            if (findtag(at, tag, remaining, source.window + source.window_bytes, nullptr) == 1) {
                cursor = at;
                remaining_length = remaining;
                return true;
            }
        }
        return findtag(cursor, tag, remaining_length, source.window + source.window_bytes, report) == 1;
    }
    std::uint64_t position() const { return static_cast<std::uint64_t>(cursor - source.window); }

    // A 32-bit field at `offset` from the tag; false (after the damage
    // message) when the file ends before it.
    bool field(const char* tag, unsigned offset, std::uint32_t& value) const
    {
        unsigned char bytes[4];
        if (!read_movie_bytes(source, position() + offset, 4, bytes)) {
            report_damage(report, tag);
            return false;
        }
        value = get_be32(bytes);
        return true;
    }

    // A table of `words` 32-bit words at `offset` from the tag, read in full
    // wherever it lies in the file and converted to native integers.
    std::uint32_t* table(const char* tag, unsigned offset, std::uint64_t words) const
    {
        const std::uint64_t start = position() + offset;
        if (words > (source.file_size - std::min(start, source.file_size)) / 4) {
            report_damage(report, tag);
            return nullptr;
        }
        void* memory = std::malloc(words == 0 ? 1 : static_cast<std::size_t>(words) * 4);
        if (memory == nullptr) {
            report_format(report, "Not enough memory for the \"%s\" table.\n", tag);
            return nullptr;
        }
        auto* table_words = static_cast<std::uint32_t*>(memory);
        if (!read_movie_bytes(source, start, static_cast<std::size_t>(words) * 4, table_words)) {
            report_damage(report, tag);
            std::free(memory);
            return nullptr;
        }
        from_mov_edian_l_block(table_words, static_cast<std::int64_t>(words));
        return table_words;
    }
};

struct FreeOnExit {
    void* memory;
    ~FreeOnExit() { std::free(memory); }
};

}  // namespace

bool extend_window(MovieSource& source)
{
    if (source.room == nullptr || source.window_bytes >= source.window_capacity || source.file == nullptr) {
        return false;
    }
    std::size_t wanted = source.window_bytes == 0 ? std::size_t(1) << 16 : source.window_bytes;
    if (wanted > source.window_capacity - source.window_bytes) {
        wanted = source.window_capacity - source.window_bytes;
    }
    if (fseeko(source.file, static_cast<off_t>(source.window_bytes), SEEK_SET) != 0) {
        return false;
    }
    const std::size_t got = std::fread(source.room + source.window_bytes, 1, wanted, source.file);
    source.window_bytes += got;
    if (got < wanted) {
        source.window_capacity = source.window_bytes;  // the file ends here
    }
    return got > 0;
}

bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination)
{
    if (position > source.file_size || size > source.file_size - position) {
        return false;
    }
    if (position + size <= source.window_bytes) {
        std::memcpy(destination, source.window + position, size);
        return true;
    }
    if (source.file == nullptr || fseeko(source.file, static_cast<off_t>(position), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(destination, 1, size, source.file) == size;
}

FrameTable::~FrameTable() { std::free(runs); }

int findtag(const unsigned char*& cursor, const char* tag, std::int32_t& remaining_length,
            const unsigned char* window_end, std::FILE* report)
{
    // Positions whose four bytes do not all lie in the window cannot match:
    // beyond the bytes read the window holds nothing.
    std::int64_t positions = remaining_length;
    const std::int64_t available = (window_end - cursor) - 3;
    if (positions > available) {
        positions = available;
    }
    for (std::int64_t i = 0; i < positions; ++i) {
        const void* found = std::memchr(cursor + i, tag[0], static_cast<std::size_t>(positions - i));
        if (found == nullptr) {
            break;
        }
        i = static_cast<const unsigned char*>(found) - cursor;
        if (std::memcmp(cursor + i, tag, 4) == 0) {
            cursor += i;
            remaining_length -= static_cast<std::int32_t>(i);
            return 1;
        }
    }
    report_format(report, "Unable to find tag \"%s\"\n", tag);
    return 0;
}

void from_mov_edian_l_block(std::uint32_t* words, std::int64_t count)
{
    for (std::int64_t i = 0; i < count; ++i) {
        unsigned char bytes[4];
        std::memcpy(bytes, &words[i], 4);
        words[i] = get_be32(bytes);
    }
}

// The record in force starts as the first one; a chunk whose number reaches
// the next record's first chunk brings that record into force, one record
// per chunk at most.
std::int64_t count_frames(const sample_to_chunk* records, std::uint32_t record_count, std::uint32_t chunk_count)
{
    if (chunk_count == 0 || record_count == 0) {
        return 0;
    }
    std::int64_t frames = 0;
    std::uint32_t in_force = 0;
    for (std::uint32_t c = 0; c < chunk_count; ++c) {
        if (in_force + 1 < record_count && std::uint64_t(c) + 1 >= records[in_force + 1].first_chunk) {
            ++in_force;
        }
        frames += records[in_force].samples_per_chunk;
    }
    return frames;
}

IndexResult calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count, const std::uint32_t* chunk_offsets,
                               std::uint32_t chunk_count, std::uint64_t frame_size, FrameTable& table)
{
    const std::int64_t frames = count_frames(records, record_count, chunk_count);
    if (frames > max_total_frames) {
        return IndexResult::too_many_frames;
    }
    if (frames == 0) {
        return IndexResult::ok;
    }
    auto* runs = static_cast<ChunkRun*>(std::malloc(std::size_t(chunk_count) * sizeof(ChunkRun)));
    if (runs == nullptr) {
        return IndexResult::no_memory;
    }
    std::free(table.runs);
    table.runs = runs;
    table.run_count = chunk_count;
    table.frame_size = frame_size;

    std::uint32_t in_force = 0;
    for (std::uint32_t c = 0; c < chunk_count; ++c) {
        if (in_force + 1 < record_count && std::uint64_t(c) + 1 >= records[in_force + 1].first_chunk) {
            ++in_force;
        }
        runs[c] = ChunkRun{chunk_offsets[c], records[in_force].samples_per_chunk};
    }
    table.total_frames = static_cast<std::int32_t>(frames);
    return IndexResult::ok;
}

bool index_movie(MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report)
{
    Search search{source, source.window, static_cast<std::int32_t>(header_window_size), report};

    if (!search.find("mvhd")) {
        return false;
    }
    report_line(report, "Movie header found");

    if (!search.find("tkhd")) {
        return false;
    }
    report_line(report, "Track header found");
    std::uint32_t track_width = 0;
    std::uint32_t track_height = 0;
    if (!search.field("tkhd", 80, track_width) || !search.field("tkhd", 84, track_height)) {
        return false;
    }
    info.width = static_cast<int>(from_mov_edian_s(track_width));
    info.height = static_cast<int>(from_mov_edian_s(track_height));
    report_format(report, "Width = %d\n", info.width);
    report_format(report, "Height = %d\n", info.height);
    // Every buffer of the run is sized from width x height x 4 in signed
    // 32-bit arithmetic; a picture beyond that, or an empty one, is refused.
    if (info.width == 0 || info.height == 0 ||
        std::int64_t(info.width) * info.height * 4 > std::int64_t(2147483647)) {
        report_format(report, "Unsupported picture size %dx%d\n", info.width, info.height);
        return false;
    }

    if (!search.find("mdhd")) {
        return false;
    }
    report_line(report, "Media header found");
    std::uint32_t time_scale = 0;
    if (!search.field("mdhd", 16, time_scale)) {
        return false;
    }
    info.time_scale = static_cast<std::int32_t>(time_scale);

    if (!search.find("stsd")) {
        return false;
    }
    std::uint32_t descriptions = 0;
    unsigned char format[4];
    if (!search.field("stsd", 8, descriptions)) {
        return false;
    }
    report_format(report, "Sample description found, number of entries = %d\n", static_cast<int>(descriptions));
    if (!read_movie_bytes(source, search.position() + 16, 4, format)) {
        report_damage(report, "stsd");
        return false;
    }
    std::memcpy(info.data_format, format, 4);
    report_format(report, "Data format = \"%c%c%c%c\"\n", format[0], format[1], format[2], format[3]);
    if (std::memcmp(format, "raw ", 4) != 0 && std::memcmp(format, "WRLE", 4) != 0) {
        report_line(report,
                    "Unsupported data format, please select \"BMP\" or \"none\" as the video compression when saving a "
                    ".mov file");
        return false;
    }
    info.is_raw = std::memcmp(format, "raw ", 4) == 0;

    if (!search.find("stts")) {
        return false;
    }
    report_line(report, "Sample to time table found");
    std::uint32_t duration = 0;
    if (!search.field("stts", 16, duration)) {
        return false;
    }
    info.sample_duration = static_cast<std::int32_t>(duration);
    report_format(report, "Frame rate = %f\n", double(info.time_scale) / double(info.sample_duration));

    if (!search.find("stsc")) {
        return false;
    }
    report_line(report, "Sample to chunk table found");
    std::uint32_t record_count = 0;
    if (!search.field("stsc", 8, record_count)) {
        return false;
    }
    report_format(report, "Number of entries = %u\n", record_count);
    FreeOnExit records{search.table("stsc", 12, std::uint64_t(record_count) * 3)};
    if (records.memory == nullptr) {
        return false;
    }

    if (!search.find("stco")) {
        return false;
    }
    report_line(report, "Sample offset table found");
    std::uint32_t chunk_count = 0;
    if (!search.field("stco", 8, chunk_count)) {
        return false;
    }
    report_format(report, "Number of entries = %u\n", chunk_count);
    FreeOnExit chunks{search.table("stco", 12, chunk_count)};
    if (chunks.memory == nullptr) {
        return false;
    }

    // The words of the table are the records' fields, in order.
    static_assert(sizeof(sample_to_chunk) == 12, "records are three packed words");
    const std::uint64_t frame_size = std::uint64_t(info.width) * std::uint64_t(info.height) * 3;
    const auto* stsc = static_cast<const sample_to_chunk*>(records.memory);
    const auto* stco = static_cast<const std::uint32_t*>(chunks.memory);
    switch (calc_frame_offsets(stsc, record_count, stco, chunk_count, frame_size, table)) {
    case IndexResult::ok:
        break;
    case IndexResult::too_many_frames:
        report_format(report, "The movie describes %lld frames, more than an AVI file can hold (%lld).\n",
                      static_cast<long long>(count_frames(stsc, record_count, chunk_count)),
                      static_cast<long long>(max_total_frames));
        return false;
    case IndexResult::no_memory:
        report_format(report, "Not enough memory for the table of %lld frames.\n",
                      static_cast<long long>(count_frames(stsc, record_count, chunk_count)));
        return false;
    }
    report_format(report, "%d frames indexed\n", table.total_frames);
    return true;
}
