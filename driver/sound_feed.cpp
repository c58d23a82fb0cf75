#include "driver/sound_feed.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cli/input_file.h"

AviSound avi_sound(const MovieSound& sound)
{
    AviSound avi;
    avi.rate = sound.rate;
    avi.channels = sound.channels;
    avi.bits = sound.bits;
    avi.is_float = sound.is_float;
    return avi;
}

bool SoundFeed::begin(const MovieSound& to_feed, int movie_fd, std::uint64_t frame_period, std::uint32_t scale,
                      std::uint64_t frames)
{
    sound = &to_feed;
    fd = movie_fd;
    period = frame_period;
    time_scale = scale;
    avi_frames = frames;
    // A chunk holds at most a second, and at most a megabyte.
    const std::uint64_t block = std::uint64_t(sound->block());
    chunk_samples = std::max<std::uint64_t>(1, std::min<std::uint64_t>(sound->rate, (std::uint64_t(1) << 20) / block));
    try {
        buffer.resize(static_cast<std::size_t>(chunk_samples * block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::uint64_t SoundFeed::bytes_per_frame() const
{
    const std::uint64_t samples =
        time_scale == 0 || period == 0
            ? (sound->samples + avi_frames - 1) / std::max<std::uint64_t>(avi_frames, 1)
            : static_cast<std::uint64_t>((static_cast<unsigned __int128>(period) * sound->rate + time_scale - 1) /
                                         time_scale);
    return std::min(samples, chunk_samples) * std::uint64_t(sound->block()) + 9;
}

bool SoundFeed::write_due(AviWriter& writer, std::uint64_t frames_done)
{
    unsigned __int128 due;
    if (time_scale == 0 || period == 0) {
        due = static_cast<unsigned __int128>(sound->samples) * frames_done / std::max<std::uint64_t>(avi_frames, 1);
    } else {
        due = static_cast<unsigned __int128>(frames_done) * period * sound->rate / time_scale;
    }
    const std::uint64_t until = due > sound->samples ? sound->samples : static_cast<std::uint64_t>(due);
    return until <= written || write_samples(writer, until - written);
}

bool SoundFeed::write_rest(AviWriter& writer)
{
    return written >= sound->samples || write_samples(writer, sound->samples - written);
}

// Reads `count` sample frames from where the sound stands and writes them,
// in chunks of at most chunk_samples.
bool SoundFeed::write_samples(AviWriter& writer, std::uint64_t count)
{
    const std::size_t block = static_cast<std::size_t>(sound->block());
    // Silence as the AVI file holds it: 8-bit samples are unsigned.
    const unsigned char quiet = sound->bits == 8 ? 0x80 : 0x00;
    while (count > 0) {
        const std::uint64_t chunk = std::min(count, chunk_samples);
        std::size_t filled = 0;
        for (std::uint64_t left = chunk; left > 0;) {
            const SoundPiece& from = sound->pieces[piece];
            const std::uint64_t take = std::min(left, from.samples - within);
            const std::size_t bytes = static_cast<std::size_t>(take) * block;
            unsigned char* into = buffer.data() + filled;
            std::size_t got = 0;
            if (from.offset != silent_piece) {
                got = read_at(fd, into, bytes, from.offset + within * block);
                sound_to_avi(*sound, into, got);
                missing += (bytes - got + block - 1) / block;
            }
            std::memset(into + got, quiet, bytes - got);
            filled += bytes;
            left -= take;
            within += take;
            if (within == from.samples) {
                ++piece;
                within = 0;
            }
        }
        if (writer.write_sound(buffer.data(), static_cast<std::uint32_t>(filled)) == 0) {
            return false;
        }
        written += chunk;
        count -= chunk;
    }
    return true;
}
