// The encoder's path for pictures in planes: frame types 10, 11 and 12.
#include <cstring>

#include "codec/channels.h"
#include "codec/codec.h"
#include "codec/deep_filter.h"
#include "codec/plane_filter.h"
#include "common/blocks.h"

namespace {

constexpr std::uint64_t max_32 = 0xFFFFFFFFu;

const unsigned char* row_of(const PlanePicture& picture, int p, int y)
{
    return picture.plane[p] + std::ptrdiff_t(y) * picture.stride[p];
}

// Whether every sample of every plane is its plane's first; the first
// samples go to `values`. Natural pictures differ within their first row.
bool one_value_a_plane(const PlaneShape& shape, const PlanePicture& picture, unsigned values[])
{
    const std::size_t size = shape.bits > 8 ? 2 : 1;
    for (int p = 0; p < shape.count; ++p) {
        const unsigned char* first = picture.plane[p];
        const std::size_t w = std::size_t(shape.width[p]) * size;
        if (w > size && std::memcmp(first, first + size, w - size) != 0) {
            return false;
        }
        for (int y = 1; y < shape.height; ++y) {
            if (std::memcmp(row_of(picture, p, y), first, w) != 0) {
                return false;
            }
        }
        std::uint16_t sample = first[0];
        if (size == 2) {
            std::memcpy(&sample, first, 2);
        }
        values[p] = sample & ((1u << shape.bits) - 1);
    }
    return true;
}

}  // namespace

std::size_t tarvic_planes_bound(int width, int height, PlaneLayout layout, int bits)
{
    const PlaneShape shape = plane_shape(layout, width, height, bits);
    if (shape.count == 0) {
        return 0;
    }
    // One channel a plane of 8-bit samples, two (low and high bytes) of wider.
    const int per_plane = bits > 8 ? 2 : 1;
    std::uint64_t bound = channels_head(planes_frame_fixed, per_plane * shape.count);
    for (int p = 0; p < shape.count; ++p) {
        bound += per_plane * compact_bound(std::uint64_t(shape.width[p]) * std::uint64_t(height));
    }
    return bound > max_32 ? 0 : static_cast<std::size_t>(bound);
}

Status CodecInst::BeginPlanes(int frame_width, int frame_height, PlaneLayout plane_layout, int bits)
{
    CompressEnd();
    if (tarvic_planes_bound(frame_width, frame_height, plane_layout, bits) == 0) {
        return Status::bad_size;
    }
    const PlaneShape planes = plane_shape(plane_layout, frame_width, frame_height, bits);
    const std::size_t bytes = planes_bytes(planes);
    width = frame_width;
    height = frame_height;
    bit_count = 0;
    frame_bytes = static_cast<std::uint32_t>(bytes);
    shape = planes;
    layout = plane_layout;
    // The residual planes, the channels' zero-run forms, and the last
    // picture for the null-frame test, each all the planes' bytes.
    return AcquireBuffers(bytes);
}

bool CodecInst::same_planes_as_previous(const PlanePicture& picture) const
{
    if (!previous_held) {
        return false;
    }
    const unsigned char* kept = prev_frame;
    for (int p = 0; p < shape.count; ++p) {
        const std::size_t w = plane_bytes(shape, p) / std::size_t(shape.height);
        for (int y = 0; y < shape.height; ++y, kept += w) {
            if (std::memcmp(row_of(picture, p, y), kept, w) != 0) {
                return false;
            }
        }
    }
    return true;
}

void CodecInst::keep_previous_planes(const PlanePicture& picture)
{
    previous_held = detect_null_frames != 0;
    if (previous_held) {
        copy_planes(shape, picture, packed_picture(shape, prev_frame));
    }
}

Status CodecInst::CompressPlanes(const PlanePicture& picture, unsigned char* out, std::size_t& size)
{
    size = 0;
    if (shape.count == 0 || residual_buffer == nullptr) {
        return Status::bad_size;  // not begun for planes
    }
    if (out == nullptr || !usable_picture(shape, picture)) {
        return Status::bad_argument;
    }
    if (detect_null_frames && same_planes_as_previous(picture)) {
        return Status::ok;
    }
    out[0] = FRAME_PLANES;
    out[1] = static_cast<unsigned char>(shape.count);
    out[2] = static_cast<unsigned char>(shape.bits);
    unsigned values[4] = {};
    if (one_value_a_plane(shape, picture, values)) {
        out[0] = FRAME_SOLID_PLANES;
        const int value_bytes = shape.bits > 8 ? 2 : 1;
        for (int p = 0; p < shape.count; ++p) {
            for (int k = 0; k < value_bytes; ++k) {
                out[planes_frame_fixed + value_bytes * p + k] = static_cast<unsigned char>(values[p] >> (8 * k));
            }
        }
        size = planes_frame_fixed + std::size_t(value_bytes * shape.count);
        keep_previous_planes(picture);
        return Status::ok;
    }
    unsigned char* planes[max_channels] = {};
    unsigned int length[max_channels] = {};
    int channels = shape.count;
    if (shape.bits > 8) {
        predict_deep_planes(shape, picture, residual_buffer);
        deep_channels(shape, residual_buffer, planes, length);
        channels = 2 * shape.count;
    } else {
        predict_planes(shape, picture, residual_buffer);
        plane_starts(shape, residual_buffer, planes, length);
    }
    const std::uint32_t head = channels_head(planes_frame_fixed, channels);
    if (shape.bits > 8 && prefix_deep_planes) {
        out[0] = FRAME_PREFIX_PLANES;
        size = compact_prefix_channels(compactor, shape.count, planes, length, head, plane_buffer, out);
    } else {
        size = compact_channels(compactor, channels, planes, length, head, plane_buffer, out);
    }
    keep_previous_planes(picture);
    return Status::ok;
}
