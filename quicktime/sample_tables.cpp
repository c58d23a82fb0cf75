#include "quicktime/sample_tables.h"

#include <algorithm>

#include "quicktime/report.h"

namespace {

// The durations of the samples, one after another.
struct TimeWalk {
    SampleTimes times;
    std::uint32_t entry = 0;
    std::uint32_t used = 0;  // of the entry's samples

    // The duration of the next samples and how many of them share it;
    // beyond the table, the last duration goes on.
    std::uint32_t duration() const
    {
        if (times.count == 0) {
            return 0;
        }
        return times.entries[2 * std::min(entry, times.count - 1) + 1];
    }
    std::uint64_t left() const
    {
        return entry < times.count ? std::uint64_t(times.entries[2 * entry]) - used : ~std::uint64_t(0);
    }
    void advance(std::uint64_t samples)
    {
        while (samples > 0 && entry < times.count) {
            const std::uint64_t here = std::min<std::uint64_t>(samples, times.entries[2 * entry] - used);
            used += static_cast<std::uint32_t>(here);
            samples -= here;
            if (used == times.entries[2 * entry]) {
                ++entry;
                used = 0;
            }
        }
    }
    // Entries of no samples are passed over.
    void settle()
    {
        while (entry < times.count && times.entries[2 * entry] == 0) {
            ++entry;
        }
    }
};

// As many samples from `sample` on, of at most `most`, as share one size.
std::uint64_t same_size(const SampleSizes& sizes, std::uint64_t sample, std::uint64_t most)
{
    if (sizes.constant != 0) {
        return most;
    }
    std::uint64_t same = 1;
    while (same < most && sizes.table[sample + same] == sizes.table[sample]) {
        ++same;
    }
    return same;
}

// A table that the count after its atom's version and flags sizes, each
// entry `words` words of `word_bytes` bytes: found, and its count, as the
// report says them.
template <typename Word>
Failure read_counted(const Held& held, const Atom& atom, const char* tag, const char* found_line, std::uint64_t words,
                     std::size_t word_bytes, std::vector<Word>& out, std::FILE* report)
{
    if (!atom.found) {
        return tag_missing(tag);
    }
    report_line(report, found_line);
    std::uint32_t count = 0;
    if (!field32(held, atom, 4, count)) {
        return atom_too_short(atom.type);
    }
    report_format(report, "Number of entries = %u\n", count);
    if (!read_words(held, atom, 8, std::uint64_t(count) * words, word_bytes, out)) {
        return atom_too_short(atom.type);
    }
    return {};
}

}  // namespace

void add_run(std::vector<FrameRun>& runs, std::uint64_t offset, std::uint32_t frames, std::uint32_t step,
             std::uint32_t duration)
{
    if (frames == 0) {
        return;
    }
    if (!runs.empty()) {
        FrameRun& last = runs.back();
        if (last.step == step && last.duration == duration && std::uint64_t(last.frames) + frames <= 0xFFFFFFFFu &&
            last.offset + std::uint64_t(last.frames) * last.step == offset) {
            last.frames += frames;
            return;
        }
    }
    runs.push_back(FrameRun{offset, frames, step, duration});
}

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

Failure calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count,
                           const std::uint64_t* chunk_offsets, std::uint32_t chunk_count, SampleSizes sizes,
                           SampleTimes times, FrameTable& table)
{
    const std::int64_t frames = count_frames(records, record_count, chunk_count);
    if (frames > max_total_frames) {
        return movie_failure(Fault::movie_too_many_frames, {frames, max_total_frames});
    }
    if (sizes.constant == 0 && frames > std::int64_t(sizes.count)) {
        return movie_failure(Fault::movie_too_few_sizes, {sizes.count, frames});
    }
    TimeWalk time{times};
    std::uint32_t in_force = 0;
    std::uint64_t sample = 0;
    for (std::uint32_t c = 0; c < chunk_count && frames > 0; ++c) {
        if (in_force + 1 < record_count && std::uint64_t(c) + 1 >= records[in_force + 1].first_chunk) {
            ++in_force;
        }
        std::uint64_t offset = chunk_offsets[c];
        std::uint64_t left = records[in_force].samples_per_chunk;
        while (left > 0) {
            time.settle();
            // As many samples as share one size and one duration.
            const std::uint64_t take = same_size(sizes, sample, std::min(left, time.left()));
            const std::uint32_t step = sizes.constant != 0 ? sizes.constant : sizes.table[sample];
            add_run(table.runs, offset, static_cast<std::uint32_t>(take), step, time.duration());
            offset += take * step;
            time.advance(take);
            sample += take;
            left -= take;
        }
    }
    table.total_frames = static_cast<std::int32_t>(frames);
    return {};
}

Failure read_time_table(const Held& held, const SampleTableAtoms& atoms, SampleTables& tables, std::FILE* report)
{
    const Atom& stts = atoms.stts;
    if (!stts.found) {
        return tag_missing("stts");
    }
    report_line(report, "Sample to time table found");
    std::uint32_t entries = 0;
    if (!field32(held, stts, 4, entries) || !read_words(held, stts, 8, std::uint64_t(entries) * 2, 4, tables.times)) {
        return atom_too_short(stts.type);
    }
    return {};
}

Failure read_chunk_tables(const Held& held, const SampleTableAtoms& atoms, std::uint32_t frame_bytes,
                          SampleTables& tables, std::FILE* report)
{
    std::vector<std::uint32_t> words;
    if (Failure failure = read_counted(held, atoms.stsc, "stsc", "Sample to chunk table found", 3, 4, words, report);
        failure.failed()) {
        return failure;
    }
    tables.records.resize(words.size() / 3);
    for (std::size_t r = 0; r < tables.records.size(); ++r) {
        tables.records[r] = sample_to_chunk{words[3 * r], words[3 * r + 1], words[3 * r + 2]};
    }

    // Sample sizes: one for all, or one each; a movie without the table has
    // packed frames.
    SampleSizes& sizes = tables.sizes;
    sizes.constant = frame_bytes;
    const Atom& stsz = atoms.stsz;
    if (stsz.found) {
        if (!field32(held, stsz, 4, sizes.constant) || !field32(held, stsz, 8, sizes.count) ||
            (sizes.constant == 0 && !read_words(held, stsz, 12, sizes.count, 4, tables.size_table))) {
            return atom_too_short(stsz.type);
        }
        sizes.table = tables.size_table.data();
    }
    return read_counted(held, atoms.stco, "stco", "Sample offset table found", 1, atoms.co64 ? 8 : 4,
                        tables.chunk_offsets, report);
}

std::int64_t cut_at_file_end(FrameTable& table, std::uint64_t file_size)
{
    std::int64_t kept = 0;
    for (std::size_t r = 0; r < table.runs.size(); ++r) {
        FrameRun& run = table.runs[r];
        std::uint64_t inside = 0;
        if (run.offset < file_size) {
            inside = run.step == 0 ? run.frames
                                   : std::min<std::uint64_t>(run.frames, (file_size - run.offset + run.step - 1) / run.step);
        }
        if (inside < run.frames) {
            run.frames = static_cast<std::uint32_t>(inside);
            table.runs.erase(table.runs.begin() + static_cast<std::ptrdiff_t>(inside > 0 ? r + 1 : r), table.runs.end());
            const std::int64_t left_out = table.total_frames - kept - static_cast<std::int64_t>(inside);
            table.total_frames = static_cast<std::int32_t>(kept + static_cast<std::int64_t>(inside));
            return left_out;
        }
        kept += run.frames;
    }
    return 0;
}
