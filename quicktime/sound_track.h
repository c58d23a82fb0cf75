// The sound track that the AVI file carries beside the video: its sample
// format, where its sample frames lie (from the tables, then the
// fragments), which of them its edits play and when, from the moment the
// video's first frame shows, and the conversion of its samples into the
// AVI file's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quicktime/atoms.h"
#include "quicktime/sample_tables.h"

// A stretch of the movie's sound: sample frames that lie one after another
// in the file, or silence.
struct SoundPiece {
    std::uint64_t offset;   // in the movie file; silent_piece for silence
    std::uint64_t samples;  // sample frames
};
constexpr std::uint64_t silent_piece = ~std::uint64_t(0);

// Why a sound track is not carried (none: it is, or it holds no sound).
enum class SoundRefusal : unsigned char {
    none,
    fragments_damaged,
    tables_damaged,
    description_cut,
    pcm_kind,
    sample_size,
    compressed,
    channels,
    rate,
    partial_frames,
    too_long,
    edits_repeat,
};

// The sound track that the AVI file carries: linear PCM as the movie
// stores it, and its sample frames in the order they are heard, from the
// moment the first frame shows.
struct MovieSound {
    bool carried = false;
    SoundRefusal refusal = SoundRefusal::none;  // when not carried
    int track = 0;            // its number among the movie's tracks
    char format[5] = {};      // the sample description's data format
    std::uint32_t rate = 0;   // sample frames a second
    int channels = 0;
    std::uint32_t described_channels = 0;  // as its description gives them
    int bits = 0;             // of one channel's sample
    bool is_float = false;
    bool big_endian = false;  // as stored; the AVI file holds them little-endian
    bool is_signed = true;    // 8-bit samples only; the AVI file holds them unsigned
    std::vector<SoundPiece> pieces;
    std::uint64_t samples = 0;  // in all the pieces
    std::uint64_t lost = 0;     // of them, the ones past the end of the file: silence

    int block() const { return channels * bits / 8; }
};

// Why `sound` is not carried, as its track's line says it.
std::string sound_refusal_text(const MovieSound& sound);

// Turns stored sample frames into the AVI file's: little-endian, and 8-bit
// samples unsigned.
void sound_to_avi(const MovieSound& sound, unsigned char* bytes, std::size_t size);

// Reads the sound track `trak` (its samples in fragments in
// `fragment_runs`), from the moment the video's first frame shows,
// `video_lead` units of the movie's time scale after the movie's start; the
// pieces may lie past the end of the file (see end_sound). `sound.carried`
// stays false, with the reason in `sound.refusal`, for a track the AVI file
// cannot carry.
void read_sound(const Held& held, const Atom& trak, const std::vector<FrameRun>& fragment_runs,
                std::uint32_t movie_scale, std::uint64_t video_lead, MovieSound& sound);

// The video's end, as the sound beside a movie that the end of its file
// cuts short needs it.
struct VideoExtent {
    std::int64_t frames_lost;   // the frames past its end
    bool fragment_cut;          // it ends inside a fragment
    std::int64_t avi_frames;
    std::uint32_t frame_period; // of the track's time scale
    std::uint32_t time_scale;
};

// The sound beside a movie that the end of its file cuts short ends with
// the AVI file's last frame (where the frames have no times, with their
// share of it, as the run spreads it over them). Sample frames that lie
// past the end of the file become silence, so that what follows stays at
// its time; `sound.lost` says how many.
void end_sound(MovieSound& sound, const VideoExtent& video, const FrameTable& table, std::uint64_t file_size);
