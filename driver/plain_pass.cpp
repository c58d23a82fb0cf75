#include "driver/plain_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli/progress.h"
#include "common/blocks.h"
#include "common/failure.h"
#include "quicktime/pixel_layouts.h"

PlainPass::~PlainPass()
{
    std::free(frame);
    std::free(piece);
}

bool PlainPass::fits(const Conversion& run)
{
    const std::uint64_t frame_and_sound = run.frame_size + (run.info.sound.carried ? run.feed.bytes_per_frame() : 0);
    const std::uint32_t chunk = std::uint32_t(std::min<std::uint64_t>(frame_and_sound, avi_max_frame_size));
    if (avi_riff_count(std::uint64_t(run.info.avi_frames), chunk) > std::uint64_t(avi_max_riffs)) {
        std::printf("%s\n", failure_text(make_failure(Fault::avi_too_many_riffs, run.output_path, avi_max_riffs)).c_str());
        return false;
    }
    return true;
}

bool PlainPass::begin(Conversion& run)
{
    const PixelLayout& layout = run.info.layout;
    piece_rows = static_cast<int>(
        std::max<std::size_t>(1, (std::size_t(512) << 10) / std::max<std::size_t>(run.row_bytes, 1)));
    pieces = !layout.avi_holds_stored();
    // The writer sets bytes after the frame it is given.
    frame = acquire_block(std::max(run.stored_size, run.frame_size) + avi_frame_room);
    piece = acquire_block(pieces ? run.row_bytes * std::size_t(piece_rows) : 0);
    if (frame == nullptr || piece == nullptr) {
        std::printf("Not enough memory for frames of %dx%d pixels.\n", run.info.width, run.info.height);
        return false;
    }
    run.movie.buffer = frame;
    return true;
}

// Converts a frame a piece of rows at a time and writes each piece as it is
// made. Returns whether the movie held the whole frame; a failed write shows
// in the writer's failure.
bool PlainPass::write_converted(Conversion& run, std::uint64_t offset)
{
    MovieFrames& movie = run.movie;
    const PixelLayout& layout = run.info.layout;
    const int height = layout.height;
    bool complete = true;
    const unsigned char* pixels = movie.mapped(offset);
    if (pixels == nullptr) {
        complete = movie.read(offset);
        pixels = movie.buffer;
    }
    if (!run.writer.begin_frame(static_cast<int>(run.frame_size), AVIIF_KEYFRAME)) {
        return complete;
    }
    for (int row = 0; row < height; row += piece_rows) {
        const int rows = std::min(piece_rows, height - row);
        if (pixels != movie.buffer &&
            !movie.guarded([&] { movie_rows_to_frame(layout, pixels, piece, row, rows); })) {
            // The movie was cut short while it was read: the rest of the
            // frame comes from reading it.
            complete = movie.read(offset);
            pixels = movie.buffer;
        }
        if (pixels == movie.buffer) {
            movie_rows_to_frame(layout, pixels, piece, row, rows);
        }
        if (!run.writer.write_frame_part(piece, run.row_bytes * std::size_t(rows))) {
            return complete;
        }
    }
    run.writer.end_frame();
    if (pixels != movie.buffer) {
        movie.release(offset);
    }
    return complete;
}

bool PlainPass::run(Conversion& run)
{
    Progress progress("reelpack", std::uint64_t(run.table.total_frames), run.frame_size);
    FrameCursor cursor{run.table};
    // Frames that last several periods are written again for each.
    FrameClock clock{run.info.frame_period};
    bool written = true;
    for (std::int32_t i = 0; written && i < run.table.total_frames; ++i) {
        const std::uint64_t offset = cursor.next();
        const std::uint64_t periods = clock.frames_for(cursor.duration());
        bool complete = true;
        if (!pieces && periods > 0) {
            // The writer sets bytes only after the frame it is given, so the
            // frame goes out from the buffer as it stands.
            complete = run.movie.read(offset);
        }
        for (std::uint64_t period = 0; period < periods && written; ++period) {
            if (pieces) {
                complete = write_converted(run, offset);
                written = !run.writer.failure.failed();
            } else {
                written = run.writer.write_frame(frame, static_cast<int>(run.frame_size), AVIIF_KEYFRAME) == 1;
            }
            written = written && run.sound_due();
        }
        if (!complete) {
            ++run.incomplete;
        }
        if (written) {
            progress.update(std::uint64_t(i) + 1);
        }
    }
    progress.clear();
    return written;
}
