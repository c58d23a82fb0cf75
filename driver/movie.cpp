#include "driver/movie.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <utility>

#include "common/byte_order.h"

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

bool is_type(const char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// An atom: where its header starts, where its contents start and where it
// ends, all as positions in the file.
struct Atom {
    char type[5] = {};
    std::uint64_t start = 0;
    std::uint64_t body = 0;
    std::uint64_t end = 0;
    bool found = false;
    bool cut = false;  // it ran past the end of what holds it, and ends there

    std::uint64_t size() const { return end - body; }
};

// A part of the file held in memory (the movie atom, or one fragment).
struct Held {
    unsigned char* bytes = nullptr;
    std::uint64_t base = 0;  // the file position of bytes[0]
    std::uint64_t size = 0;
    std::uint64_t capacity = 0;

    Held() = default;
    ~Held() { std::free(bytes); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    bool load(const MovieSource& source, const Atom& atom)
    {
        const std::uint64_t wanted = atom.end - atom.start;
        if (wanted > capacity || bytes == nullptr) {
            void* grown = std::realloc(bytes, static_cast<std::size_t>(wanted == 0 ? 1 : wanted));
            if (grown == nullptr) {
                return false;
            }
            bytes = static_cast<unsigned char*>(grown);
            capacity = wanted;
        }
        base = atom.start;
        size = wanted;
        return read_movie_bytes(source, atom.start, static_cast<std::size_t>(wanted), bytes);
    }
    const unsigned char* at(std::uint64_t position) const { return bytes + (position - base); }
};

// Reads the atoms of the movie and reports what is wrong with them.
void report_too_short(std::FILE* report, const char* type)
{
    report_format(report, "The \"%s\" atom is too short for what it says it holds.\n", type);
}

struct Reader {
    const MovieSource& source;
    std::FILE* report;
    // Atoms that run past the end of what holds them are cut there instead
    // of refused: the parts of a fragment that the file still holds.
    bool clip = false;

    void too_short(const Atom& atom) const { report_too_short(report, atom.type); }

    // The atom whose header starts at `position` within a parent that ends
    // at `end`; `holder` names the parent ("" at the top of the file).
    // Returns false, after saying why, when its size is impossible; `atom`
    // is left not found when no header fits before `end`.
    bool header(const unsigned char* bytes, std::uint64_t position, std::uint64_t end, const char* holder,
                Atom& atom) const
    {
        atom = Atom{};
        if (end - position < 8) {
            return true;
        }
        std::uint64_t size = get_be32(bytes);
        std::uint64_t header_size = 8;
        std::memcpy(atom.type, bytes + 4, 4);
        for (int i = 0; i < 4; ++i) {
            // An atom type is printed in messages; keep it printable.
            if (atom.type[i] < 0x20 || atom.type[i] > 0x7E) {
                atom.type[i] = '?';
            }
        }
        if (size == 1) {
            if (end - position < 16) {
                report_format(report, "The \"%s\" atom is cut off in its header.\n", atom.type);
                return false;
            }
            size = get_be64(bytes + 8);
            header_size = 16;
        } else if (size == 0) {
            size = end - position;  // to the end of what holds it
        }
        if (size < header_size) {
            report_format(report, "The \"%s\" atom has a size of %llu bytes, less than its header.\n", atom.type,
                          static_cast<unsigned long long>(size));
            return false;
        }
        if (size > end - position && clip) {
            size = end - position;
            atom.cut = true;
        } else if (size > end - position) {
            if (holder[0] == '\0') {
                report_format(report, "The \"%s\" atom runs past the end of the movie file.\n", atom.type);
            } else {
                report_format(report, "The \"%s\" atom is larger than the \"%s\" atom that holds it.\n", atom.type,
                              holder);
            }
            return false;
        }
        atom.start = position;
        atom.body = position + header_size;
        atom.end = position + size;
        atom.found = true;
        return true;
    }

    // Calls each(child) for the atoms within `parent`, held in `held`, until
    // it returns false; false when an atom's size is impossible.
    template <typename Each>
    bool children(const Held& held, const Atom& parent, Each each) const
    {
        std::uint64_t position = parent.body;
        while (position < parent.end) {
            Atom child;
            if (!header(held.at(position), position, parent.end, parent.type, child)) {
                return false;
            }
            if (!child.found || !each(child)) {
                return true;
            }
            position = child.end;
        }
        return true;
    }

    // The first child of `type`; `found` is false in it when there is none.
    bool child(const Held& held, const Atom& parent, const char* type, Atom& found) const
    {
        found = Atom{};
        if (!parent.found) {
            return true;
        }
        return children(held, parent, [&](const Atom& a) {
            if (is_type(a.type, type)) {
                found = a;
                return false;
            }
            return true;
        });
    }
};

// A field read within an atom's contents, or false when the atom ends first.
bool field32(const Held& held, const Atom& atom, std::uint64_t offset, std::uint32_t& value)
{
    if (offset > atom.size() || atom.size() - offset < 4) {
        return false;
    }
    value = get_be32(held.at(atom.body + offset));
    return true;
}

bool field16(const Held& held, const Atom& atom, std::uint64_t offset, std::uint32_t& value)
{
    if (offset > atom.size() || atom.size() - offset < 2) {
        return false;
    }
    value = get_be16(held.at(atom.body + offset));
    return true;
}

// A table of `entries` entries of `entry_bytes` bytes from `offset` on.
bool table_fits(const Atom& atom, std::uint64_t offset, std::uint64_t entries, std::uint64_t entry_bytes)
{
    return offset <= atom.size() && entries <= (atom.size() - offset) / entry_bytes;
}

// Where a version-0 or version-1 field lies: version 1 widens the times
// before it from 32 to 64 bits.
std::uint64_t versioned(const Held& held, const Atom& atom, std::uint64_t offset_v0, std::uint64_t offset_v1)
{
    return atom.size() > 0 && held.at(atom.body)[0] == 1 ? offset_v1 : offset_v0;
}

// Appends a run of frames, joining it to the run before when they follow on.
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

// The edit list's selection of the track's samples: for each edit that is
// not empty, the sample showing at its media time and every sample that
// starts before its end, in edit order.
struct Edit {
    std::uint64_t duration;  // in the movie's time scale; 0: to the end of the media
    std::int64_t media_time;
    std::uint32_t rate;      // 16.16; 0 holds one frame
};

bool apply_edits(const std::vector<Edit>& edits, std::uint32_t movie_scale, std::uint32_t media_scale,
                 std::vector<FrameRun>& runs, std::FILE* report)
{
    // Each run's first sample number and start time.
    std::vector<std::uint64_t> first_sample(runs.size() + 1);
    std::vector<std::uint64_t> start_time(runs.size() + 1);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        first_sample[r + 1] = first_sample[r] + runs[r].frames;
        start_time[r + 1] = start_time[r] + std::uint64_t(runs[r].frames) * runs[r].duration;
    }
    const std::uint64_t samples = first_sample.back();
    auto time_of = [&](std::uint64_t sample) {
        const std::size_t r = static_cast<std::size_t>(
            std::upper_bound(first_sample.begin(), first_sample.end(), sample) - first_sample.begin() - 1);
        return start_time[r] + (sample - first_sample[r]) * runs[r].duration;
    };
    // The number of samples that start before `t` (t scaled by `scale`):
    // the smallest sample number whose start, scaled, reaches it.
    auto starting_before = [&](unsigned __int128 t, std::uint64_t scale) {
        std::uint64_t low = 0;
        std::uint64_t high = samples;
        while (low < high) {
            const std::uint64_t mid = low + (high - low) / 2;
            if (static_cast<unsigned __int128>(time_of(mid)) * scale < t) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        return low;
    };

    // Edits that repeat the media many times could ask for more runs than
    // any movie needs; a generous bound keeps the table in proportion.
    const std::uint64_t most_runs = 16 * (std::uint64_t(runs.size()) + edits.size()) + 1024;
    std::vector<FrameRun> chosen;
    std::int64_t frames = 0;
    for (const Edit& edit : edits) {
        if (edit.media_time < 0 || samples == 0) {
            continue;  // an empty edit shows nothing of the media
        }
        const std::uint64_t media_time = static_cast<std::uint64_t>(edit.media_time);
        // The sample showing at the edit's start: the last one that starts
        // at or before it.
        if (media_time >= start_time.back() && start_time.back() > 0) {
            continue;  // the edit starts beyond the media
        }
        const std::uint64_t first = starting_before(static_cast<unsigned __int128>(media_time) + 1, 1) - 1;
        std::uint64_t last = samples;
        if (edit.rate == 0) {
            last = first + 1;
        } else if (edit.duration != 0 && movie_scale != 0) {
            const unsigned __int128 end = static_cast<unsigned __int128>(media_time) * movie_scale +
                                          static_cast<unsigned __int128>(edit.duration) * media_scale;
            last = std::max(first + 1, starting_before(end, movie_scale));
        }
        frames += static_cast<std::int64_t>(last - first);
        if (frames > max_total_frames) {
            report_format(report, "The movie's edit list shows more frames than an AVI file can hold (%lld).\n",
                          static_cast<long long>(max_total_frames));
            return false;
        }
        std::size_t r = static_cast<std::size_t>(
            std::upper_bound(first_sample.begin(), first_sample.end(), first) - first_sample.begin() - 1);
        for (std::uint64_t s = first; s < last; ++r) {
            const FrameRun& run = runs[r];
            const std::uint64_t within = s - first_sample[r];
            const std::uint64_t take = std::min<std::uint64_t>(run.frames - within, last - s);
            chosen.push_back(FrameRun{run.offset + within * run.step, static_cast<std::uint32_t>(take), run.step,
                                      run.duration});
            s += take;
        }
        if (chosen.size() > most_runs) {
            report_line(report, "The movie's edit list repeats its frames more often than reelpack can follow.");
            return false;
        }
    }
    runs.swap(chosen);
    return true;
}

// The edit list's entries; version 1 has 64-bit durations and media times.
bool read_edits(const Held& held, const Atom& elst, std::vector<Edit>& edits)
{
    const bool wide = versioned(held, elst, 0, 1) == 1;
    const std::uint64_t entry = wide ? 20 : 12;
    std::uint32_t edit_count = 0;
    if (!field32(held, elst, 4, edit_count) || !table_fits(elst, 8, edit_count, entry)) {
        return false;
    }
    edits.resize(edit_count);
    for (std::uint32_t e = 0; e < edit_count; ++e) {
        const unsigned char* p = held.at(elst.body + 8 + e * entry);
        if (wide) {
            edits[e] = Edit{get_be64(p), static_cast<std::int64_t>(get_be64(p + 8)), get_be32(p + 16)};
        } else {
            edits[e] = Edit{get_be32(p), static_cast<std::int32_t>(get_be32(p + 4)), get_be32(p + 8)};
        }
    }
    return true;
}

// How long, in the movie's time scale, the empty edits at the start of a
// track show nothing of it.
std::uint64_t leading_time(const std::vector<Edit>& edits)
{
    std::uint64_t time = 0;
    for (const Edit& edit : edits) {
        if (edit.media_time >= 0) {
            break;
        }
        time += edit.duration;
    }
    return time;
}

// Every frame at its time: the AVI's period is the greatest common divisor
// of the durations, unless that makes more than eight AVI frames for each
// movie frame; then it is the duration most frames have.
void choose_frame_period(const FrameTable& table, MovieInfo& info)
{
    std::uint64_t divisor = 0;
    std::uint64_t total_time = 0;
    std::map<std::uint32_t, std::uint64_t> frames_lasting;
    for (const FrameRun& run : table.runs) {
        divisor = std::gcd(divisor, std::uint64_t(run.duration));
        total_time += std::uint64_t(run.frames) * run.duration;
        frames_lasting[run.duration] += run.frames;
    }
    info.avi_frames = table.total_frames;
    if (divisor == 0) {
        info.frame_period = static_cast<std::uint32_t>(info.sample_duration);  // no times to keep
        return;
    }
    if (total_time / divisor > 8 * std::uint64_t(table.total_frames)) {
        std::uint64_t most = 0;
        for (const auto& lasting : frames_lasting) {
            if (lasting.first != 0 && lasting.second > most) {
                most = lasting.second;
                divisor = lasting.first;
            }
        }
    }
    info.frame_period = static_cast<std::uint32_t>(divisor);
    // The frames' AVI frame counts add up to this (see FrameClock).
    info.avi_frames = static_cast<std::int64_t>((total_time + divisor / 2) / divisor);
}

// The defaults that the movie atom sets for a track's fragments.
struct TrackDefaults {
    std::uint32_t duration = 0;
    std::uint32_t size = 0;
};

// Appends the video track's samples of one movie fragment ("moof").
bool read_fragment(const Reader& reader, const Held& moof_bytes, const Atom& moof, std::uint32_t track_id,
                   TrackDefaults defaults, std::vector<FrameRun>& runs)
{
    std::uint64_t data_end = moof.start;  // where the previous track fragment's data ended
    // The walks stop at the first damage, which fail() notes.
    bool failed = false;
    auto fail = [&failed] {
        failed = true;
        return false;
    };
    const bool walked = reader.children(moof_bytes, moof, [&](const Atom& traf) {
        if (!is_type(traf.type, "traf")) {
            return true;
        }
        Atom tfhd;
        if (!reader.child(moof_bytes, traf, "tfhd", tfhd)) {
            return fail();
        }
        std::uint32_t flags = 0;
        std::uint32_t id = 0;
        if (!tfhd.found || !field32(moof_bytes, tfhd, 0, flags) || !field32(moof_bytes, tfhd, 4, id)) {
            reader.too_short(tfhd.found ? tfhd : traf);
            return fail();
        }
        flags &= 0xFFFFFF;
        std::uint64_t offset = 8;
        std::uint64_t base = (flags & 0x20000) != 0 ? moof.start : data_end;
        std::uint32_t word = 0;
        std::uint32_t duration = defaults.duration;
        std::uint32_t size = defaults.size;
        bool fits = true;
        if ((flags & 0x1) != 0) {
            std::uint32_t high = 0;
            fits = fits && field32(moof_bytes, tfhd, offset, high) && field32(moof_bytes, tfhd, offset + 4, word);
            base = (std::uint64_t(high) << 32) | word;
            offset += 8;
        }
        if ((flags & 0x2) != 0) {
            offset += 4;  // the sample description: the track has one
        }
        if ((flags & 0x8) != 0) {
            fits = fits && field32(moof_bytes, tfhd, offset, duration);
            offset += 4;
        }
        if ((flags & 0x10) != 0) {
            fits = fits && field32(moof_bytes, tfhd, offset, size);
        }
        if (!fits) {
            reader.too_short(tfhd);
            return fail();
        }
        if (id != track_id) {
            return true;
        }
        std::uint64_t position = base;
        const bool read = reader.children(moof_bytes, traf, [&](const Atom& trun) {
            if (!is_type(trun.type, "trun")) {
                return true;
            }
            std::uint32_t trun_flags = 0;
            std::uint32_t count = 0;
            if (!field32(moof_bytes, trun, 0, trun_flags) || !field32(moof_bytes, trun, 4, count)) {
                reader.too_short(trun);
                return fail();
            }
            std::uint64_t at = 8;
            if ((trun_flags & 0x1) != 0) {
                std::uint32_t data_offset = 0;
                if (!field32(moof_bytes, trun, at, data_offset)) {
                    reader.too_short(trun);
                    return fail();
                }
                // A signed offset from the fragment's base.
                position = base + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(data_offset)));
                at += 4;
            }
            if ((trun_flags & 0x4) != 0) {
                at += 4;
            }
            const bool own_duration = (trun_flags & 0x100) != 0;
            const bool own_size = (trun_flags & 0x200) != 0;
            const std::uint64_t entry = 4 * ((own_duration ? 1 : 0) + (own_size ? 1 : 0) +
                                             ((trun_flags & 0x400) != 0 ? 1 : 0) + ((trun_flags & 0x800) != 0 ? 1 : 0));
            if (entry > 0 && !table_fits(trun, at, count, entry)) {
                reader.too_short(trun);
                return fail();
            }
            if (entry == 0) {
                add_run(runs, position, count, size, duration);
                position += std::uint64_t(count) * size;
                return true;
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                const unsigned char* sample = moof_bytes.at(trun.body + at + std::uint64_t(i) * entry);
                const std::uint32_t d = own_duration ? get_be32(sample) : duration;
                const std::uint32_t s = own_size ? get_be32(sample + (own_duration ? 4 : 0)) : size;
                add_run(runs, position, 1, s, d);
                position += s;
            }
            return true;
        });
        data_end = position;
        return read ? !failed : fail();
    });
    return walked && !failed;
}

