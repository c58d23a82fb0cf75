#include "codec/planes.h"

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
        shape.count = layout == PlaneLayout::yuva444 ? 4 : 3;
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
