#include "driver/coded_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/frame_queue.h"
#include "cli/progress.h"
#include "common/blocks.h"
#include "quicktime/deep_planes.h"
#include "quicktime/pixel_layouts.h"
#include "quicktime/ycbcr_rows.h"

// The codec's flags go into the AVI index as they are.
static_assert(key_frame_flag == AVIIF_KEYFRAME, "a coded key frame is an AVI key frame");

namespace {

// Codes the frame at `offset` into `coded`, reading it into the coder's
// buffer when the mapping does not hold it, and converting it first unless
// the codec takes it as stored. Any number of frames may be coded at once,
// each with a coder of its own.
void code_frame(MovieFrames& movie, const PixelLayout& layout, bool as_stored, std::size_t frame_size, Coder& coder,
                CodedFrame& coded)
{
    coded.complete = movie.use_frame(coded.offset, coder.frame, [&](const unsigned char* pixels) {
        if (!as_stored) {
            movie_rows_to_frame(layout, pixels, coder.converted, 0, layout.height);
            pixels = coder.converted;
        }
        coded.block.dwFlags = 0;
        coded.block.dwSize = static_cast<std::uint32_t>(frame_size);
        coded.block.lpInput = pixels;
        coded.block.lpOutput = coded.bytes;
        coder.codec.CompressContinue(&coded.block, 0);
    });
    movie.drop(coded.offset);
}

// The same for a movie whose pictures the codec takes as planes: Y'CbCr,
// and the 10- and 16-bit layouts. At an odd width of 4:2:2 the Y' stored
// past the picture is not kept: the coded frame holds what a player shows,
// and unpacks with the last Y' repeated there.
void code_planes(MovieFrames& movie, const PixelLayout& layout, Coder& coder, CodedFrame& coded)
{
    coded.complete = movie.use_frame(coded.offset, coder.frame, [&](const unsigned char* pixels) {
        if (layout.format->planes != nullptr) {
            (void)movie_to_planes(layout, pixels, coder.picture);
        } else {
            deep_to_planes(layout, pixels, coder.picture);
        }
    });
    movie.drop(coded.offset);
    std::size_t size = 0;
    // Begun for these planes, the codec takes every picture of them.
    (void)coder.codec.CompressPlanes(coder.picture, coded.bytes, size);
    coded.block.dwSize = static_cast<std::uint32_t>(size);
    coded.block.dwFlags = size == 0 ? 0 : key_frame_flag;
}

// The most bytes a coded frame of the movie's pictures takes.
std::size_t coded_bound(const Conversion& run)
{
    const MovieInfo& info = run.info;
    return run.plane_bits != 0 ? tarvic_planes_bound(info.width, info.height, run.plane_layout, run.plane_bits)
                               : tarvic_frame_bound(info.width, info.height, info.layout.bit_count);
}

// Writes a coded frame for the periods it lasts: frames that last several
// are followed by the codec's null frame, which every decoder takes as the
// frame before. The sound heard by the end of each follows it.
bool write_coded(Conversion& run, FrameClock& clock, const CodedFrame& frame)
{
    const std::uint64_t periods = clock.frames_for(frame.duration);
    AviWriter& writer = run.writer;
    if (periods > 0 && (writer.write_frame(frame.bytes, static_cast<int>(frame.block.dwSize),
                                           static_cast<int>(frame.block.dwFlags)) == 0 ||
                        !run.sound_due())) {
        return false;
    }
    for (std::uint64_t repeat = 1; repeat < periods; ++repeat) {
        if (writer.write_frame(frame.bytes, 0, 0) == 0 || !run.sound_due()) {
            return false;
        }
    }
    return true;
}

void not_enough_memory(const Conversion& run)
{
    std::printf("Not enough memory for frames of %dx%d pixels.\n", run.info.width, run.info.height);
}

}  // namespace

Coder::~Coder()
{
    std::free(frame);
    std::free(converted);
}

CodedFrame::~CodedFrame() { std::free(bytes); }

