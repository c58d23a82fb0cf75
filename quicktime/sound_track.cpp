#include "quicktime/sound_track.h"

#include <algorithm>

#include "quicktime/frame_timing.h"
#include "quicktime/sound_format.h"

namespace {

// The atoms of a sound track that its reading needs.
struct SoundAtoms {
    Atom mdhd, stsd, stsc, stsz, stco, elst;
    bool co64 = false;
};

// False when the atoms of the track cannot be walked.
bool find_sound_atoms(const Held& held, const Atom& trak, SoundAtoms& atoms)
{
    Atom mdia, minf, stbl, edts;
    const bool walked =
        !find_child(held, trak, "mdia", mdia).failed() && !find_child(held, mdia, "mdhd", atoms.mdhd).failed() &&
        !find_child(held, mdia, "minf", minf).failed() && !find_child(held, minf, "stbl", stbl).failed() &&
        !find_child(held, stbl, "stsd", atoms.stsd).failed() && !find_child(held, stbl, "stsc", atoms.stsc).failed() &&
        !find_child(held, stbl, "stsz", atoms.stsz).failed() && !find_child(held, stbl, "stco", atoms.stco).failed() &&
        !find_child(held, trak, "edts", edts).failed() && !find_child(held, edts, "elst", atoms.elst).failed();
    if (walked && !atoms.stco.found) {
        (void)find_child(held, stbl, "co64", atoms.stco);
        atoms.co64 = true;
    }
    return walked;
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

// The sample frames in a sample of `bytes`: a sample is one sample frame
// (its size 1 in old movies, the frame's size in newer ones), or several
// whole ones. False when it holds part of one.
bool frames_in(std::uint64_t bytes, std::uint64_t block, std::uint64_t& frames)
{
    if (bytes <= 1 || bytes == block) {
        frames = 1;
        return true;
    }
    frames = bytes / block;
    return bytes % block == 0;
}

// The stored pieces: each chunk's sample frames, then each fragment's.
SoundRefusal stored_pieces(const Held& held, const SoundAtoms& atoms, int block,
                           const std::vector<FrameRun>& fragment_runs, std::vector<SoundPiece>& stored)
{
    std::uint32_t records = 0, chunk_count = 0, sample_size = 0, size_count = 0;
    std::vector<std::uint32_t> stsc, size_table;
    std::vector<std::uint64_t> chunks;
    const bool tables = atoms.stsc.found && atoms.stsz.found && atoms.stco.found &&
                        field32(held, atoms.stsc, 4, records) &&
                        read_words(held, atoms.stsc, 8, std::uint64_t(records) * 3, 4, stsc) &&
                        field32(held, atoms.stsz, 4, sample_size) && field32(held, atoms.stsz, 8, size_count) &&
                        (sample_size != 0 || read_words(held, atoms.stsz, 12, size_count, 4, size_table)) &&
                        field32(held, atoms.stco, 4, chunk_count) &&
                        read_words(held, atoms.stco, 8, chunk_count, atoms.co64 ? 8 : 4, chunks);
    if (!tables && fragment_runs.empty()) {
        return SoundRefusal::tables_damaged;
    }
    std::uint64_t next_size = 0;  // in the size table
    std::uint32_t record = 0;
    for (std::uint32_t c = 0; tables && c < chunk_count; ++c) {
        while (record + 1 < records && c + 1 >= stsc[3 * (record + 1)]) {
            ++record;
        }
        const std::uint64_t samples = records == 0 ? 0 : stsc[3 * record + 1];
        std::uint64_t frames = 0;
        if (sample_size != 0) {
            if (!frames_in(sample_size, std::uint64_t(block), frames)) {
                return SoundRefusal::partial_frames;
            }
            frames *= samples;
        } else {
            if (samples > size_count - std::min<std::uint64_t>(next_size, size_count)) {
                return SoundRefusal::tables_damaged;
            }
            for (std::uint64_t i = 0; i < samples; ++i) {
                std::uint64_t in_sample = 0;
                if (!frames_in(size_table[next_size++], std::uint64_t(block), in_sample)) {
                    return SoundRefusal::partial_frames;
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
        if (!frames_in(run.step, std::uint64_t(block), in_sample)) {
            return SoundRefusal::partial_frames;
        }
        // A run's samples follow one another, whole sample frames each.
        stored.push_back(SoundPiece{run.offset, std::uint64_t(run.frames) * in_sample});
    }
    return SoundRefusal::none;
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

// Where each stored piece starts among the track's sample frames, the
// last the number of them all.
SoundRefusal piece_starts(const std::vector<SoundPiece>& stored, std::vector<std::uint64_t>& starts)
{
    starts.assign(1, 0);
    for (const SoundPiece& piece : stored) {
        starts.push_back(starts.back() + piece.samples);
        if (starts.back() > 0xFFFFFFFFu) {
            return SoundRefusal::too_long;
        }
    }
    return SoundRefusal::none;
}

// The edits: an empty one is silence for its duration; any other plays its
// stretch of the media (a rate of 0 holds a picture, which sound has not:
// it plays nothing). Edits that repeat the media without end are refused
// as the video's are.
SoundRefusal play_edits(const std::vector<Edit>& edits, const std::vector<SoundPiece>& stored,
                        const std::vector<std::uint64_t>& starts, std::uint32_t movie_scale, std::uint32_t media_scale,
                        MovieSound& sound)
{
    const std::uint64_t most_pieces = 16 * (std::uint64_t(stored.size()) + edits.size()) + 1024;
    sound.pieces.clear();
    sound.samples = 0;
    for (const Edit& edit : edits) {
        std::uint64_t count = rescale(edit.duration, sound.rate, movie_scale);
        if (edit.media_time < 0) {
            sound.pieces.push_back(SoundPiece{silent_piece, count});
        } else if (edit.rate != 0) {
            const std::uint64_t first = rescale(static_cast<std::uint64_t>(edit.media_time), sound.rate, media_scale);
            if (first >= starts.back()) {
                continue;
            }
            if (edit.duration == 0 || movie_scale == 0 || count > starts.back() - first) {
                count = starts.back() - first;
            }
            take_samples(stored, starts, sound.block(), first, count, sound.pieces);
        } else {
            continue;
        }
        sound.samples += count;
        if (sound.samples > 0xFFFFFFFFu) {
            return SoundRefusal::too_long;
        }
        if (sound.pieces.size() > most_pieces) {
            return SoundRefusal::edits_repeat;
        }
    }
    return SoundRefusal::none;
}

// The AVI file starts with the video's first frame: the sound from `skip`
// sample frames on.
void skip_samples(std::uint64_t skip, MovieSound& sound)
{
    std::vector<SoundPiece>& pieces = sound.pieces;
    std::size_t dropped = 0;
    while (skip > 0 && dropped < pieces.size()) {
        SoundPiece& piece = pieces[dropped];
        const std::uint64_t cut = std::min(skip, piece.samples);
        piece.samples -= cut;
        if (piece.offset != silent_piece) {
            piece.offset += cut * std::uint64_t(sound.block());
        }
        skip -= cut;
        sound.samples -= cut;
        dropped += piece.samples == 0 ? 1 : 0;
    }
    pieces.erase(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(dropped));
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(), [](const SoundPiece& p) { return p.samples == 0; }),
                 pieces.end());
}

// Whether the file ends before the movie's tables say it should: frames or
// sample frames lie past its end, or it ends inside a fragment.
bool cut_short(const MovieSound& sound, const VideoExtent& video, const FrameTable& table, std::uint64_t file_size)
{
    bool cut = video.frames_lost > 0 || video.fragment_cut;
    for (const FrameRun& run : table.runs) {
        cut = cut || run.offset + std::uint64_t(run.frames) * run.step > file_size;  // the runs start inside the file
    }
    const std::uint64_t block = std::uint64_t(sound.block());
    for (const SoundPiece& piece : sound.pieces) {
        cut = cut || (piece.offset != silent_piece &&
                      (piece.offset >= file_size || piece.samples > (file_size - piece.offset) / block));
    }
    return cut;
}

}  // namespace

void read_sound(const Held& held, const Atom& trak, const std::vector<FrameRun>& fragment_runs,
                std::uint32_t movie_scale, std::uint64_t video_lead, MovieSound& sound)
{
    SoundAtoms atoms;
    const bool walked = find_sound_atoms(held, trak, atoms);
    std::uint32_t descriptions = 0;
    if (walked && (!atoms.stsd.found || (field32(held, atoms.stsd, 4, descriptions) && descriptions == 0))) {
        sound.refusal = SoundRefusal::none;  // a track of no sound at all
        return;
    }
    std::uint32_t media_scale = 0;
    sound.refusal = SoundRefusal::tables_damaged;
    if (!walked || !atoms.mdhd.found ||
        !field32(held, atoms.mdhd, versioned(held, atoms.mdhd, 12, 20), media_scale)) {
        return;
    }
    sound.refusal = read_sound_format(held, atoms.stsd, media_scale, sound);
    if (sound.refusal != SoundRefusal::none) {
        return;
    }
    std::vector<SoundPiece> stored;
    std::vector<std::uint64_t> starts;
    std::vector<Edit> edits;
    sound.refusal = stored_pieces(held, atoms, sound.block(), fragment_runs, stored);
    if (sound.refusal == SoundRefusal::none) {
        sound.refusal = piece_starts(stored, starts);
    }
    if (sound.refusal == SoundRefusal::none && atoms.elst.found && !read_edits(held, atoms.elst, edits)) {
        sound.refusal = SoundRefusal::tables_damaged;
    }
    if (!atoms.elst.found) {
        edits.push_back(Edit{0, 0, 0x10000});
    }
    if (sound.refusal == SoundRefusal::none) {
        sound.refusal = play_edits(edits, stored, starts, movie_scale, media_scale, sound);
    }
    if (sound.refusal != SoundRefusal::none) {
        return;
    }
    skip_samples(rescale(video_lead, sound.rate, movie_scale), sound);
    sound.carried = sound.samples > 0;
}

void end_sound(MovieSound& sound, const VideoExtent& video, const FrameTable& table, std::uint64_t file_size)
{
    if (!sound.carried) {
        return;
    }
    std::uint64_t end = sound.samples;
    if (cut_short(sound, video, table, file_size)) {
        const std::uint64_t frames = std::uint64_t(table.total_frames);
        const unsigned __int128 video_end =
            video.frame_period == 0 || video.time_scale == 0
                ? static_cast<unsigned __int128>(sound.samples) * frames /
                      std::max<std::uint64_t>(frames + std::uint64_t(video.frames_lost), 1)
                : static_cast<unsigned __int128>(video.avi_frames) * video.frame_period * sound.rate / video.time_scale;
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
    if (!sound.carried) {
        // None of its sound lies beside the frames that the file holds.
        sound.refusal = SoundRefusal::tables_damaged;
    }
}