// How many frames of the track the runs of a fragment that the end of the
// file cuts off count, as far as the file holds them. None of them is
// used: their places and sizes may be cut off with the rest, and their data
// follows the fragment's own atoms.
std::uint64_t count_cut_off_frames(const MovieSource& source, const Held& moof_bytes, const Atom& moof,
                                   std::uint32_t track_id)
{
    const Reader clipped{source, nullptr, true};
    std::uint64_t frames = 0;
    clipped.children(moof_bytes, moof, [&](const Atom& traf) {
        Atom tfhd;
        std::uint32_t id = 0;
        if (is_type(traf.type, "traf") && clipped.child(moof_bytes, traf, "tfhd", tfhd) &&
            field32(moof_bytes, tfhd, 4, id) && id == track_id) {
            clipped.children(moof_bytes, traf, [&](const Atom& trun) {
                std::uint32_t count = 0;
                if (is_type(trun.type, "trun") && field32(moof_bytes, trun, 4, count)) {
                    frames += count;
                }
                return true;
            });
        }
        return true;
    });
    return frames;
}

// The movie atom, the video track's atoms and the fragments.
struct Structure {
    Held moov;
    Atom mvhd, tkhd, mdhd, stsd, stts, stsc, stsz, stco, elst;
    bool co64 = false;
    bool have_video = false;
    std::uint32_t track_id = 0;
    TrackDefaults defaults;
    std::vector<FrameRun> fragment_runs;
    bool fragment_cut = false;         // the end of the file cuts the last fragment off
    std::uint64_t frames_cut_off = 0;  // the frames its runs count, when it cuts its "moof"
    // The first sound track, which the AVI carries when it can, and its
    // samples in the fragments.
    Atom sound;
    int sound_number = 0;
    std::uint32_t sound_id = 0;
    TrackDefaults sound_defaults;
    std::vector<FrameRun> sound_fragment_runs;
    bool sound_fragments_read = true;
    // The other tracks, by number and handler, which the AVI does not carry.
    std::vector<std::pair<int, std::string>> others;
};