bool CodedPass::fits(const Conversion& run)
{
    const std::size_t bound = coded_bound(run);
    if (bound == 0 || bound > avi_max_frame_size) {
        std::printf("Unable to prepare the compressor for %dx%d frames: %s\n", run.info.width, run.info.height,
                    "a coded frame could take more bytes than an AVI chunk can hold");
        return false;
    }
    return true;
}

bool CodedPass::begin(const Conversion& run)
{
    // Frames are coded on every worker at once, one more in flight than
    // there are workers so that a worker done with its frame can go on with
    // the next while the one before is written.
    workers = std::max(1, std::min(run.threads, int(run.table.total_frames)));
    slots = workers == 1 ? 1 : std::size_t(workers) + 1;
    coders.reset(new (std::nothrow) Coder[std::size_t(workers)]);
    coded.reset(new (std::nothrow) CodedFrame[slots]);
    if (coders == nullptr || coded == nullptr) {
        not_enough_memory(run);
        return false;
    }
    bool acquired = true;
    for (int w = 0; w < workers; ++w) {
        if (!begin_coder(run, coders[w])) {
            return false;
        }
        acquired = acquired && coders[w].frame != nullptr && (run.as_stored || coders[w].converted != nullptr);
    }
    const std::size_t bound = coded_bound(run);
    for (std::size_t slot = 0; slot < slots; ++slot) {
        coded[slot].bytes = static_cast<unsigned char*>(std::malloc(bound + avi_frame_room));
        acquired = acquired && coded[slot].bytes != nullptr;
    }
    if (!acquired) {
        not_enough_memory(run);
    }
    return acquired;
}

// Begins a worker's codec and acquires its buffers; false after saying why
// the codec refused, true with a buffer missing where memory ran out.
bool CodedPass::begin_coder(const Conversion& run, Coder& coder) const
{
    const int width = run.info.width;
    const int height = run.info.height;
    const int bit_count = run.info.layout.bit_count;
    const bool planes = run.plane_bits != 0;
    CodecInst& codec = coder.codec;
    // The codec reads a packed "raw " movie's frames as they come, so
    // that they are not converted first; 32-bit frames keep their alpha.
    codec.input_order = run.info.layout.codec_order();
    codec.keep_alpha = bit_count == 32 ? 1 : 0;
    const Status begun = planes ? codec.BeginPlanes(width, height, run.plane_layout, run.plane_bits)
                                           : codec.CompressBegin(width, height, bit_count);
    if (begun != Status::ok) {
        std::printf("Unable to prepare the compressor for %dx%d frames: %s\n", width, height, status_text(begun));
        return false;
    }
    coder.frame = acquire_block(run.stored_size);
    if (planes) {
        coder.converted = acquire_block(planes_bytes(codec.shape));
        if (coder.converted != nullptr) {
            coder.picture = packed_picture(codec.shape, coder.converted);
        }
    } else if (!run.as_stored) {
        coder.converted = acquire_block(run.frame_size);
    }
    return true;
}

bool CodedPass::run(Conversion& run)
{
    Progress progress("reelpack", std::uint64_t(run.table.total_frames), run.frame_size);
    FrameCursor cursor{run.table};
    FrameClock clock{run.info.frame_period};
    const bool written = run_in_order(
        workers, std::size_t(run.table.total_frames), slots,
        [&](std::size_t i) {
            coded[i % slots].offset = cursor.next();
            coded[i % slots].duration = cursor.duration();
        },
        [&](std::size_t w, std::size_t i) {
            if (run.plane_bits != 0) {
                code_planes(run.movie, run.info.layout, coders[w], coded[i % slots]);
            } else {
                code_frame(run.movie, run.info.layout, run.as_stored, run.frame_size, coders[w], coded[i % slots]);
            }
        },
        [&](std::size_t i) {
            const CodedFrame& frame = coded[i % slots];
            if (!frame.complete) {
                ++run.incomplete;
            }
            run.movie.release(frame.offset);
            if (!write_coded(run, clock, frame)) {
                return false;
            }
            progress.update(std::uint64_t(i) + 1);
            return true;
        });
    progress.clear();
    return written;
}
