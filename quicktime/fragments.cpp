#include "quicktime/fragments.h"

namespace {

// The track fragment header's flags.
constexpr std::uint32_t base_data_offset_present = 0x1;
constexpr std::uint32_t sample_description_present = 0x2;
constexpr std::uint32_t default_duration_present = 0x8;
constexpr std::uint32_t default_size_present = 0x10;
constexpr std::uint32_t default_base_is_moof = 0x20000;
// The track run's flags.
constexpr std::uint32_t data_offset_present = 0x1;
constexpr std::uint32_t first_sample_flags_present = 0x4;
constexpr std::uint32_t sample_duration_present = 0x100;
constexpr std::uint32_t sample_size_present = 0x200;
constexpr std::uint32_t sample_flags_present = 0x400;
constexpr std::uint32_t sample_time_offset_present = 0x800;

// What a track fragment header says: whose samples follow, where their
// data starts and what they are where their runs do not say.
struct TrackFragment {
    std::uint32_t id = 0;
    std::uint64_t base = 0;
    TrackDefaults defaults;
};

// The data of a track fragment starts where its header says, or at the
// fragment's start; otherwise where the data of the track fragment before
// it, whatever its track, ended (`data_end`, the fragment's start for the
// first).
Failure read_fragment_header(const Held& held, const Atom& moof, const Atom& traf, std::uint64_t data_end,
                             const Fragments& fragments, TrackFragment& header)
{
    Atom tfhd;
    if (Failure failure = find_child(held, traf, "tfhd", tfhd); failure.failed()) {
        return failure;
    }
    std::uint32_t flags = 0;
    if (!tfhd.found || !field32(held, tfhd, 0, flags) || !field32(held, tfhd, 4, header.id)) {
        return atom_too_short(tfhd.found ? tfhd.type : traf.type);
    }
    flags &= 0xFFFFFF;
    const auto defaults = fragments.defaults.find(header.id);
    header.defaults = defaults == fragments.defaults.end() ? TrackDefaults{} : defaults->second;
    header.base = (flags & default_base_is_moof) != 0 ? moof.start : data_end;
    std::uint64_t offset = 8;
    bool fits = true;
    if ((flags & base_data_offset_present) != 0) {
        std::uint32_t high = 0;
        std::uint32_t low = 0;
        fits = field32(held, tfhd, offset, high) && field32(held, tfhd, offset + 4, low);
        header.base = (std::uint64_t(high) << 32) | low;
        offset += 8;
    }
    if ((flags & sample_description_present) != 0) {
        offset += 4;  // the track has one sample description
    }
    if ((flags & default_duration_present) != 0) {
        fits = fits && field32(held, tfhd, offset, header.defaults.duration);
        offset += 4;
    }
    if ((flags & default_size_present) != 0) {
        fits = fits && field32(held, tfhd, offset, header.defaults.size);
    }
    return fits ? Failure{} : atom_too_short(tfhd.type);
}

// One track run: its samples from `position` on (or from the fragment's
// base and the run's data offset), appended to `runs` unless that is null;
// `position` is left where their data ends.
Failure read_track_run(const Held& held, const Atom& trun, const TrackFragment& header, std::vector<FrameRun>* runs,
                       std::uint64_t& position)
{
    std::uint32_t flags = 0;
    std::uint32_t count = 0;
    if (!field32(held, trun, 0, flags) || !field32(held, trun, 4, count)) {
        return atom_too_short(trun.type);
    }
    std::uint64_t at = 8;
    if ((flags & data_offset_present) != 0) {
        std::uint32_t data_offset = 0;
        if (!field32(held, trun, at, data_offset)) {
            return atom_too_short(trun.type);
        }
        // A signed offset from the fragment's base.
        position = header.base + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(data_offset)));
        at += 4;
    }
    if ((flags & first_sample_flags_present) != 0) {
        at += 4;
    }
    const bool own_duration = (flags & sample_duration_present) != 0;
    const bool own_size = (flags & sample_size_present) != 0;
    const std::uint64_t entry = 4 * ((own_duration ? 1 : 0) + (own_size ? 1 : 0) +
                                     ((flags & sample_flags_present) != 0 ? 1 : 0) +
                                     ((flags & sample_time_offset_present) != 0 ? 1 : 0));
    if (entry == 0) {
        if (runs != nullptr) {
            add_run(*runs, position, count, header.defaults.size, header.defaults.duration);
        }
        position += std::uint64_t(count) * header.defaults.size;
        return {};
    }
    if (!table_fits(trun, at, count, entry)) {
        return atom_too_short(trun.type);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* sample = held.at(trun.body + at + std::uint64_t(i) * entry);
        const std::uint32_t duration = own_duration ? get_be32(sample) : header.defaults.duration;
        const std::uint32_t size = own_size ? get_be32(sample + (own_duration ? 4 : 0)) : header.defaults.size;
        if (runs != nullptr) {
            add_run(*runs, position, 1, size, duration);
        }
        position += size;
    }
    return {};
}