// Reads each fragment ("moof") for the video track's frames and the sound
// track's samples, up to one that the end of the file cuts off.
bool read_fragments(const Reader& reader, const std::vector<Atom>& fragments, Structure& s)
{
    const MovieSource& source = reader.source;
    Held fragment;
    for (const Atom& moof : fragments) {
        if (!fragment.load(source, moof)) {
            report_line(reader.report, "Not enough memory to read a movie fragment.");
            return false;
        }
        if (moof.cut) {
            s.frames_cut_off = count_cut_off_frames(source, fragment, moof, s.track_id);
            break;  // the last: it reaches the end of the file
        }
        if (!read_fragment(reader, fragment, moof, s.track_id, s.defaults, s.fragment_runs)) {
            return false;
        }
        // Damage in the sound's fragments leaves the sound out, not the video.
        const Reader quiet{source, nullptr};
        s.sound_fragments_read = s.sound_fragments_read &&
            (!s.sound.found ||
             read_fragment(quiet, fragment, moof, s.sound_id, s.sound_defaults, s.sound_fragment_runs));
    }
    return true;
}

bool read_structure(const Reader& reader, Structure& s)
{
    const MovieSource& source = reader.source;
    // The top level: atom after atom by their sizes, never by a scan.
    Atom moov;
    std::vector<Atom> fragments;
    for (std::uint64_t position = 0; source.file_size - position >= 8;) {
        unsigned char bytes[16] = {};
        const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(16, source.file_size - position));
        if (!read_movie_bytes(source, position, have, bytes)) {
            break;
        }
        // A top-level atom past the end of the file is cut there and ends the
        // walk (a movie cut off in its frame data); only the movie atom must
        // be whole. A fragmented movie cut in a "moof" or in the "mdat" after
        // it ends inside a fragment.
        char type[5] = {};
        std::memcpy(type, bytes + 4, 4);
        const bool needed = is_type(type, "moov") || is_type(type, "moof");
        const Reader top{source, needed ? reader.report : nullptr, !is_type(type, "moov")};
        Atom atom;
        if (!top.header(bytes, position, source.file_size, "", atom)) {
            if (needed) {
                return false;
            }
            break;
        }
        if (!atom.found) {
            break;
        }
        if (is_type(atom.type, "moov") && !moov.found) {
            moov = atom;
        } else if (is_type(atom.type, "moof")) {
            fragments.push_back(atom);
        }
        s.fragment_cut = s.fragment_cut || (atom.cut && !fragments.empty() && (needed || is_type(type, "mdat")));
        position = atom.end;
    }
    if (!moov.found) {
        report_line(reader.report, "Unable to find tag \"mvhd\"");
        return false;
    }
    if (!s.moov.load(source, moov)) {
        report_line(reader.report, "Not enough memory to read the movie header.");
        return false;
    }
    const Held& held = s.moov;
    Atom mvex;
    std::vector<Atom> tracks;
    if (!reader.children(held, moov, [&](const Atom& a) {
            if (is_type(a.type, "mvhd") && !s.mvhd.found) {
                s.mvhd = a;
            } else if (is_type(a.type, "trak")) {
                tracks.push_back(a);
            } else if (is_type(a.type, "mvex") && !mvex.found) {
                mvex = a;
            }
            return true;
        })) {
        return false;
    }
    if (!s.mvhd.found) {
        report_line(reader.report, "Unable to find tag \"mvhd\"");
        return false;
    }

    // The first video track is converted; a track without a handler is
    // taken for one, as a movie of one track is.
    Atom video;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        Atom mdia;
        Atom hdlr;
        if (!reader.child(held, tracks[t], "mdia", mdia) || !reader.child(held, mdia, "hdlr", hdlr)) {
            return false;
        }
        std::string handler = "????";
        if (hdlr.found && table_fits(hdlr, 8, 1, 4)) {
            handler.assign(reinterpret_cast<const char*>(held.at(hdlr.body + 8)), 4);
            for (char& c : handler) {
                c = (c < 0x20 || c > 0x7E) ? '?' : c;
            }
        }
        if (!video.found && (!hdlr.found || handler == "vide")) {
            video = tracks[t];
        } else {
            if (!s.sound.found && handler == "soun") {
                s.sound = tracks[t];
                s.sound_number = static_cast<int>(t + 1);
            }
            s.others.emplace_back(static_cast<int>(t + 1), handler);
        }
    }
    if (!video.found) {
        report_line(reader.report, "The movie has no video track.");
        return false;
    }
    s.have_video = true;
    Atom mdia, minf, stbl, edts;
    if (!reader.child(held, video, "tkhd", s.tkhd) || !reader.child(held, video, "mdia", mdia) ||
        !reader.child(held, video, "edts", edts) || !reader.child(held, edts, "elst", s.elst) ||
        !reader.child(held, mdia, "mdhd", s.mdhd) || !reader.child(held, mdia, "minf", minf) ||
        !reader.child(held, minf, "stbl", stbl) || !reader.child(held, stbl, "stsd", s.stsd) ||
        !reader.child(held, stbl, "stts", s.stts) || !reader.child(held, stbl, "stsc", s.stsc) ||
        !reader.child(held, stbl, "stsz", s.stsz) || !reader.child(held, stbl, "stco", s.stco)) {
        return false;
    }
    if (!s.stco.found) {
        if (!reader.child(held, stbl, "co64", s.stco)) {
            return false;
        }
        s.co64 = s.stco.found;
    }
    if (s.tkhd.found &&
        !field32(held, s.tkhd, versioned(held, s.tkhd, 12, 20), s.track_id)) {
        reader.too_short(s.tkhd);
        return false;
    }
    Atom sound_tkhd;
    if (s.sound.found && reader.child(held, s.sound, "tkhd", sound_tkhd) && sound_tkhd.found) {
        field32(held, sound_tkhd, versioned(held, sound_tkhd, 12, 20), s.sound_id);
    }

    // Fragments: the track's defaults from "trex", then each "moof".
    if (!fragments.empty()) {
        if (!reader.children(held, mvex, [&](const Atom& trex) {
                std::uint32_t id = 0;
                if (is_type(trex.type, "trex") && field32(held, trex, 4, id) && (id == s.track_id || id == s.sound_id)) {
                    TrackDefaults& defaults = id == s.track_id ? s.defaults : s.sound_defaults;
                    field32(held, trex, 12, defaults.duration);
                    field32(held, trex, 16, defaults.size);
                }
                return true;
            })) {
            return false;
        }
        return read_fragments(reader, fragments, s);
    }
    return true;
}

