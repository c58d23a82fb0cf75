#include "codec/codec.h"

#include <cstdlib>
#include <cstring>

#include "codec/channels.h"
#include "codec/predict.h"
#include "common/blocks.h"

namespace {

constexpr std::size_t spare_room = 2048;
constexpr std::uint64_t max_32 = 0xFFFFFFFFu;

// Every pixel equals pixel 0: the frame against itself shifted by eight
// pixels, then the first eight pixels one by one.
bool one_colour(const unsigned char* frame, std::size_t bytes, std::size_t pixel_bytes, std::size_t shift_pixels)
{
    const std::size_t shift = pixel_bytes * shift_pixels;
    if (std::memcmp(frame, frame + shift, bytes - shift) != 0) {
        return false;
    }
    for (std::size_t p = 1; p < shift_pixels; ++p) {
        if (std::memcmp(frame, frame + p * pixel_bytes, pixel_bytes) != 0) {
            return false;
        }
    }
    return true;
}

// The frame of `channels` planes of `plane_bytes` bytes one after another,
// after its type byte and offsets: tarvic_frame_bound() counts the head and
// each channel's compact_bound(). `scratch` holds the planes' bytes.
unsigned int compact_planes(Compress& compactor, const unsigned char* planes, std::size_t plane_bytes, int channels,
                            unsigned char* scratch, unsigned char* out)
{
    const unsigned char* in[max_side_by_side] = {};
    unsigned int length[max_side_by_side] = {};
    for (int c = 0; c < channels; ++c) {
        in[c] = planes + c * plane_bytes;
        length[c] = static_cast<unsigned int>(plane_bytes);
    }
    return compact_channels(compactor, channels, in, length, channels_head(1, channels), scratch, out);
}

}  // namespace

std::size_t tarvic_frame_bound(int width, int height, int bit_count)
{
    if (width <= 0 || height <= 0 || (bit_count != 24 && bit_count != 32)) {
        return 0;
    }
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    const int channels = bit_count == 32 ? 4 : 3;
    const std::uint64_t head = 1 + 4 * std::uint64_t(channels - 1);
    // Each channel stream at its worst.
    const std::uint64_t bound = head + channels * std::uint64_t(compact_bound(pixels));
    return bound > max_32 ? 0 : static_cast<std::size_t>(bound);
}

CodecInst::~CodecInst() { CompressEnd(); }

Status CodecInst::CompressBegin(int frame_width, int frame_height, int bits)
{
    CompressEnd();
    if (frame_width <= 0 || frame_height <= 0 || (bits != 24 && bits != 32)) {
        return Status::bad_size;
    }
    const std::uint64_t pixels = std::uint64_t(frame_width) * std::uint64_t(frame_height);
    const std::uint64_t bytes = pixels * std::uint64_t(bits) / 8;
    const std::uint64_t buffer_size =
        bits == 32 ? pixels * 4 + spare_room : bytes + 3 * std::uint64_t(frame_height) + spare_room;
    if (buffer_size > max_32 || tarvic_frame_bound(frame_width, frame_height, bits) == 0) {
        return Status::bad_size;
    }
    width = frame_width;
    height = frame_height;
    bit_count = bits;
    frame_bytes = static_cast<std::uint32_t>(bytes);
    residual_buffer = acquire_block(buffer_size);
    plane_buffer = acquire_block(buffer_size);
    prev_frame = acquire_block(buffer_size);
    if (residual_buffer == nullptr || plane_buffer == nullptr || prev_frame == nullptr ||
        !compactor.InitCompressBuffers()) {
        CompressEnd();
        return Status::no_memory;
    }
    previous_held = false;
    return Status::ok;
}

int CodecInst::CompressEnd()
{
    std::free(residual_buffer);
    std::free(plane_buffer);
    std::free(prev_frame);
    residual_buffer = nullptr;
    plane_buffer = nullptr;
    prev_frame = nullptr;
    shape = PlaneShape();
    compactor.FreeCompressBuffers();
    return 0;
}

