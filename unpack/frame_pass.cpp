#include "unpack/frame_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "cli/frame_queue.h"
#include "cli/progress.h"
#include "common/blocks.h"
#include "quicktime/deep_planes.h"
#include "unpack/unpack_avi.h"

namespace {

// The picture's top row: pictures are packed, a raw frame's top row first,
// an AVI frame's bottom row first.
unsigned char* top_row(unsigned char* picture, std::ptrdiff_t stride, int height)
{
    return stride < 0 ? picture - std::ptrdiff_t(height - 1) * stride : picture;
}

}  // namespace

FramePass::~FramePass()
{
    for (tarvic_decoder* decoder : decoders) {
        tarvic_decoder_destroy(decoder);
    }
    for (unsigned char* block : pictures) {
        std::free(block);
    }
    for (unsigned char* block : buffers) {
        std::free(block);
    }
    for (unsigned char* block : plane_buffers) {
        std::free(block);
    }
}

// One decoder for each worker, of pictures of `library_layout`.
bool FramePass::add_decoders(const AviLayout& layout, tarvic_layout library_layout)
{
    for (int w = 0; w < workers; ++w) {
        tarvic_decoder* decoder = nullptr;
        const tarvic_status made =
            tarvic_decoder_create_layout(layout.width, layout.height, library_layout, &decoder);
        if (made != TARVIC_OK) {
            std::fprintf(stderr, "reelunpack: cannot decode %dx%d frames: %s\n", layout.width, layout.height,
                         tarvic_status_text(made));
            return false;
        }
        decoders.push_back(decoder);
    }
    return true;
}

// Decoders of planes and the planes of each worker; the pictures the
// layout's black as the form written holds it (raw "yuv2" frames with their
// chroma signed).
bool FramePass::begin_planes(const AviLayout& layout, const VideoStream& stream, bool raw)
{
    const PlaneStream& planes = *stream.planes;
    shape = plane_shape(planes.layout, layout.width, layout.height, planes.bits);
    const YcbcrPlanes* rows = raw ? planes.raw_rows : planes.avi_rows;
    to_rows = rows != nullptr ? rows->to_rows : planes_to_deep;
    sizes.format = find_pixel_format(planes.data_format, 0);
    sizes.width = layout.width;
    sizes.height = layout.height;
    if (!add_decoders(layout, planes.library_layout)) {
        return false;
    }
    for (int w = 0; w < workers; ++w) {
        plane_buffers.push_back(acquire_block(planes_bytes(shape)));
        if (plane_buffers.back() == nullptr) {
            std::fprintf(stderr, "reelunpack: not enough memory for %dx%d frames\n", layout.width, layout.height);
            return false;
        }
    }
    const PlanePicture black = packed_picture(shape, plane_buffers.front());
    fill_layout_black(planes.layout, shape, black);
    for (unsigned char* picture : pictures) {
        to_rows(sizes, black, picture);
    }
    return true;
}

// Decodes a frame of planes and packs them into the frame's picture; a null
// frame leaves it as it is.
void FramePass::unpack_planes(std::size_t worker, const unsigned char* bytes, std::size_t size, UnpackedFrame& out)
{
    const PlanePicture picture = packed_picture(shape, plane_buffers[worker]);
    void* planes[4] = {};
    for (int p = 0; p < shape.count; ++p) {
        planes[p] = picture.plane[p];
    }
    out.status = tarvic_decode_planes(decoders[worker], bytes, size, planes, picture.stride);
    if (out.status == TARVIC_OK && !out.repeat) {
        to_rows(sizes, picture, out.picture);
    }
}