// A table of `count` words of `word_bytes` bytes (4 or 8) from `offset`
// within an atom, converted to native integers.
template <typename Word>
bool read_words(const Held& held, const Atom& atom, std::uint64_t offset, std::uint64_t count, std::size_t word_bytes,
                std::vector<Word>& out)
{
    if (!table_fits(atom, offset, count, word_bytes)) {
        return false;
    }
    out.resize(static_cast<std::size_t>(count));
    const unsigned char* p = held.at(atom.body + offset);
    for (std::size_t i = 0; i < out.size(); ++i, p += word_bytes) {
        out[i] = static_cast<Word>(word_bytes == 8 ? get_be64(p) : get_be32(p));
    }
    return true;
}

// The pixel layout of the sample description, or false after saying why.
bool pixel_layout(const Held& held, const Atom& stsd, const unsigned char* format, MovieInfo& info, std::FILE* report)
{
    std::uint32_t depth = 0;
    std::uint32_t table_id = 0;
    if (!field16(held, stsd, 8 + 82, depth) || !field16(held, stsd, 8 + 84, table_id)) {
        report_too_short(report, "stsd");
        return false;
    }
    info.depth = static_cast<int>(depth);
    PixelLayout& layout = info.layout;
    layout.width = info.width;
    layout.height = info.height;
    const bool raw = std::memcmp(format, "raw ", 4) == 0;
    std::size_t pixel_bits = 0;
    if (!raw && depth == 24) {
        layout.kind = PixelKind::bgr24;
        pixel_bits = 24;
    } else if (raw && depth == 24) {
        layout.kind = PixelKind::rgb24;
        pixel_bits = 24;
    } else if (raw && depth == 32) {
        layout.kind = PixelKind::argb32;
        layout.bit_count = 32;
        pixel_bits = 32;
    } else if (raw && depth == 16) {
        layout.kind = PixelKind::rgb555;
        pixel_bits = 16;
    } else if (raw && depth == 40) {
        // 8-bit grey as the format defines it, from white at 0 to black at
        // 255: value v is the colour (255 - v) in every channel.
        layout.kind = PixelKind::indexed8;
        pixel_bits = 8;
        for (int v = 0; v < 256; ++v) {
            std::memset(layout.palette[v], 255 - v, 3);
        }
    } else if (raw && depth == 8 && table_id == 0) {
        // The colour table follows the description: seed, flags, the last
        // entry's number, then entries of four 16-bit words (number, red,
        // green, blue), the colours in order from value 0.
        layout.kind = PixelKind::indexed8;
        pixel_bits = 8;
        std::uint32_t last = 0;
        if (!field16(held, stsd, 8 + 86 + 6, last)) {
            report_too_short(report, "stsd");
            return false;
        }
        const std::uint64_t entries = std::min<std::uint32_t>(last, 255) + 1;
        if (!table_fits(stsd, 8 + 94, entries, 8)) {
            report_too_short(report, "stsd");
            return false;
        }
        for (std::uint64_t v = 0; v < entries; ++v) {
            const unsigned char* entry = held.at(stsd.body + 8 + 94 + 8 * v);
            layout.palette[v][0] = entry[6];
            layout.palette[v][1] = entry[4];
            layout.palette[v][2] = entry[2];
        }
    } else {
        if (raw && depth == 8) {
            report_line(report, "Unsupported pixel depth 8 without a colour table in the movie");
        } else {
            report_format(report, "Unsupported pixel depth %u for data format \"%c%c%c%c\"\n", depth, format[0],
                          format[1], format[2], format[3]);
        }
        return false;
    }
    layout.stride = (std::size_t(info.width) * pixel_bits + 7) / 8;
    layout.frame_bytes = layout.stride * std::size_t(info.height);
    return true;
}