int CodecInst::CompressContinue(ICCOMPRESS* icinfo, std::uint32_t)
{
    if (shape.count != 0 || residual_buffer == nullptr) {
        icinfo->dwSize = 0;  // begun for planes, or not begun: no packed frame can be coded
        return -1;
    }
    output_frame = icinfo->lpOutput;
    input_frame = icinfo->lpInput;
    if (bit_count == 32 && keep_alpha) {
        return CompressRGB32(icinfo);
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    if (bit_count == 32) {
        for (std::size_t p = 0; p < pixels; ++p) {
            std::memcpy(plane_buffer + 3 * p, input_frame + 4 * p, 3);
        }
        frame_copy = plane_buffer;
    } else {
        // A 24-bit frame is filtered straight from the input: the copy in
        // plane_buffer would hold the same bytes.
        frame_copy = input_frame;
    }
    if (FastCompress(icinfo)) {
        return 0;
    }
    KeyCompress(icinfo);
    keep_previous(input_frame, frame_bytes);
    return 0;
}

// The later half first, split at a multiple of 16.
bool CodecInst::same_as_previous(const unsigned char* frame, std::size_t bytes)
{
    if (!previous_held) {
        return false;
    }
    const std::size_t half = (bytes / 2) & ~std::size_t(15);
    return std::memcmp(frame + half, prev_frame + half, bytes - half) == 0 && std::memcmp(frame, prev_frame, half) == 0;
}

void CodecInst::keep_previous(const unsigned char* frame, std::size_t bytes, unsigned char fill)
{
    previous_held = detect_null_frames != 0;
    if (!previous_held) {
        return;
    }
    if (frame != nullptr) {
        std::memcpy(prev_frame, frame, bytes);
    } else {
        std::memset(prev_frame, fill, bytes);
    }
}

int CodecInst::FastCompress(ICCOMPRESS* icinfo)
{
    if (detect_null_frames && same_as_previous(input_frame, frame_bytes)) {
        icinfo->dwFlags = 0;
        icinfo->dwSize = 0;
        return 1;
    }
    return SolidFrameTest(icinfo);
}

int CodecInst::SolidFrameTest(ICCOMPRESS* icinfo)
{
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    // Frames of fewer than eight pixels are always coded in full.
    if (pixels < 8 || !one_colour(frame_copy, 3 * pixels, 3, 8)) {
        return 0;
    }
    const unsigned char* pixel = frame_copy;
    if (pixel[0] == pixel[1] && pixel[1] == pixel[2]) {
        output_frame[0] = FRAME_SOLID_GREY;
        output_frame[1] = pixel[0];
        icinfo->dwSize = 2;
        keep_previous(nullptr, frame_bytes, pixel[0]);
    } else {
        output_frame[0] = FRAME_SOLID_RGB;
        // The pixel's bytes in the frame pixel order.
        const bool movie = input_order == PixelOrder::movie && bit_count == 24;
        output_frame[1] = pixel[movie ? 2 : 0];
        output_frame[2] = pixel[1];
        output_frame[3] = pixel[movie ? 0 : 2];
        icinfo->dwSize = 4;
        keep_previous(input_frame, frame_bytes);
    }
    icinfo->dwFlags = key_frame_flag;
    return 1;
}

unsigned int CodecInst::KeyCompress(ICCOMPRESS* icinfo)
{
    icinfo->dwFlags = key_frame_flag;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    // The frame's residual planes, in two passes from it: the decorrelated
    // planes go to residual_buffer, their residuals to plane_buffer.
    const PixelOrder order = bit_count == 24 ? input_order : PixelOrder::frame;
    DeEntropyPlanes(frame_copy, order, residual_buffer, plane_buffer, width, height);
    output_frame[0] = FRAME_RGB24;
    const unsigned int length = compact_planes(compactor, plane_buffer, n, 3, residual_buffer, output_frame);
    icinfo->dwSize = length;
    return length;
}

int CodecInst::FastCompressRGB32(ICCOMPRESS* icinfo)
{
    const std::size_t n = std::size_t(width) * std::size_t(height);
    if (detect_null_frames && same_as_previous(input_frame, 4 * n)) {
        icinfo->dwFlags = 0;
        icinfo->dwSize = 0;
        return 1;
    }
    // Frames of fewer than four pixels are always coded in full.
    if (n < 4 || !one_colour(input_frame, 4 * n, 4, 4)) {
        return 0;
    }
    output_frame[0] = FRAME_SOLID_RGBA;
    std::memcpy(output_frame + 1, input_frame, 4);
    icinfo->dwFlags = key_frame_flag;
    icinfo->dwSize = 5;
    keep_previous(input_frame, 4 * n);
    return 1;
}

int CodecInst::CompressRGB32(ICCOMPRESS* icinfo)
{
    if (FastCompressRGB32(icinfo)) {
        return 0;
    }
    icinfo->dwFlags = key_frame_flag;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    std::memcpy(plane_buffer, input_frame, 4 * n);
    // Bytes 0 to 2 are filtered as in a 24-bit frame; byte 3 is predicted
    // from its own neighbours.
    DeEntropy32(plane_buffer, residual_buffer, width, height);
    split_planes(residual_buffer, plane_buffer, n, 4);
    output_frame[0] = FRAME_RGBA32;
    const unsigned int length = compact_planes(compactor, plane_buffer, n, 4, residual_buffer, output_frame);
    icinfo->dwSize = length;
    keep_previous(input_frame, 4 * n);
    return 0;
}
