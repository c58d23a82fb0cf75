// The QuickTime movie reading and frame indexing of reelpack, on any bytes:
// the atom walk, the sample tables, edit lists and fragments, the pixel
// layouts, and the sound track's format, tables and edits. Beyond not
// crashing, a movie it indexes must keep the reader's promises: every frame
// starts inside the file, the counts agree and fit an AVI file, the sound
// lies inside the file or is silence, and a frame's stored bytes convert to
// an AVI frame reading only the layout's frame size.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "quicktime/movie.h"

namespace {

void promise(bool kept)
{
    if (!kept) {
        __builtin_trap();
    }
}

void check_frames(const MovieInfo& info, const FrameTable& table, std::uint64_t file_size)
{
    std::int64_t frames = 0;
    for (const FrameRun& run : table.runs) {
        promise(run.frames > 0 && run.offset < file_size);
        promise(run.step == 0 || (run.frames - 1) < (file_size - run.offset + run.step - 1) / run.step);
        promise(run.step == info.layout.frame_bytes);
        frames += run.frames;
    }
    promise(frames == table.total_frames && frames <= max_total_frames);
    promise(info.avi_frames >= 0 && info.avi_frames <= max_total_frames && info.frames_lost >= 0);
    const PixelLayout& layout = info.layout;
    promise(layout.format != nullptr && layout.width > 0 && layout.height > 0);
    promise(std::int64_t(layout.width) * layout.height * 4 <= 2147483647);
    promise(layout.stride >= packed_row(*layout.format, layout.width));
    promise(layout.frame_bytes == layout.stride * std::size_t(layout.height) && layout.frame_bytes <= 2147483647u);
    promise(layout.bit_count == 24 || layout.bit_count == 32 ||
            (layout.bit_count == 16 && layout.format->planes != nullptr) || layout.format->sample_bits > 8);
}

void check_sound(const MovieSound& sound, std::uint64_t file_size)
{
    if (!sound.carried) {
        return;
    }
    promise(sound.channels >= 1 && sound.channels <= 8 && sound.rate >= 1 && sound.block() > 0);
    const std::uint64_t block = std::uint64_t(sound.block());
    std::uint64_t samples = 0;
    for (const SoundPiece& piece : sound.pieces) {
        promise(piece.offset == silent_piece ||
                (piece.offset < file_size && piece.samples <= (file_size - piece.offset) / block));
        samples += piece.samples;
    }
    promise(samples == sound.samples && samples > 0 && samples <= 0xFFFFFFFFu && sound.lost <= samples);
    unsigned char bytes[64] = {};
    sound_to_avi(sound, bytes, sizeof bytes);
}

// The first frame, as much of it as the file holds and black past its end,
// converted whole and in pieces of rows: the two must agree.
void check_conversion(const MovieInfo& info, const FrameTable& table, const std::uint8_t* data, std::size_t size)
{
    const PixelLayout& layout = info.layout;
    const std::size_t row = layout.row_bytes;
    if (table.total_frames == 0 || layout.frame_bytes > (1u << 20) || row * std::size_t(layout.height) > (1u << 22)) {
        return;  // huge frames cost the fuzzer more than they teach it
    }
    const std::uint64_t offset = table.runs[0].offset;
    std::vector<unsigned char> stored(layout.frame_bytes);
    for (std::size_t i = 0; i < stored.size() && offset + i < size; ++i) {
        stored[i] = data[offset + i];
    }
    std::vector<unsigned char> whole(row * std::size_t(layout.height));
    std::vector<unsigned char> pieces(whole.size());
    movie_rows_to_frame(layout, stored.data(), whole.data(), 0, layout.height);
    for (int y = 0; y < layout.height; y += 3) {
        const int rows = layout.height - y < 3 ? layout.height - y : 3;
        movie_rows_to_frame(layout, stored.data(), pieces.data() + row * std::size_t(y), y, rows);
    }
    promise(whole == pieces);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MovieSource source;
    source.bytes = data;
    source.file_size = size;
    MovieInfo info;
    FrameTable table;
    if (index_movie(source, info, table, nullptr).failed()) {
        return 0;
    }
    check_frames(info, table, size);
    check_sound(info.sound, size);
    check_conversion(info, table, data, size);
    return 0;
}