// The sample format of a sound track's first description, or false with
// the reason it cannot be carried. Versions 0 and 1 give the channels, the
// sample size and the rate (16.16) in fixed places, version 1 then four
// more words; version 2 gives them again, wider, with flags for "lpcm".
// Formats of more than 8 bits are big-endian unless an "enda" atom (in a
// "wave" atom, or on its own) says otherwise.
bool sound_format(const Held& held, const Atom& stsd, std::uint32_t media_scale, MovieSound& sound, std::string& why)
{
    std::uint32_t entry_size = 0;
    if (!field32(held, stsd, 8, entry_size) || !table_fits(stsd, 8, 1, 36)) {
        why = "its sample description is cut short";
        return false;
    }
    const std::uint64_t entry = stsd.body + 8;
    const unsigned char* e = held.at(entry);
    std::memcpy(sound.format, e + 4, 4);
    for (int i = 0; i < 4; ++i) {
        sound.format[i] = (sound.format[i] < 0x20 || sound.format[i] > 0x7E) ? '?' : sound.format[i];
    }
    const std::uint32_t version = get_be16(e + 16);
    std::uint32_t channels = get_be16(e + 24);
    std::uint32_t bits = get_be16(e + 26);
    double rate = double(get_be32(e + 32) >> 16);
    std::uint32_t flags = 0;
    std::uint64_t extensions = 36;
    const std::uint64_t entry_end = std::min<std::uint64_t>(entry + std::max<std::uint32_t>(entry_size, 36), stsd.end);
    if (version == 1) {
        extensions = 52;
    } else if (version == 2) {
        if (entry + 72 > entry_end) {
            why = "its sample description is cut short";
            return false;
        }
        std::uint64_t rate_bits = get_be64(e + 40);
        std::memcpy(&rate, &rate_bits, sizeof rate);
        channels = get_be32(e + 48);
        bits = get_be32(e + 56);
        flags = get_be32(e + 60);
        extensions = 72;
    }
    // The byte order an "enda" atom gives: non-zero for little-endian.
    bool little = false;
    const MovieSource none;
    const Reader quiet{none, nullptr};
    Atom rest;
    std::memcpy(rest.type, "stsd", 4);
    rest.body = std::min(entry + extensions, entry_end);
    rest.end = entry_end;
    rest.found = true;
    auto find_enda = [&](const Atom& a) {
        std::uint32_t value = 0;
        if (is_type(a.type, "enda") && field16(held, a, 0, value)) {
            little = value != 0;
        }
        return true;
    };
    quiet.children(held, rest, [&](const Atom& a) {
        if (is_type(a.type, "wave")) {
            quiet.children(held, a, find_enda);
        }
        return find_enda(a);
    });

    const auto is = [&](const char* name) { return std::memcmp(sound.format, name, 4) == 0; };
    sound.is_signed = true;
    sound.is_float = false;
    if (is("raw ") && bits == 8) {
        sound.is_signed = false;
        sound.big_endian = false;
    } else if ((is("twos") || is("sowt")) && (bits == 8 || bits == 16)) {
        sound.big_endian = is("twos");
    } else if (is("in24") || is("in32") || is("fl32") || is("fl64")) {
        bits = is("in24") ? 24 : (is("fl64") ? 64 : 32);
        sound.is_float = is("fl32") || is("fl64");
        sound.big_endian = !little;
    } else if (is("lpcm") && version == 2) {
        sound.is_float = (flags & 1) != 0;
        sound.big_endian = (flags & 2) != 0 && bits > 8;
        sound.is_signed = (flags & 4) != 0;
        const bool fits = sound.is_float ? (bits == 32 || bits == 64)
                                         : (bits == 16 || bits == 24 || bits == 32 || (bits == 8));
        if (!fits || (!sound.is_float && bits > 8 && !sound.is_signed)) {
            why = "its linear PCM samples are of a kind an AVI file does not hold";
            return false;
        }
    } else if (is("raw ") || is("twos") || is("sowt")) {
        why = "its samples are of a size an AVI file does not hold";
        return false;
    } else {
        why = std::string("its sound is compressed (\"") + sound.format + "\")";
        return false;
    }
    if (channels < 1 || channels > 8) {
        why = "it has " + std::to_string(channels) + " channels (1 to 8 can be carried)";
        return false;
    }
    if (rate < 1.0) {
        rate = media_scale;  // an old description may leave it 0; the media's clock runs at the rate
    }
    if (!(rate >= 1.0 && rate <= 4000000.0)) {
        why = "its sample rate is not one an AVI file can hold";
        return false;
    }
    sound.channels = static_cast<int>(channels);
    sound.bits = static_cast<int>(bits);
    sound.rate = static_cast<std::uint32_t>(rate + 0.5);
    return true;
}

// `time` units of a clock of `from` per second in units of `to`, rounded.
std::uint64_t rescale(std::uint64_t time, std::uint64_t to, std::uint64_t from)
{
    if (from == 0) {
        return 0;
    }
    const unsigned __int128 scaled = (static_cast<unsigned __int128>(time) * to + from / 2) / from;
    return scaled > 0xFFFFFFFFFFFFull ? 0xFFFFFFFFFFFFull : static_cast<std::uint64_t>(scaled);
}

// Appends `count` sample frames from `first` on of the stored pieces.
void take_samples(const std::vector<SoundPiece>& stored, const std::vector<std::uint64_t>& starts, int block,
                  std::uint64_t first, std::uint64_t count, std::vector<SoundPiece>& out)
{
    std::size_t p = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), first) - starts.begin() - 1);
    for (; count > 0 && p < stored.size(); ++p) {
        const std::uint64_t within = first - starts[p];
        const std::uint64_t take = std::min(stored[p].samples - within, count);
        const std::uint64_t offset =
            stored[p].offset == silent_piece ? silent_piece : stored[p].offset + within * std::uint64_t(block);
        out.push_back(SoundPiece{offset, take});
        first += take;
        count -= take;
    }
}

