#include "quicktime/movie.h"

#include "quicktime/movie_atoms.h"
#include "quicktime/report.h"
#include "quicktime/video_description.h"

namespace {

// The picture's size. The sample description's is the size of the stored
// pictures; the track header's is where a player shows them.
Failure read_picture_size(const MovieAtoms& atoms, MovieInfo& info, std::FILE* report)
{
    const Held& held = atoms.moov;
    if (!atoms.tkhd.found) {
        return tag_missing("tkhd");
    }
    report_line(report, "Track header found");
    std::uint32_t track_width = 0;
    std::uint32_t track_height = 0;
    const std::uint64_t size_at = versioned(held, atoms.tkhd, 76, 88);
    if (!field32(held, atoms.tkhd, size_at, track_width) || !field32(held, atoms.tkhd, size_at + 4, track_height)) {
        return atom_too_short(atoms.tkhd.type);
    }
    std::uint32_t width = from_mov_edian_s(track_width);
    std::uint32_t height = from_mov_edian_s(track_height);
    if (atoms.stsd.found) {
        field16(held, atoms.stsd, 8 + 32, width);
        field16(held, atoms.stsd, 8 + 34, height);
    }
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    report_format(report, "Width = %d\n", info.width);
    report_format(report, "Height = %d\n", info.height);
    // Every buffer of the run is sized from width x height x 4 in signed
    // 32-bit arithmetic; a picture beyond that, or an empty one, is refused.
    if (info.width == 0 || info.height == 0 ||
        std::int64_t(info.width) * info.height * 4 > std::int64_t(2147483647)) {
        return movie_failure(Fault::movie_picture_size, {info.width, info.height});
    }
    return {};
}

Failure read_time_scale(const MovieAtoms& atoms, MovieInfo& info, std::FILE* report)
{
    if (!atoms.mdhd.found) {
        return tag_missing("mdhd");
    }
    report_line(report, "Media header found");
    std::uint32_t time_scale = 0;
    if (!field32(atoms.moov, atoms.mdhd, versioned(atoms.moov, atoms.mdhd, 12, 20), time_scale)) {
        return atom_too_short(atoms.mdhd.type);
    }
    info.time_scale = static_cast<std::int32_t>(time_scale);
    return {};
}

// The frame table from the sample tables, then the fragments; every frame
// has the one layout that its stored size decides.
Failure index_frames(const MovieAtoms& atoms, MovieInfo& info, FrameTable& table, std::FILE* report)
{
    SampleTables tables;
    if (Failure failure = read_time_table(atoms.moov, atoms.tables, tables, report); failure.failed()) {
        return failure;
    }
    // The first sample's duration: from the table, or from the first
    // fragment when the movie atom lists no samples.
    const std::vector<FrameRun>& fragment_runs = atoms.fragments.video.runs;
    std::uint32_t duration = 0;
    if (!tables.times.empty()) {
        duration = tables.times[1];
    } else if (!fragment_runs.empty()) {
        duration = fragment_runs[0].duration;
    }
    info.sample_duration = static_cast<std::int32_t>(duration);
    report_format(report, "Frame rate = %f\n", double(info.time_scale) / double(info.sample_duration));
    const std::uint32_t frame_bytes = static_cast<std::uint32_t>(info.layout.frame_bytes);
    if (Failure failure = read_chunk_tables(atoms.moov, atoms.tables, frame_bytes, tables, report); failure.failed()) {
        return failure;
    }
    const SampleTimes times{tables.times.data(), static_cast<std::uint32_t>(tables.times.size() / 2)};
    if (Failure failure = calc_frame_offsets(tables.records.data(), static_cast<std::uint32_t>(tables.records.size()),
                                             tables.chunk_offsets.data(),
                                             static_cast<std::uint32_t>(tables.chunk_offsets.size()), tables.sizes,
                                             times, table);
        failure.failed()) {
        return failure;
    }
    for (const FrameRun& run : fragment_runs) {
        add_run(table.runs, run.offset, run.frames, run.step, run.duration);
    }
    return fit_frame_size(table, info.depth, info.layout);
}

// The frames a player shows: those within the track's edits, and how long
// the movie shows none of them first (`video_lead`, in its time scale).
Failure follow_edits(const MovieAtoms& atoms, const MovieInfo& info, FrameTable& table, std::uint64_t& video_lead)
{
    const Held& held = atoms.moov;
    if (atoms.elst.found) {
        std::uint32_t movie_scale = 0;
        if (!field32(held, atoms.mvhd, versioned(held, atoms.mvhd, 12, 20), movie_scale)) {
            return atom_too_short(atoms.mvhd.type);
        }
        std::vector<Edit> edits;
        if (!read_edits(held, atoms.elst, edits)) {
            return atom_too_short(atoms.elst.type);
        }
        const std::uint32_t media_scale = static_cast<std::uint32_t>(info.time_scale);
        if (Failure failure = apply_edits(edits, movie_scale, media_scale, table.runs); failure.failed()) {
            return failure;
        }
        video_lead = leading_time(edits);
    }
    std::int64_t frames = 0;
    for (const FrameRun& run : table.runs) {
        frames += run.frames;
    }
    if (frames > max_total_frames) {
        return movie_failure(Fault::movie_too_many_frames, {frames, max_total_frames});
    }
    table.total_frames = static_cast<std::int32_t>(frames);
    return {};
}

// The frames on the AVI file's grid of frame periods.
Failure time_frames(const FrameTable& table, MovieInfo& info)
{
    const FramePeriod chosen = choose_frame_period(table, static_cast<std::uint32_t>(info.sample_duration));
    info.frame_period = chosen.period;
    info.avi_frames = chosen.avi_frames;
    if (info.avi_frames > max_total_frames) {
        return movie_failure(Fault::movie_too_many_avi_frames, {info.avi_frames, max_total_frames});
    }
    return {};
}

// The sound track beside the frames, up to where the file holds them.
void read_sound_track(const MovieAtoms& atoms, std::uint64_t video_lead, std::uint64_t file_size,
                      const FrameTable& table, MovieInfo& info)
{
    MovieSound& sound = info.sound;
    if (!atoms.sound.found) {
        return;
    }
    sound.track = atoms.sound_number;
    if (!atoms.fragments.sound_read) {
        sound.refusal = SoundRefusal::fragments_damaged;
        return;
    }
    const Held& held = atoms.moov;
    std::uint32_t movie_scale = 0;
    field32(held, atoms.mvhd, versioned(held, atoms.mvhd, 12, 20), movie_scale);
    read_sound(held, atoms.sound, atoms.fragments.sound.runs, movie_scale, video_lead, sound);
    const VideoExtent video{info.frames_lost, info.fragment_cut, info.avi_frames, info.frame_period,
                            static_cast<std::uint32_t>(info.time_scale)};
    end_sound(sound, video, table, file_size);
}

// What becomes of each track but the video, and the frames indexed.
void report_tracks(const MovieAtoms& atoms, const MovieInfo& info, const FrameTable& table, std::FILE* report)
{
    const MovieSound& sound = info.sound;
    for (const auto& other : atoms.others) {
        if (other.first == sound.track && sound.carried) {
            report_format(report, "Track %d (\"soun\") is carried into the AVI file: \"%s\", %u Hz, %d channels of "
                                  "%d bits, %llu sample frames\n",
                          sound.track, sound.format, sound.rate, sound.channels, sound.bits,
                          static_cast<unsigned long long>(sound.samples));
        } else if (other.first == sound.track && sound.refusal != SoundRefusal::none) {
            report_format(report, "Track %d (\"soun\") is not carried into the AVI file: %s\n", sound.track,
                          sound_refusal_text(sound).c_str());
        } else {
            report_format(report, "Track %d (\"%s\") is not carried into the AVI file\n", other.first,
                          other.second.c_str());
        }
    }
    report_format(report, "%d frames indexed\n", table.total_frames);
}

}  // namespace

