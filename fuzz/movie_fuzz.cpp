// The QuickTime movie reading and frame indexing of reelpack, on any bytes:
// the atom walk, the sample tables, edit lists and fragments, and the sound
// track's format, tables and edits.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "quicktime/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MovieSource source;
    source.bytes = data;
    source.file_size = size;
    MovieInfo info;
    FrameTable table;
    if (!index_movie(source, info, table, nullptr).failed()) {
        // Walk the table as the frame pass would, a bounded part of it.
        FrameCursor cursor{table};
        std::uint64_t sum = 0;
        for (std::int32_t i = 0; i < table.total_frames && i < 100000; ++i) {
            sum += cursor.next();
        }
        for (const SoundPiece& piece : info.sound.pieces) {
            sum += piece.offset + piece.samples;
        }
        (void)sum;
        if (info.sound.carried) {
            unsigned char samples[64] = {};
            sound_to_avi(info.sound, samples, sizeof samples);
        }
    }
    return 0;
}