// Reads the sound track: its format, where its sample frames lie (from the
// tables, then the fragments), which of them its edits play and when, all
// from the moment the video's first frame shows; the pieces may lie past
// the end of the file (see end_sound). `sound.carried` stays false, with
// the reason in `why`, for a track the AVI file cannot carry.
void read_sound(const Held& held, const Atom& trak, const std::vector<FrameRun>& fragment_runs,
                std::uint32_t movie_scale, std::uint64_t video_lead, MovieSound& sound, std::string& why)
{
    const MovieSource none;
    const Reader quiet{none, nullptr};
    Atom mdia, mdhd, minf, stbl, stsd, stsc, stsz, stco, edts, elst;
    const bool walked = quiet.child(held, trak, "mdia", mdia) && quiet.child(held, mdia, "mdhd", mdhd) &&
                        quiet.child(held, mdia, "minf", minf) && quiet.child(held, minf, "stbl", stbl) &&
                        quiet.child(held, stbl, "stsd", stsd) && quiet.child(held, stbl, "stsc", stsc) &&
                        quiet.child(held, stbl, "stsz", stsz) && quiet.child(held, stbl, "stco", stco) &&
                        quiet.child(held, trak, "edts", edts) && quiet.child(held, edts, "elst", elst);
    bool wide_offsets = false;
    if (walked && !stco.found) {
        quiet.child(held, stbl, "co64", stco);
        wide_offsets = true;
    }
    why = "its sample tables are damaged or missing";
    std::uint32_t descriptions = 0;
    if (walked && (!stsd.found || (field32(held, stsd, 4, descriptions) && descriptions == 0))) {
        why.clear();  // a track of no sound at all
        return;
    }
    std::uint32_t media_scale = 0;
    if (!walked || !mdhd.found ||
        !field32(held, mdhd, versioned(held, mdhd, 12, 20), media_scale)) {
        return;
    }
    if (!sound_format(held, stsd, media_scale, sound, why)) {
        return;
    }
    why = "its sample tables are damaged or missing";
    const int block = sound.block();

    // The stored pieces: each chunk's sample frames, then each fragment's.
    std::uint32_t records = 0, chunk_count = 0, sample_size = 0, size_count = 0;
    std::vector<std::uint32_t> stsc_words, size_table;
    std::vector<std::uint64_t> chunks;
    const bool tables = stsc.found && stsz.found && stco.found && field32(held, stsc, 4, records) &&
                        read_words(held, stsc, 8, std::uint64_t(records) * 3, 4, stsc_words) &&
                        field32(held, stsz, 4, sample_size) && field32(held, stsz, 8, size_count) &&
                        (sample_size != 0 || read_words(held, stsz, 12, size_count, 4, size_table)) &&
                        field32(held, stco, 4, chunk_count) &&
                        read_words(held, stco, 8, chunk_count, wide_offsets ? 8 : 4, chunks);
    if (!tables && fragment_runs.empty()) {
        return;
    }
    // A sample is one sample frame (its size 1 in old movies, the frame's
    // size in newer ones), or several whole ones.
    auto frames_in = [&](std::uint64_t bytes, std::uint64_t& frames) {
        if (bytes <= 1 || bytes == std::uint64_t(block)) {
            frames = 1;
            return true;
        }
        frames = bytes / std::uint64_t(block);
        return bytes % std::uint64_t(block) == 0;
    };
    std::vector<SoundPiece> stored;
    std::uint64_t next_size = 0;  // in the size table
    std::uint32_t record = 0;
    for (std::uint32_t c = 0; tables && c < chunk_count; ++c) {
        while (record + 1 < records && c + 1 >= stsc_words[3 * (record + 1)]) {
            ++record;
        }
        const std::uint64_t samples = records == 0 ? 0 : stsc_words[3 * record + 1];
        std::uint64_t frames = 0;
        if (sample_size != 0) {
            if (!frames_in(sample_size, frames)) {
                why = "its samples do not hold whole sample frames";
                return;
            }
            frames *= samples;
        } else {
            if (samples > size_count - std::min<std::uint64_t>(next_size, size_count)) {
                return;
            }
            for (std::uint64_t i = 0; i < samples; ++i) {
                std::uint64_t in_sample = 0;
                if (!frames_in(size_table[next_size++], in_sample)) {
                    why = "its samples do not hold whole sample frames";
                    return;
                }
                frames += in_sample;
            }
        }
        if (frames > 0) {
            stored.push_back(SoundPiece{chunks[c], frames});
        }
    }
    for (const FrameRun& run : fragment_runs) {
        std::uint64_t in_sample = 0;
        if (!frames_in(run.step, in_sample)) {
            why = "its samples do not hold whole sample frames";
            return;
        }
        // A run's samples follow one another, whole sample frames each.
        stored.push_back(SoundPiece{run.offset, std::uint64_t(run.frames) * in_sample});
    }
    // Where each stored piece starts among the track's sample frames.
    std::vector<std::uint64_t> starts(1, 0);
    for (const SoundPiece& piece : stored) {
        starts.push_back(starts.back() + piece.samples);
        if (starts.back() > 0xFFFFFFFFu) {
            why = "it is longer than an AVI sound stream can hold";
            return;
        }
    }

    // The edits: an empty one is silence for its duration; any other plays
    // its stretch of the media (a rate of 0 holds a picture, which sound has
    // not: it plays nothing). Edits that repeat the media without end are
    // refused as the video's are.
    std::vector<Edit> edits;
    if (elst.found && !read_edits(held, elst, edits)) {
        return;
    }
    if (!elst.found) {
        edits.push_back(Edit{0, 0, 0x10000});
    }
    const std::uint64_t most_pieces = 16 * (std::uint64_t(stored.size()) + edits.size()) + 1024;
    std::vector<SoundPiece>& pieces = sound.pieces;
    pieces.clear();
    std::uint64_t total = 0;
    for (const Edit& edit : edits) {
        std::uint64_t count = rescale(edit.duration, sound.rate, movie_scale);
        if (edit.media_time < 0) {
            pieces.push_back(SoundPiece{silent_piece, count});
        } else if (edit.rate != 0) {
            const std::uint64_t first = rescale(static_cast<std::uint64_t>(edit.media_time), sound.rate, media_scale);
            if (first >= starts.back()) {
                continue;
            }
            if (edit.duration == 0 || movie_scale == 0 || count > starts.back() - first) {
                count = starts.back() - first;
            }
            take_samples(stored, starts, block, first, count, pieces);
        } else {
            continue;
        }
        total += count;
        if (total > 0xFFFFFFFFu) {
            why = "it is longer than an AVI sound stream can hold";
            return;
        }
        if (pieces.size() > most_pieces) {
            why = "its edit list repeats its sound more often than reelpack can follow";
            return;
        }
    }
    // The AVI file starts with the video's first frame: the sound from the
    // same moment on.
    std::uint64_t skip = rescale(video_lead, sound.rate, movie_scale);
    std::size_t dropped = 0;
    while (skip > 0 && dropped < pieces.size()) {
        SoundPiece& piece = pieces[dropped];
        const std::uint64_t cut = std::min(skip, piece.samples);
        piece.samples -= cut;
        if (piece.offset != silent_piece) {
            piece.offset += cut * std::uint64_t(block);
        }
        skip -= cut;
        total -= cut;
        dropped += piece.samples == 0 ? 1 : 0;
    }
    pieces.erase(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(dropped));
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(), [](const SoundPiece& p) { return p.samples == 0; }),
                 pieces.end());
    sound.samples = total;
    if (total == 0) {
        why.clear();
        return;
    }
    sound.carried = true;
}

// The frames up to where the file ends, in the order they show: every one
// that starts inside the file, the last perhaps cut short by its end (it is
// then written with its missing bytes black). The first frame that lies
// wholly past the end ends the video. Returns how many frames that leaves
// out, counted by the runs and never one by one, however many the tables
// place past the end.
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

// Whether the file ends before the movie's tables say it should: frames or
// sample frames lie past its end, or it ends inside a fragment.
bool cut_short(const MovieInfo& info, const FrameTable& table, std::uint64_t file_size)
{
    bool cut = info.frames_lost > 0 || info.fragment_cut;
    for (const FrameRun& run : table.runs) {
        cut = cut || run.offset + std::uint64_t(run.frames) * run.step > file_size;  // the runs start inside the file
    }
    const std::uint64_t block = std::uint64_t(info.sound.block());
    for (const SoundPiece& piece : info.sound.pieces) {
        cut = cut || (piece.offset != silent_piece &&
                      (piece.offset >= file_size || piece.samples > (file_size - piece.offset) / block));
    }
    return cut;
}

