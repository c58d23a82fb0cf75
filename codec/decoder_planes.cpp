// The decoder's path for pictures in planes: frame types 10 and 11.
#include <cstdlib>

#include "codec/channels.h"
#include "codec/codec.h"
#include "codec/decoder.h"
#include "codec/plane_filter.h"
#include "common/blocks.h"

namespace {

// Type, plane count and bits a sample.
constexpr std::uint32_t planes_fixed = 3;

}  // namespace

Status TarvicDecoder::BeginPlanes(int frame_width, int frame_height, PlaneLayout layout, int bits)
{
    DecompressEnd();
    if (tarvic_planes_bound(frame_width, frame_height, layout, bits) == 0) {
        return Status::bad_size;
    }
    const PlaneShape planes = plane_shape(layout, frame_width, frame_height, bits);
    picture_bytes = planes_bytes(planes);
    // The decoded residual planes, and the channels' zero-run forms.
    plane_buffer = acquire_block(picture_bytes);
    residual_buffer = static_cast<unsigned char*>(std::malloc(picture_bytes));
    row_scratch = static_cast<unsigned char*>(std::malloc(rebuild_planes_scratch(planes)));
    if (plane_buffer == nullptr || residual_buffer == nullptr || row_scratch == nullptr ||
        !compactor.InitCompressBuffers()) {
        DecompressEnd();
        return Status::no_memory;
    }
    width = frame_width;
    height = frame_height;
    bit_count = 0;
    shape = planes;
    return Status::ok;
}

Status TarvicDecoder::DecompressPlanes(const unsigned char* frame, std::size_t size, const PlanePicture& picture)
{
    if (shape.count == 0 || plane_buffer == nullptr) {
        return Status::bad_size;  // not begun for planes
    }
    if (!usable_picture(shape, picture) || (frame == nullptr && size != 0)) {
        return Status::bad_argument;
    }
    if (size == 0) {
        return Status::ok;  // a null frame: the picture stays the previous one
    }
    const unsigned type = frame[0];
    if (type != FRAME_PLANES && type != FRAME_SOLID_PLANES) {
        return Status::bad_type;
    }
    if (size < planes_fixed) {
        return Status::truncated;
    }
    if (frame[1] != shape.count || frame[2] != shape.bits) {
        return Status::bad_type;  // a frame of other planes
    }
    if (type == FRAME_SOLID_PLANES) {
        if (size != planes_fixed + std::size_t(shape.count)) {
            return Status::truncated;
        }
        unsigned values[4] = {};
        for (int p = 0; p < shape.count; ++p) {
            values[p] = frame[planes_fixed + p];
        }
        fill_planes(shape, values, picture);
        return Status::ok;
    }
    unsigned char* planes[4] = {};
    unsigned int length[4] = {};
    unsigned char* at = plane_buffer;
    for (int p = 0; p < shape.count; ++p) {
        planes[p] = at;
        length[p] = static_cast<unsigned int>(plane_bytes(shape, p));
        at += length[p];
    }
    const Status status = uncompact_channels(compactor, frame, size, channels_head(planes_fixed, shape.count),
                                             shape.count, planes, length, residual_buffer);
    if (status != Status::ok) {
        return status;
    }
    rebuild_planes(shape, plane_buffer, row_scratch, picture);
    return Status::ok;
}
