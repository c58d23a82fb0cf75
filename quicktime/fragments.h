// Movie fragments: the samples that each "moof" adds to a track, from its
// track fragments ("traf": the header "tfhd" and the runs "trun"), with the
// defaults that the movie atom's "trex" atoms set for each track.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "common/failure.h"
#include "quicktime/atoms.h"
#include "quicktime/sample_tables.h"

// The duration and size a track's samples have where its fragments do not
// say.
struct TrackDefaults {
    std::uint32_t duration = 0;
    std::uint32_t size = 0;
};

// A track's samples in the fragments.
struct FragmentTrack {
    std::uint32_t id = 0;
    std::vector<FrameRun> runs;
};

struct Fragments {
    std::map<std::uint32_t, TrackDefaults> defaults;  // by track id
    FragmentTrack video;
    FragmentTrack sound;
    bool have_sound = false;
    bool sound_read = true;            // no damage in the sound's fragments
    std::uint64_t frames_cut_off = 0;  // the video frames that a fragment cut off by the end of the file counts
};

// Reads the defaults of every track from the "trex" atoms in `mvex`.
[[nodiscard]] Failure read_track_defaults(const Held& held, const Atom& mvex, Fragments& fragments);

// Reads each fragment ("moof") for the video track's frames and the sound
// track's samples, up to one that the end of the file cuts off: of that one
// only the video frames its runs count are counted. Damage in the sound's
// parts of a fragment leaves the sound out, not the video.
[[nodiscard]] Failure read_fragments(const MovieSource& source, const std::vector<Atom>& moofs, Fragments& fragments);