// The sound beside a movie that the end of its file cuts short ends with
// the AVI file's last frame (where the frames have no times, with their
// share of it, as the run spreads it over them). Sample frames that lie
// past the end of the file become silence, so that what follows stays at
// its time; the run says how many.
void end_sound(MovieInfo& info, const FrameTable& table, std::uint64_t file_size)
{
    MovieSound& sound = info.sound;
    if (!sound.carried) {
        return;
    }
    std::uint64_t end = sound.samples;
    const std::uint32_t scale = static_cast<std::uint32_t>(info.time_scale);
    if (cut_short(info, table, file_size)) {
        const std::uint64_t frames = std::uint64_t(table.total_frames);
        const unsigned __int128 video_end =
            info.frame_period == 0 || scale == 0
                ? static_cast<unsigned __int128>(sound.samples) * frames /
                      std::max<std::uint64_t>(frames + std::uint64_t(info.frames_lost), 1)
                : static_cast<unsigned __int128>(info.avi_frames) * info.frame_period * sound.rate / scale;
        end = static_cast<std::uint64_t>(std::min<unsigned __int128>(video_end, end));
    }
    const std::uint64_t block = std::uint64_t(sound.block());
    std::vector<SoundPiece> pieces;
    std::uint64_t left = end;
    for (std::size_t p = 0; p < sound.pieces.size() && left > 0; ++p) {
        const SoundPiece& piece = sound.pieces[p];
        const std::uint64_t samples = std::min(piece.samples, left);
        std::uint64_t there = samples;  // of them in the file
        if (piece.offset != silent_piece) {
            there = piece.offset >= file_size ? 0 : std::min(samples, (file_size - piece.offset) / block);
            sound.lost += samples - there;
        }
        if (there > 0) {
            pieces.push_back(SoundPiece{piece.offset, there});
        }
        if (there < samples) {
            pieces.push_back(SoundPiece{silent_piece, samples - there});
        }
        left -= samples;
    }
    sound.pieces.swap(pieces);
    sound.samples = end;
    sound.carried = end > 0;
}

// Rows padded to the format's alignment when the sample size says so: even
// lengths for "raw ", four bytes for "WRLE". A frame that fits neither the
// packed rows nor the padded ones is refused.
bool fit_rows(PixelLayout& layout, bool raw, std::uint32_t sample_size, std::FILE* report, int depth)
{
    const std::size_t packed = layout.stride;
    const std::size_t align = raw ? 2 : 4;
    const std::size_t padded = (packed + align - 1) / align * align;
    const std::size_t rows = std::size_t(layout.height);
    if (sample_size == packed * rows) {
        return true;
    }
    if (sample_size == padded * rows) {
        layout.stride = padded;
        layout.frame_bytes = padded * rows;
        return true;
    }
    report_format(report, "The movie's frames of %u bytes fit no %dx%d picture of depth %d\n", sample_size,
                  layout.width, layout.height, depth);
    return false;
}

}  // namespace