Failure index_movie(const MovieSource& source, MovieInfo& info, FrameTable& table, std::FILE* report)
{
    MovieAtoms atoms;
    if (Failure failure = find_movie_atoms(source, atoms, report); failure.failed()) {
        return failure;
    }
    report_line(report, "Movie header found");
    Failure failure = read_picture_size(atoms, info, report);
    if (!failure.failed()) {
        failure = read_time_scale(atoms, info, report);
    }
    if (!failure.failed()) {
        failure = read_video_description(atoms.moov, atoms.stsd, info.width, info.height, info.data_format,
                                         info.depth, info.layout, report);
        if (failure.fault == Fault::movie_data_format && source.path != nullptr) {
            failure.name = source.path;  // its message names the movie in a command
        }
    }
    if (!failure.failed()) {
        failure = index_frames(atoms, info, table, report);
    }
    std::uint64_t video_lead = 0;
    if (!failure.failed()) {
        failure = follow_edits(atoms, info, table, video_lead);
    }
    if (failure.failed()) {
        return failure;
    }
    // The frames past the end of the file are left out, and counted.
    info.frames_lost = static_cast<std::int64_t>(atoms.fragments.frames_cut_off) +
                       cut_at_file_end(table, source.file_size);
    info.fragment_cut = atoms.fragment_cut;
    if (Failure timed = time_frames(table, info); timed.failed()) {
        return timed;
    }
    read_sound_track(atoms, video_lead, source.file_size, table, info);
    report_tracks(atoms, info, table, report);
    return {};
}
