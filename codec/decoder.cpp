#include "codec/decoder.h"

#include <cstdlib>
#include <cstring>

#include "codec/channels.h"
#include "codec/codec.h"
#include "codec/predict.h"
#include "common/blocks.h"

namespace {

// The one-colour frames: the type byte, then the value of every pixel
// (of every byte, for a grey one), of the stream's bits per pixel only.
struct SolidFrame {
    unsigned char type;
    int channels;
    std::size_t value_bytes;
};

constexpr SolidFrame solid_frames[] = {
    {FRAME_SOLID_GREY, 3, 1},
    {FRAME_SOLID_RGB, 3, 3},
    {FRAME_SOLID_RGBA, 4, 4},
};

void fill_pixels(unsigned char* picture, std::size_t bytes, const unsigned char* value, std::size_t value_bytes)
{
    if (value_bytes == 1) {
        std::memset(picture, value[0], bytes);
        return;
    }
    for (std::size_t at = 0; at < bytes; at += value_bytes) {
        std::memcpy(picture + at, value, value_bytes);
    }
}

}  // namespace

TarvicDecoder::~TarvicDecoder() { DecompressEnd(); }

Status TarvicDecoder::DecompressBegin(int frame_width, int frame_height, int bits)
{
    DecompressEnd();
    if (tarvic_frame_bound(frame_width, frame_height, bits) == 0) {
        return Status::bad_size;
    }
    width = frame_width;
    height = frame_height;
    bit_count = bits;
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    picture_bytes = pixels * std::size_t(bits / 8);
    plane_buffer = acquire_block(picture_bytes);
    // The planes' zero-run forms are decoded into residual_buffer, which
    // 32-bit frames then fill with their joined planes. The zero-run forms
    // of a 24-bit frame take a part of it, mostly a small one: in small
    // pages it holds no more memory than they take.
    residual_buffer = bits == 32 ? acquire_block(picture_bytes)
                                 : static_cast<unsigned char*>(std::malloc(picture_bytes));
    row_scratch = static_cast<unsigned char*>(std::malloc(ReEntropyPlanesScratch(width)));
    if (plane_buffer == nullptr || residual_buffer == nullptr || row_scratch == nullptr ||
        !compactor.InitCompressBuffers()) {
        DecompressEnd();
        return Status::no_memory;
    }
    return Status::ok;
}

void TarvicDecoder::DecompressEnd()
{
    std::free(plane_buffer);
    std::free(residual_buffer);
    std::free(row_scratch);
    plane_buffer = nullptr;
    residual_buffer = nullptr;
    row_scratch = nullptr;
    shape = PlaneShape();
    compactor.FreeCompressBuffers();
}

Status TarvicDecoder::Decompress(const unsigned char* frame, std::size_t size, unsigned char* picture)
{
    if (plane_buffer == nullptr || shape.count != 0) {
        return Status::bad_size;  // not begun, or begun for planes
    }
    if (size == 0) {
        return Status::ok;  // a null frame: the picture stays the previous one
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    const int channels = bit_count == 32 ? 4 : 3;
    const unsigned type = frame[0];
    for (const SolidFrame& solid : solid_frames) {
        if (type != solid.type) {
            continue;
        }
        if (channels != solid.channels) {
            return Status::bad_type;
        }
        if (size != 1 + solid.value_bytes) {
            return Status::truncated;
        }
        fill_pixels(picture, picture_bytes, frame + 1, solid.value_bytes);
        return Status::ok;
    }
    if (type != FRAME_RGB24 && type != FRAME_RGBA32) {
        return Status::bad_type;
    }
    if ((type == FRAME_RGB24) != (channels == 3)) {
        return Status::bad_type;
    }

    unsigned char* planes[max_side_by_side] = {};
    unsigned int length[max_side_by_side] = {};
    for (int c = 0; c < channels; ++c) {
        planes[c] = plane_buffer + c * pixels;
        length[c] = static_cast<unsigned int>(pixels);
    }
    const Status status = uncompact_channels(compactor, frame, size, channels_head(1, channels), channels, planes,
                                             length, residual_buffer);
    if (status != Status::ok) {
        return status;
    }
    if (channels == 3) {
        ReEntropyPlanes(plane_buffer, row_scratch, picture, top_down, width, height);
    } else {
        join_planes(plane_buffer, residual_buffer, pixels, channels);
        ReEntropy32(residual_buffer, picture, width, height);
    }
    return Status::ok;
}