bool read_movie_bytes(const MovieSource& source, std::uint64_t position, std::size_t size, void* destination)
{
    if (position > source.file_size || size > source.file_size - position) {
        return false;
    }
    if (source.bytes != nullptr) {
        std::memcpy(destination, source.bytes + position, size);
        return true;
    }
    if (source.file == nullptr || fseeko(source.file, static_cast<off_t>(position), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(destination, 1, size, source.file) == size;
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

IndexResult calc_frame_offsets(const sample_to_chunk* records, std::uint32_t record_count,
                               const std::uint64_t* chunk_offsets, std::uint32_t chunk_count, SampleSizes sizes,
                               SampleTimes times, FrameTable& table)
{
    const std::int64_t frames = count_frames(records, record_count, chunk_count);
    if (frames > max_total_frames) {
        return IndexResult::too_many_frames;
    }
    if (sizes.constant == 0 && frames > std::int64_t(sizes.count)) {
        return IndexResult::too_few_sizes;
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
            std::uint64_t take = std::min(left, time.left());
            std::uint32_t step = sizes.constant;
            if (step == 0) {
                step = sizes.table[sample];
                std::uint64_t same = 1;
                while (same < take && sizes.table[sample + same] == step) {
                    ++same;
                }
                take = same;
            }
            add_run(table.runs, offset, static_cast<std::uint32_t>(take), step, time.duration());
            offset += take * step;
            time.advance(take);
            sample += take;
            left -= take;
        }
    }
    table.total_frames = static_cast<std::int32_t>(frames);
    return IndexResult::ok;
}

bool index_movie(const MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report)
{
    const Reader reader{source, report};
    Structure s;
    if (!read_structure(reader, s)) {
        return false;
    }
    const Held& held = s.moov;
    report_line(report, "Movie header found");

    if (!s.tkhd.found) {
        report_line(report, "Unable to find tag \"tkhd\"");
        return false;
    }
    report_line(report, "Track header found");
    std::uint32_t track_width = 0;
    std::uint32_t track_height = 0;
    const std::uint64_t size_at = versioned(held, s.tkhd, 76, 88);
    if (!field32(held, s.tkhd, size_at, track_width) || !field32(held, s.tkhd, size_at + 4, track_height)) {
        reader.too_short(s.tkhd);
        return false;
    }
    // The sample description's size is the size of the stored pictures; the
    // track header's is where a player shows them.
    std::uint32_t width = from_mov_edian_s(track_width);
    std::uint32_t height = from_mov_edian_s(track_height);
    if (s.stsd.found) {
        field16(held, s.stsd, 8 + 32, width);
        field16(held, s.stsd, 8 + 34, height);
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    report_format(report, "Width = %d\n", info.width);
    report_format(report, "Height = %d\n", info.height);
    // Every buffer of the run is sized from width x height x 4 in signed
    // 32-bit arithmetic; a picture beyond that, or an empty one, is refused.
    if (info.width == 0 || info.height == 0 ||
        std::int64_t(info.width) * info.height * 4 > std::int64_t(2147483647)) {
        report_format(report, "Unsupported picture size %dx%d\n", info.width, info.height);
        return false;
    }

    if (!s.mdhd.found) {
        report_line(report, "Unable to find tag \"mdhd\"");
        return false;
    }
    report_line(report, "Media header found");
    std::uint32_t time_scale = 0;
    if (!field32(held, s.mdhd, versioned(held, s.mdhd, 12, 20), time_scale)) {
        reader.too_short(s.mdhd);
        return false;
    }
    info.time_scale = static_cast<std::int32_t>(time_scale);

    if (!s.stsd.found) {
        report_line(report, "Unable to find tag \"stsd\"");
        return false;
    }
    std::uint32_t descriptions = 0;
    if (!field32(held, s.stsd, 4, descriptions) || !table_fits(s.stsd, 12, 1, 4)) {
        reader.too_short(s.stsd);
        return false;
    }
    report_format(report, "Sample description found, number of entries = %d\n", static_cast<int>(descriptions));
    const unsigned char* format = held.at(s.stsd.body + 12);
    std::memcpy(info.data_format, format, 4);
    report_format(report, "Data format = \"%c%c%c%c\"\n", format[0], format[1], format[2], format[3]);
    if (std::memcmp(format, "raw ", 4) != 0 && std::memcmp(format, "WRLE", 4) != 0) {
        report_line(report,
                    "Unsupported data format, please select \"BMP\" or \"none\" as the video compression when saving a "
                    ".mov file");
        return false;
    }
    info.is_raw = std::memcmp(format, "raw ", 4) == 0;
    if (!pixel_layout(held, s.stsd, format, info, report)) {
        return false;
    }

    if (!s.stts.found) {
        report_line(report, "Unable to find tag \"stts\"");
        return false;
    }
    report_line(report, "Sample to time table found");
    std::uint32_t time_entries = 0;
    std::vector<std::uint32_t> stts;
    if (!field32(held, s.stts, 4, time_entries) || !read_words(held, s.stts, 8, std::uint64_t(time_entries) * 2, 4, stts)) {
        reader.too_short(s.stts);
        return false;
    }
    // The first sample's duration: from the table, or from the first
    // fragment when the movie atom lists no samples.
    std::uint32_t duration = 0;
    if (time_entries > 0) {
        duration = stts[1];
    } else if (!s.fragment_runs.empty()) {
        duration = s.fragment_runs[0].duration;
    }
    info.sample_duration = static_cast<std::int32_t>(duration);
    report_format(report, "Frame rate = %f\n", double(info.time_scale) / double(info.sample_duration));

    if (!s.stsc.found) {
        report_line(report, "Unable to find tag \"stsc\"");
        return false;
    }
    report_line(report, "Sample to chunk table found");
    std::uint32_t record_count = 0;
    if (!field32(held, s.stsc, 4, record_count)) {
        reader.too_short(s.stsc);
        return false;
    }
    report_format(report, "Number of entries = %u\n", record_count);
    std::vector<std::uint32_t> stsc;
    if (!read_words(held, s.stsc, 8, std::uint64_t(record_count) * 3, 4, stsc)) {
        reader.too_short(s.stsc);
        return false;
    }

    // Sample sizes: one for all, or one each; a movie without the table has
    // packed frames.
    SampleSizes sizes;
    std::vector<std::uint32_t> size_table;
    sizes.constant = static_cast<std::uint32_t>(info.layout.frame_bytes);
    if (s.stsz.found) {
        if (!field32(held, s.stsz, 4, sizes.constant) || !field32(held, s.stsz, 8, sizes.count) ||
            (sizes.constant == 0 && !read_words(held, s.stsz, 12, sizes.count, 4, size_table))) {
            reader.too_short(s.stsz);
            return false;
        }
        sizes.table = size_table.data();
    }

    if (!s.stco.found) {
        report_line(report, "Unable to find tag \"stco\"");
        return false;
    }
    report_line(report, "Sample offset table found");
    std::uint32_t chunk_count = 0;
    if (!field32(held, s.stco, 4, chunk_count)) {
        reader.too_short(s.stco);
        return false;
    }
    report_format(report, "Number of entries = %u\n", chunk_count);
    std::vector<std::uint64_t> chunks;
    if (!read_words(held, s.stco, 8, chunk_count, s.co64 ? 8 : 4, chunks)) {
        reader.too_short(s.stco);
        return false;
    }

    // The records' fields are the table's words, in order.
    std::vector<sample_to_chunk> records(record_count);
    for (std::uint32_t r = 0; r < record_count; ++r) {
        records[r] = sample_to_chunk{stsc[3 * r], stsc[3 * r + 1], stsc[3 * r + 2]};
    }
    const SampleTimes times{stts.data(), time_entries};
    switch (calc_frame_offsets(records.data(), record_count, chunks.data(), chunk_count, sizes, times, table)) {
    case IndexResult::ok:
        break;
    case IndexResult::too_many_frames:
        report_format(report, "The movie describes %lld frames, more than an AVI file can hold (%lld).\n",
                      static_cast<long long>(count_frames(records.data(), record_count, chunk_count)),
                      static_cast<long long>(max_total_frames));
        return false;
    case IndexResult::too_few_sizes:
        report_format(report, "The \"stsz\" atom lists %u sample sizes for %lld frames.\n", sizes.count,
                      static_cast<long long>(count_frames(records.data(), record_count, chunk_count)));
        return false;
    }
    for (const FrameRun& run : s.fragment_runs) {
        add_run(table.runs, run.offset, run.frames, run.step, run.duration);
    }

    // Every frame has one layout, which its stored size decides.
    if (!table.runs.empty()) {
        const std::uint32_t sample_size = table.runs[0].step;
        for (const FrameRun& run : table.runs) {
            if (run.step != sample_size) {
                report_format(report, "The movie's frames are of different sizes (%u and %u bytes)\n", sample_size,
                              run.step);
                return false;
            }
        }
        if (!fit_rows(info.layout, info.is_raw, sample_size, report, info.depth)) {
            return false;
        }
    }

    // The frames a player shows: those within the track's edits.
    std::uint32_t movie_scale = 0;
    std::uint64_t video_lead = 0;  // how long the movie shows none of them first
    if (s.elst.found) {
        if (!field32(held, s.mvhd, versioned(held, s.mvhd, 12, 20), movie_scale)) {
            reader.too_short(s.mvhd);
            return false;
        }
        std::vector<Edit> edits;
        if (!read_edits(held, s.elst, edits)) {
            reader.too_short(s.elst);
            return false;
        }
        if (!apply_edits(edits, movie_scale, time_scale, table.runs, report)) {
            return false;
        }
        video_lead = leading_time(edits);
    }
    std::int64_t frames = 0;
    for (const FrameRun& run : table.runs) {
        frames += run.frames;
    }
    if (frames > max_total_frames) {
        report_format(report, "The movie describes %lld frames, more than an AVI file can hold (%lld).\n",
                      static_cast<long long>(frames), static_cast<long long>(max_total_frames));
        return false;
    }
    table.total_frames = static_cast<std::int32_t>(frames);
    info.frames_lost = static_cast<std::int64_t>(s.frames_cut_off) + cut_at_file_end(table, source.file_size);
    info.fragment_cut = s.fragment_cut;

    choose_frame_period(table, info);
    if (info.avi_frames > max_total_frames) {
        report_format(report, "The movie's frames at their times make %lld AVI frames, more than an AVI file can hold "
                              "(%lld).\n",
                      static_cast<long long>(info.avi_frames), static_cast<long long>(max_total_frames));
        return false;
    }

    MovieSound& sound = info.sound;
    std::string why;
    if (s.sound.found) {
        if (!s.elst.found) {
            field32(held, s.mvhd, versioned(held, s.mvhd, 12, 20), movie_scale);
        }
        sound.track = s.sound_number;
        if (!s.sound_fragments_read) {
            why = "its fragments are damaged";
        } else {
            read_sound(held, s.sound, s.sound_fragment_runs, movie_scale, video_lead, sound, why);
            end_sound(info, table, source.file_size);
        }
    }
    for (const auto& other : s.others) {
        if (other.first == sound.track && sound.carried) {
            report_format(report, "Track %d (\"soun\") is carried into the AVI file: \"%s\", %u Hz, %d channels of "
                                  "%d bits, %llu sample frames\n",
                          sound.track, sound.format, sound.rate, sound.channels, sound.bits,
                          static_cast<unsigned long long>(sound.samples));
        } else if (other.first == sound.track && !why.empty()) {
            report_format(report, "Track %d (\"soun\") is not carried into the AVI file: %s\n", sound.track,
                          why.c_str());
        } else {
            report_format(report, "Track %d (\"%s\") is not carried into the AVI file\n", other.first,
                          other.second.c_str());
        }
    }
    report_format(report, "%d frames indexed\n", table.total_frames);
    return true;
}

void sound_to_avi(const MovieSound& sound, unsigned char* bytes, std::size_t size)
{
    if (sound.bits == 8) {
        if (sound.is_signed) {
            for (std::size_t i = 0; i < size; ++i) {
                bytes[i] ^= 0x80;  // two's complement to offset binary
            }
        }
        return;
    }
    if (!sound.big_endian) {
        return;
    }
    const std::size_t width = static_cast<std::size_t>(sound.bits / 8);
    for (std::size_t i = 0; i + width <= size; i += width) {
        std::reverse(bytes + i, bytes + i + width);
    }
}
