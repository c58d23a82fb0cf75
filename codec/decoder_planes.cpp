// The decoder's path for pictures in planes: frame types 10, 11 and 12.
#include <algorithm>
#include <cstdlib>

#include "codec/channels.h"
#include "codec/codec.h"
#include "codec/decoder.h"
#include "codec/deep_filter.h"
#include "codec/plane_filter.h"
#include "common/blocks.h"

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
    row_scratch = static_cast<unsigned char*>(std::malloc(std::max(rebuild_planes_scratch(planes), deep_rebuild_scratch(planes))));
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
    if (type != FRAME_PLANES && type != FRAME_SOLID_PLANES && type != FRAME_PREFIX_PLANES) {
        return Status::bad_type;
    }
    if (size < planes_frame_fixed) {
        return Status::truncated;
    }
    if (frame[1] != shape.count || frame[2] != shape.bits) {
        return Status::bad_type;  // a frame of other planes
    }
    if (type == FRAME_SOLID_PLANES) {
        return solid_planes(frame, size, picture);
    }
    const bool deep = shape.bits > 8;
    if (type == FRAME_PREFIX_PLANES && !deep) {
        return Status::bad_type;  // only deep planes are prefix coded
    }
    const int channels = deep ? 2 * shape.count : shape.count;
    unsigned char* planes[max_channels] = {};
    unsigned int length[max_channels] = {};
    if (deep) {
        deep_channels(shape, plane_buffer, planes, length);
    } else {
        plane_starts(shape, plane_buffer, planes, length);
    }
    const std::uint32_t head = channels_head(planes_frame_fixed, channels);
    const Status status =
        type == FRAME_PREFIX_PLANES
            ? uncompact_prefix_channels(compactor, frame, size, head, shape.count, planes, length, residual_buffer)
            : uncompact_channels(compactor, frame, size, head, channels, planes, length, residual_buffer);
    if (status != Status::ok) {
        return status;
    }
    if (deep) {
        rebuild_deep_planes(shape, plane_buffer, row_scratch, picture);
    } else if (shape.count == 1) {
        rebuild_byte_plane(shape, plane_buffer, row_scratch, picture);
    } else {
        rebuild_planes(shape, plane_buffer, row_scratch, picture);
    }
    return Status::ok;
}

Status TarvicDecoder::solid_planes(const unsigned char* frame, std::size_t size, const PlanePicture& picture)
{
    const int value_bytes = shape.bits > 8 ? 2 : 1;
    if (size != planes_frame_fixed + std::size_t(value_bytes * shape.count)) {
        return Status::truncated;
    }
    unsigned values[4] = {};
    for (int p = 0; p < shape.count; ++p) {
        const unsigned char* at = frame + planes_frame_fixed + value_bytes * p;
        values[p] = value_bytes == 2 ? unsigned(at[0] | at[1] << 8) : at[0];
        if (values[p] >> shape.bits != 0) {
            return Status::bad_stream;  // a sample no picture of these bits holds
        }
    }
    fill_planes(shape, values, picture);
    return Status::ok;
}
