// The encoder's path for pictures in planes: frame types 10 and 11.
#include <cstdlib>
#include <cstring>

#include "codec/channels.h"
#include "codec/codec.h"
#include "codec/plane_filter.h"
#include "common/blocks.h"

namespace {

constexpr std::uint64_t max_32 = 0xFFFFFFFFu;
// Type, plane count and bits a sample.
constexpr std::uint32_t planes_fixed = 3;

const unsigned char* row_of(const PlanePicture& picture, int p, int y)
{
    return picture.plane[p] + std::ptrdiff_t(y) * picture.stride[p];
}

// Whether every sample of every plane is its plane's first; the first
// samples go to `values`. Natural pictures differ within their first row.
bool one_value_a_plane(const PlaneShape& shape, const PlanePicture& picture, unsigned values[])
{
    for (int p = 0; p < shape.count; ++p) {
        const unsigned char* first = picture.plane[p];
        const std::size_t w = std::size_t(shape.width[p]);
        if (w > 1 && std::memcmp(first, first + 1, w - 1) != 0) {
            return false;
        }
        for (int y = 1; y < shape.height; ++y) {
            if (std::memcmp(row_of(picture, p, y), first, w) != 0) {
                return false;
            }
        }
        values[p] = first[0];
    }
    return true;
}

}  // namespace

std::size_t tarvic_planes_bound(int width, int height, PlaneLayout layout, int bits)
{
    const PlaneShape shape = plane_shape(layout, width, height, bits);
    if (shape.count == 0 || bits != 8) {
        return 0;
    }
    std::uint64_t bound = channels_head(planes_fixed, shape.count);
    for (int p = 0; p < shape.count; ++p) {
        bound += compact_bound(std::uint64_t(shape.width[p]) * std::uint64_t(height));
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
    // The residual planes, the channels' zero-run forms, and the last
    // picture for the null-frame test, each all the planes' bytes.
    residual_buffer = acquire_block(bytes);
    plane_buffer = acquire_block(bytes);
    prev_frame = acquire_block(bytes);
    if (residual_buffer == nullptr || plane_buffer == nullptr || prev_frame == nullptr ||
        !compactor.InitCompressBuffers()) {
        CompressEnd();
        return Status::no_memory;
    }
    width = frame_width;
    height = frame_height;
    bit_count = 0;
    frame_bytes = static_cast<std::uint32_t>(bytes);
    shape = planes;
    layout = plane_layout;
    previous_held = false;
    return Status::ok;
}

bool CodecInst::same_planes_as_previous(const PlanePicture& picture) const
{
    if (!previous_held) {
        return false;
    }
    const unsigned char* kept = prev_frame;
    for (int p = 0; p < shape.count; ++p) {
        const std::size_t w = std::size_t(shape.width[p]);
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
        for (int p = 0; p < shape.count; ++p) {
            out[planes_fixed + p] = static_cast<unsigned char>(values[p]);
        }
        size = planes_fixed + std::size_t(shape.count);
        keep_previous_planes(picture);
        return Status::ok;
    }
    predict_planes(shape, picture, residual_buffer);
    const unsigned char* planes[4] = {};
    unsigned int length[4] = {};
    const unsigned char* at = residual_buffer;
    for (int p = 0; p < shape.count; ++p) {
        planes[p] = at;
        length[p] = static_cast<unsigned int>(plane_bytes(shape, p));
        at += length[p];
    }
    size = compact_channels(compactor, shape.count, planes, length, channels_head(planes_fixed, shape.count),
                            plane_buffer, out);
    keep_previous_planes(picture);
    return Status::ok;
}
