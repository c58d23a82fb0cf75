// The sample format of a sound track, from its first sample description.
#pragma once

#include <cstdint>

#include "quicktime/atoms.h"
#include "quicktime/sound_track.h"

// Reads the format of the first description in `stsd` into `sound`; a
// refusal when the AVI file cannot hold its samples. A description that
// leaves the rate 0 has the media's rate, `media_scale`.
SoundRefusal read_sound_format(const Held& held, const Atom& stsd, std::uint32_t media_scale, MovieSound& sound);