bool FramePass::begin(const AviLayout& layout, const VideoStream& stream, int threads, bool raw)
{
    const std::size_t total = layout.frames.size();
    workers = std::max(1, static_cast<int>(std::min<std::size_t>(std::size_t(threads), total)));
    // One more frame in flight than workers, so that a worker done with its
    // frame can go on with the next while the one before is written.
    slots = workers == 1 ? 1 : std::size_t(workers) + 1;
    stride = raw || stream.top_down ? std::ptrdiff_t(stream.row_bytes) : -std::ptrdiff_t(stream.row_bytes);
    const auto out_of_memory = [&] {
        std::fprintf(stderr, "reelunpack: not enough memory for %dx%d frames\n", layout.width, layout.height);
        return false;
    };
    frames.reset(new (std::nothrow) UnpackedFrame[slots]);
    if (frames == nullptr) {
        return out_of_memory();
    }
    // A Tarvic stream of packed pictures is of 24 or 32 bits (its bound
    // was checked with them).
    if (stream.tarvic && stream.planes == nullptr &&
        !add_decoders(layout, layout.bit_count == 32 ? TARVIC_BGRA32 : TARVIC_BGR24)) {
        return false;
    }
    // Black before the first frame (a stream of planes has its layout's,
    // which begin_planes writes); a frame goes to the writer with the
    // writer's room after it.
    for (std::size_t p = 0; p < slots + (workers == 1 ? 0 : 1); ++p) {
        pictures.push_back(acquire_block(stream.frame_bytes + avi_frame_room));
        if (pictures.back() == nullptr) {
            return out_of_memory();
        }
        if (stream.planes == nullptr) {
            fill_black(stream, pictures.back());
        }
    }
    for (std::size_t slot = 0; slot < slots; ++slot) {
        frames[slot].picture = pictures[slot];
    }
    shown = pictures.back();
    if (stream.planes != nullptr && !begin_planes(layout, stream, raw)) {
        return false;
    }
    // Each worker's buffer holds the largest frame of the file, up to a
    // decoded frame's size; larger ones are decoded in the mapping.
    for (const AviFrameRef& frame : layout.frames) {
        room = std::max<std::size_t>(room, frame.size);
    }
    room = std::min(room, stream.frame_bytes);
    for (int w = 0; w < workers; ++w) {
        buffers.push_back(acquire_block(room));
        if (buffers.back() == nullptr) {
            return out_of_memory();
        }
    }
    return true;
}

// Decodes frame i over its slot's picture. A frame that fits the worker's
// buffer is read into it: decoding it in the mapping would cost a page
// fault every few pages and giving the pages back afterwards, which is more
// than the copy.
void FramePass::unpack(const InputFile& input, const AviLayout& layout, const VideoStream& stream,
                       std::size_t worker, std::size_t i)
{
    const AviFrameRef& frame = layout.frames[i];
    UnpackedFrame& out = frames[i % slots];
    const unsigned char* bytes = input.data + frame.offset;
    out.status = TARVIC_OK;
    out.repeat = stream.tarvic && frame.size == 0;
    if (frame.size <= room) {
        if (read_at(input.fd, buffers[worker], frame.size, frame.offset) != frame.size) {
            out.status = TARVIC_TRUNCATED;  // the file was cut short since its index was read
            return;
        }
        bytes = buffers[worker];
    }
    unsigned char* top = top_row(out.picture, stride, layout.height);
    if (stream.planes != nullptr) {
        unpack_planes(worker, bytes, frame.size, out);
    } else if (stream.tarvic) {
        out.status = tarvic_decode_over(decoders[worker], bytes, frame.size, top, stride);
    } else if (!unpack_plain(layout, stream, bytes, frame.size, top, stride)) {
        out.status = TARVIC_TRUNCATED;
    }
}

// Writes frame i, or the last good frame for one that did not decode.
bool FramePass::write(FrameSink& sink, const AviLayout& layout, const VideoStream& stream, std::size_t i)
{
    UnpackedFrame& frame = frames[i % slots];
    if (frame.status != TARVIC_OK) {
        std::fprintf(stderr, "reelunpack: frame %zu is damaged (%s); the previous frame stands in for it\n", i,
                     tarvic_status_text(frame.status));
        ++damaged;
    } else if (!frame.repeat) {
        std::swap(frame.picture, shown);
    }
    if (sink.raw != nullptr) {
        return !write_output(*sink.raw, shown, stream.frame_bytes, nullptr, 0).failed();
    }
    return write_sound_before(*sink.writer, sink.input, layout, sink.next_sound, i) &&
           sink.writer->write_frame(shown, static_cast<int>(stream.frame_bytes), AVIIF_KEYFRAME) == 1;
}

bool FramePass::run(InputFile& input, const AviLayout& layout, const VideoStream& stream, FrameSink& sink)
{
    const std::size_t total = layout.frames.size();
    Progress progress("reelunpack", total, stream.frame_bytes);
    const bool written = run_in_order(
        workers, total, slots, [](std::size_t) {},
        [&](std::size_t w, std::size_t i) { unpack(input, layout, stream, w, i); },
        [&](std::size_t i) {
            const AviFrameRef& ref = layout.frames[i];
            input.give_back(ref.offset + ref.size, ref.offset + ref.size, std::uint64_t(1) << 20);
            if (frames[i % slots].status != TARVIC_OK) {
                progress.clear();
            }
            if (!write(sink, layout, stream, i)) {
                return false;
            }
            progress.update(i + 1);
            return true;
        });
    progress.clear();
    return written;
}
