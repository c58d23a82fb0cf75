#include "codec/decoder.h"

#include <cstdlib>
#include <cstring>

#include "codec/codec.h"
#include "codec/predict.h"
#include "common/blocks.h"
#include "common/byte_order.h"

namespace {

void fill_pixels(unsigned char* picture, std::size_t pixels, const unsigned char* value, std::size_t pixel_bytes)
{
    for (std::size_t p = 0; p < pixels; ++p) {
        std::memcpy(picture + p * pixel_bytes, value, pixel_bytes);
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
    // The planes' zero-run forms are decoded into residual_buffer (the
    // compactor's own run buffer serves single channels), which 32-bit
    // frames then fill with their joined planes. The zero-run forms of a
    // 24-bit frame take a part of it, mostly a small one: in small pages it
    // holds no more memory than they take.
    residual_buffer = bits == 32 ? acquire_block(picture_bytes)
                                 : static_cast<unsigned char*>(std::malloc(picture_bytes));
    row_scratch = static_cast<unsigned char*>(std::malloc(ReEntropyPlanesScratch(width)));
    if (plane_buffer == nullptr || residual_buffer == nullptr || row_scratch == nullptr ||
        !compactor.InitCompressBuffers(static_cast<unsigned int>(pixels))) {
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
    compactor.FreeCompressBuffers();
}

Status TarvicDecoder::Decompress(const unsigned char* frame, std::size_t size, unsigned char* picture)
{
    if (plane_buffer == nullptr) {
        return Status::bad_size;
    }
    if (size == 0) {
        return Status::ok;  // a null frame: the picture stays the previous one
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    const int channels = bit_count == 32 ? 4 : 3;
    const unsigned type = frame[0];
    switch (type) {
    case FRAME_SOLID_GREY:
        if (channels != 3) {
            return Status::bad_type;
        }
        if (size != 2) {
            return Status::truncated;
        }
        std::memset(picture, frame[1], picture_bytes);
        return Status::ok;
    case FRAME_SOLID_RGB:
        if (channels != 3) {
            return Status::bad_type;
        }
        if (size != 4) {
            return Status::truncated;
        }
        fill_pixels(picture, pixels, frame + 1, 3);
        return Status::ok;
    case FRAME_SOLID_RGBA:
        if (channels != 4) {
            return Status::bad_type;
        }
        if (size != 5) {
            return Status::truncated;
        }
        fill_pixels(picture, pixels, frame + 1, 4);
        return Status::ok;
    case FRAME_RGB24:
    case FRAME_RGBA32:
        break;
    default:
        return Status::bad_type;
    }
    if ((type == FRAME_RGB24) != (channels == 3)) {
        return Status::bad_type;
    }

    // Channel c's stream runs from its offset to the next one, the last to the
    // frame's end.
    const std::size_t head = 1 + 4 * std::size_t(channels - 1);
    if (size < head) {
        return Status::truncated;
    }
    std::size_t starts[5];
    starts[0] = head;
    for (int c = 1; c < channels; ++c) {
        starts[c] = get_le32(frame + 1 + 4 * (c - 1));
    }
    starts[channels] = size;
    for (int c = 0; c < channels; ++c) {
        if (starts[c + 1] < starts[c] || starts[c + 1] > size) {
            return Status::bad_offsets;
        }
    }
    const unsigned char* streams[max_side_by_side] = {};
    std::size_t stream_sizes[max_side_by_side] = {};
    unsigned char* planes[max_side_by_side] = {};
    unsigned char* runs[max_side_by_side] = {};
    for (int c = 0; c < channels; ++c) {
        streams[c] = frame + starts[c];
        stream_sizes[c] = starts[c + 1] - starts[c];
        planes[c] = plane_buffer + c * pixels;
        runs[c] = residual_buffer + c * pixels;
    }
    const Status status = compactor.uncompact_side_by_side(channels, streams, stream_sizes, planes,
                                                           static_cast<unsigned int>(pixels), runs);
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
