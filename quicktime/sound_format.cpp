#include "quicktime/sound_format.h"

#include <algorithm>
#include <cstring>

namespace {

// What a sample description gives, before it is checked.
struct Described {
    std::uint32_t version = 0;
    std::uint32_t channels = 0;
    std::uint32_t bits = 0;
    double rate = 0;
    std::uint32_t flags = 0;         // version 2: of "lpcm"
    std::uint64_t extensions = 36;   // where the atoms after the fields start, from the entry's start
    bool little_endian = false;      // an "enda" atom says so
};

// Versions 0 and 1 give the channels, the sample size and the rate (16.16)
// in fixed places, version 1 then four more words; version 2 gives them
// again, wider, with flags for "lpcm". False when the entry is cut short.
bool read_fields(const unsigned char* e, std::uint64_t entry_bytes, Described& d)
{
    d.version = get_be16(e + 16);
    d.channels = get_be16(e + 24);
    d.bits = get_be16(e + 26);
    d.rate = double(get_be32(e + 32) >> 16);
    if (d.version == 1) {
        d.extensions = 52;
    } else if (d.version == 2) {
        if (entry_bytes < 72) {
            return false;
        }
        const std::uint64_t rate_bits = get_be64(e + 40);
        std::memcpy(&d.rate, &rate_bits, sizeof d.rate);
        d.channels = get_be32(e + 48);
        d.bits = get_be32(e + 56);
        d.flags = get_be32(e + 60);
        d.extensions = 72;
    }
    return true;
}

// Formats of more than 8 bits are big-endian unless an "enda" atom (in a
// "wave" atom, or on its own) after the fields says otherwise: non-zero
// for little-endian.
bool little_endian(const Held& held, std::uint64_t from, std::uint64_t end)
{
    bool little = false;
    Atom rest;
    std::memcpy(rest.type, "stsd", 4);
    rest.body = std::min(from, end);
    rest.end = end;
    rest.found = true;
    auto find_enda = [&](const Atom& a) {
        std::uint32_t value = 0;
        if (is_type(a.type, "enda") && field16(held, a, 0, value)) {
            little = value != 0;
        }
        return true;
    };
    (void)walk_children(held, rest, [&](const Atom& a) {
        if (is_type(a.type, "wave")) {
            (void)walk_children(held, a, find_enda);
        }
        return find_enda(a);
    });
    return little;
}

// The kind of the samples that the format and its fields name.
SoundRefusal sample_kind(const Described& d, std::uint32_t& bits, MovieSound& sound)
{
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
        sound.big_endian = !d.little_endian;
    } else if (is("lpcm") && d.version == 2) {
        sound.is_float = (d.flags & 1) != 0;
        sound.big_endian = (d.flags & 2) != 0 && bits > 8;
        sound.is_signed = (d.flags & 4) != 0;
        const bool fits = sound.is_float ? (bits == 32 || bits == 64)
                                         : (bits == 16 || bits == 24 || bits == 32 || (bits == 8));
        if (!fits || (!sound.is_float && bits > 8 && !sound.is_signed)) {
            return SoundRefusal::pcm_kind;
        }
    } else if (is("raw ") || is("twos") || is("sowt")) {
        return SoundRefusal::sample_size;
    } else {
        return SoundRefusal::compressed;
    }
    return SoundRefusal::none;
}

}  // namespace

SoundRefusal read_sound_format(const Held& held, const Atom& stsd, std::uint32_t media_scale, MovieSound& sound)
{
    std::uint32_t entry_size = 0;
    if (!field32(held, stsd, 8, entry_size) || !table_fits(stsd, 8, 1, 36)) {
        return SoundRefusal::description_cut;
    }
    const std::uint64_t entry = stsd.body + 8;
    const unsigned char* e = held.at(entry);
    std::memcpy(sound.format, e + 4, 4);
    make_printable(sound.format, 4);
    const std::uint64_t entry_end = std::min<std::uint64_t>(entry + std::max<std::uint32_t>(entry_size, 36), stsd.end);
    Described d;
    if (!read_fields(e, entry_end - entry, d)) {
        return SoundRefusal::description_cut;
    }
    d.little_endian = little_endian(held, entry + d.extensions, entry_end);
    std::uint32_t bits = d.bits;
    if (const SoundRefusal refusal = sample_kind(d, bits, sound); refusal != SoundRefusal::none) {
        return refusal;
    }
    sound.described_channels = d.channels;
    if (d.channels < 1 || d.channels > 8) {
        return SoundRefusal::channels;
    }
    double rate = d.rate;
    if (rate < 1.0) {
        rate = media_scale;  // an old description may leave it 0; the media's clock runs at the rate
    }
    if (!(rate >= 1.0 && rate <= 4000000.0)) {
        return SoundRefusal::rate;
    }
    sound.channels = static_cast<int>(d.channels);
    sound.bits = static_cast<int>(bits);
    sound.rate = static_cast<std::uint32_t>(rate + 0.5);
    return SoundRefusal::none;
}

std::string sound_refusal_text(const MovieSound& sound)
{
    switch (sound.refusal) {
    case SoundRefusal::none:
        return "";
    case SoundRefusal::fragments_damaged:
        return "its fragments are damaged";
    case SoundRefusal::tables_damaged:
        return "its sample tables are damaged or missing";
    case SoundRefusal::description_cut:
        return "its sample description is cut short";
    case SoundRefusal::pcm_kind:
        return "its linear PCM samples are of a kind an AVI file does not hold";
    case SoundRefusal::sample_size:
        return "its samples are of a size an AVI file does not hold";
    case SoundRefusal::compressed:
        return std::string("its sound is compressed (\"") + sound.format + "\")";
    case SoundRefusal::channels:
        return "it has " + std::to_string(sound.described_channels) + " channels (1 to 8 can be carried)";
    case SoundRefusal::rate:
        return "its sample rate is not one an AVI file can hold";
    case SoundRefusal::partial_frames:
        return "its samples do not hold whole sample frames";
    case SoundRefusal::too_long:
        return "it is longer than an AVI sound stream can hold";
    case SoundRefusal::edits_repeat:
        return "its edit list repeats its sound more often than reelpack can follow";
    }
    return "";
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
