#include "codec/planes.h"

#include <cstdint>
#include <cstring>

PlaneShape plane_shape(PlaneLayout layout, int width, int height, int bits)
{
    PlaneShape shape;
    if (width <= 0 || height <= 0 || bits < 8 || bits > 16) {
        return shape;
    }
    switch (layout) {
    case PlaneLayout::yuv422:
        shape.count = 3;
        shape.width[0] = width;
        shape.width[1] = shape.width[2] = width / 2 + width % 2;  // a last Y of odd width has chroma of its own
        break;
    case PlaneLayout::yuv444:
    case PlaneLayout::yuva444:
    case PlaneLayout::gbr444:
    case PlaneLayout::gbra444:
    case PlaneLayout::grey:
        shape.count = layout == PlaneLayout::grey ? 1 : layout == PlaneLayout::yuva444 || layout == PlaneLayout::gbra444 ? 4 : 3;
        for (int p = 0; p < shape.count; ++p) {
            shape.width[p] = width;
        }
        break;
    default:
        return shape;
    }
    shape.height = height;
    shape.bits = bits;
    return shape;
}

bool usable_picture(const PlaneShape& shape, const PlanePicture& picture)
{
    for (int p = 0; p < shape.count; ++p) {
        const std::ptrdiff_t stride = picture.stride[p];
        const std::size_t span = stride < 0 ? std::size_t(0) - std::size_t(stride) : std::size_t(stride);
        const std::size_t row = std::size_t(shape.width[p]) * std::size_t(shape.bits > 8 ? 2 : 1);
        if (picture.plane[p] == nullptr || span < row || span > std::size_t(PTRDIFF_MAX) / std::size_t(shape.height)) {
            return false;
        }
    }
    return shape.count > 0;
}

std::size_t plane_bytes(const PlaneShape& shape, int p)
{
    return std::size_t(shape.width[p]) * std::size_t(shape.height) * std::size_t(shape.bits > 8 ? 2 : 1);
}

std::size_t planes_bytes(const PlaneShape& shape)
{
    std::size_t bytes = 0;
    for (int p = 0; p < shape.count; ++p) {
        bytes += plane_bytes(shape, p);
    }
    return bytes;
}

void plane_starts(const PlaneShape& shape, unsigned char* base, unsigned char* starts[], unsigned int bytes[])
{
    for (int p = 0; p < shape.count; ++p) {
        starts[p] = base;
        bytes[p] = static_cast<unsigned int>(plane_bytes(shape, p));
        base += bytes[p];
    }
}

PlanePicture packed_picture(const PlaneShape& shape, unsigned char* planes)
{
    PlanePicture picture;
    for (int p = 0; p < shape.count; ++p) {
        picture.plane[p] = planes;
        picture.stride[p] = std::ptrdiff_t(plane_bytes(shape, p) / std::size_t(shape.height));
        planes += plane_bytes(shape, p);
    }
    return picture;
}

void fill_planes(const PlaneShape& shape, const unsigned value[], const PlanePicture& picture)
{
    for (int p = 0; p < shape.count; ++p) {
        for (int y = 0; y < shape.height; ++y) {
            unsigned char* row = picture.plane[p] + std::ptrdiff_t(y) * picture.stride[p];
            if (shape.bits == 8) {
                std::memset(row, int(value[p]), std::size_t(shape.width[p]));
                continue;
            }
            const std::uint16_t sample = static_cast<std::uint16_t>(value[p]);
            for (int x = 0; x < shape.width[p]; ++x) {
                std::memcpy(row + 2 * x, &sample, 2);
            }
        }
    }
}

void fill_black(const PlaneShape& shape, const PlanePicture& picture)
{
    const unsigned scale = 1u << (shape.bits - 8);
    const unsigned black[4] = {16 * scale, 128 * scale, 128 * scale, 0};
    fill_planes(shape, black, picture);
}

void fill_layout_black(PlaneLayout layout, const PlaneShape& shape, const PlanePicture& picture)
{
    if (layout == PlaneLayout::yuv422 || layout == PlaneLayout::yuv444 || layout == PlaneLayout::yuva444) {
        fill_black(shape, picture);
        return;
    }
    const unsigned zero[4] = {};
    fill_planes(shape, zero, picture);
}

void copy_planes(const PlaneShape& shape, const PlanePicture& from, const PlanePicture& to)
{
    for (int p = 0; p < shape.count; ++p) {
        const std::size_t row = plane_bytes(shape, p) / std::size_t(shape.height);
        for (int y = 0; y < shape.height; ++y) {
            const unsigned char* source = from.plane[p] + std::ptrdiff_t(y) * from.stride[p];
            std::memcpy(to.plane[p] + std::ptrdiff_t(y) * to.stride[p], source, row);
        }
    }
}