// The runs of one track fragment, as read_track_run() reads each.
Failure read_track_runs(const Held& held, const Atom& traf, const TrackFragment& header, std::vector<FrameRun>* runs,
                        std::uint64_t& position)
{
    Failure failure;
    const Failure walked = walk_children(held, traf, [&](const Atom& trun) {
        if (is_type(trun.type, "trun")) {
            failure = read_track_run(held, trun, header, runs, position);
        }
        return !failure.failed();
    });
    return walked.failed() ? walked : failure;
}

// Appends the samples of track `track_id` in one movie fragment. The other
// tracks' runs are followed only for where their data ends, and damage in
// them is passed over.
Failure read_fragment(const Held& held, const Atom& moof, const Fragments& fragments, std::uint32_t track_id,
                      std::vector<FrameRun>& runs)
{
    std::uint64_t data_end = moof.start;
    Failure failure;
    const Failure walked = walk_children(held, moof, [&](const Atom& traf) {
        if (!is_type(traf.type, "traf")) {
            return true;
        }
        TrackFragment header;
        failure = read_fragment_header(held, moof, traf, data_end, fragments, header);
        if (failure.failed()) {
            return false;
        }
        const bool wanted = header.id == track_id;
        std::uint64_t position = header.base;
        failure = read_track_runs(held, traf, header, wanted ? &runs : nullptr, position);
        if (!wanted) {
            failure = Failure{};
        }
        data_end = position;
        return !failure.failed();
    });
    return walked.failed() ? walked : failure;
}

// How many frames of the track the runs of a fragment that the end of the
// file cuts off count, as far as the file holds them. None of them is
// used: their places and sizes may be cut off with the rest, and their data
// follows the fragment's own atoms.
std::uint64_t count_cut_off_frames(const Held& held, const Atom& moof, std::uint32_t track_id)
{
    std::uint64_t frames = 0;
    const bool clip = true;
    (void)walk_children(
        held, moof,
        [&](const Atom& traf) {
            Atom tfhd;
            std::uint32_t id = 0;
            if (is_type(traf.type, "traf") && !find_child(held, traf, "tfhd", tfhd, clip).failed() &&
                field32(held, tfhd, 4, id) && id == track_id) {
                (void)walk_children(
                    held, traf,
                    [&](const Atom& trun) {
                        std::uint32_t count = 0;
                        if (is_type(trun.type, "trun") && field32(held, trun, 4, count)) {
                            frames += count;
                        }
                        return true;
                    },
                    clip);
            }
            return true;
        },
        clip);
    return frames;
}

}  // namespace

Failure read_track_defaults(const Held& held, const Atom& mvex, Fragments& fragments)
{
    if (!mvex.found) {
        return {};
    }
    return walk_children(held, mvex, [&](const Atom& trex) {
        std::uint32_t id = 0;
        if (is_type(trex.type, "trex") && field32(held, trex, 4, id)) {
            TrackDefaults& defaults = fragments.defaults[id];
            field32(held, trex, 12, defaults.duration);
            field32(held, trex, 16, defaults.size);
        }
        return true;
    });
}

Failure read_fragments(const MovieSource& source, const std::vector<Atom>& moofs, Fragments& fragments)
{
    Held fragment;
    for (const Atom& moof : moofs) {
        if (!fragment.load(source, moof)) {
            return movie_failure(Fault::movie_fragment_memory);
        }
        if (moof.cut) {
            fragments.frames_cut_off = count_cut_off_frames(fragment, moof, fragments.video.id);
            break;  // the last: it reaches the end of the file
        }
        if (Failure failure = read_fragment(fragment, moof, fragments, fragments.video.id, fragments.video.runs);
            failure.failed()) {
            return failure;
        }
        fragments.sound_read =
            fragments.sound_read &&
            (!fragments.have_sound ||
             !read_fragment(fragment, moof, fragments, fragments.sound.id, fragments.sound.runs).failed());
    }
    return {};
}
