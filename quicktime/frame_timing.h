// Edits and frame timing: which of a track's samples its edit list shows
// and in what order, the frame period of the AVI file, and the clock that
// places the movie's frames on the AVI file's grid of frame periods.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/failure.h"
#include "quicktime/atoms.h"
#include "quicktime/sample_tables.h"

// One entry of an edit list.
struct Edit {
    std::uint64_t duration;  // in the movie's time scale; 0: to the end of the media
    std::int64_t media_time; // negative: an empty edit, which shows nothing of the media
    std::uint32_t rate;      // 16.16; 0 holds one frame
};

// The edit list's entries; version 1 has 64-bit durations and media times.
// False when the atom is too short for them.
bool read_edits(const Held& held, const Atom& elst, std::vector<Edit>& edits);

// The edit list's selection of the track's samples: for each edit that is
// not empty, the sample showing at its media time and every sample that
// starts before its end, in edit order. Refuses more frames than an AVI
// file holds, and edits that repeat the media beyond any movie's need.
[[nodiscard]] Failure apply_edits(const std::vector<Edit>& edits, std::uint32_t movie_scale,
                                  std::uint32_t media_scale, std::vector<FrameRun>& runs);

// How long, in the movie's time scale, the empty edits at the start of a
// track show nothing of it.
std::uint64_t leading_time(const std::vector<Edit>& edits);

// The AVI file's frame period in the track's time units, and its frame
// count.
struct FramePeriod {
    std::uint32_t period = 0;
    std::int64_t avi_frames = 0;
};

// Every frame at its time: the AVI's period is the greatest common divisor
// of the durations, unless that makes more than eight AVI frames for each
// movie frame; then it is the duration most frames have. Frames with no
// times to keep (every duration 0) give `sample_duration` and one AVI frame
// each.
FramePeriod choose_frame_period(const FrameTable& table, std::uint32_t sample_duration);

// Places the movie's frames on the AVI file's grid of frame periods: each
// frame takes the periods from the one nearest its start to the one nearest
// the next frame's start, so that it shows at its time. A frame that lasts
// several periods is followed by repeats; one that rounds to none is left
// out. A period of 0 gives every frame one AVI frame.
struct FrameClock {
    std::uint64_t period = 0;
    std::uint64_t time = 0;  // where the next frame starts

    std::uint64_t frames_for(std::uint32_t duration)
    {
        if (period == 0) {
            return 1;
        }
        const std::uint64_t first = (time + period / 2) / period;
        time += duration;
        return (time + period / 2) / period - first;
    }
};
