// The 10- and 16-bit layouts as planes of 16-bit samples in the host's
// order, and back: Y', Cb, Cr for Y'CbCr, G, B, R (and alpha) for RGB, one
// plane for grey. 10-bit samples come out below 1024; the padding bits of
// the movie's words and rows are not samples and come back as zero.
#pragma once

#include "codec/planes.h"
#include "quicktime/pixel_layouts.h"

// The codec's layout of a 10- or 16-bit layout's planes and the bits of
// their samples; bits 0 for a layout of 8-bit samples.
struct DeepLayout {
    PlaneLayout layout = PlaneLayout::grey;
    int bits = 0;
};
DeepLayout deep_layout(const PixelFormat& format);

// The planes of a layout's picture, in the codec's terms: their count and
// widths, and the samples' bits. count 0 for a layout of 8-bit samples.
PlaneShape deep_shape(const PixelFormat& format, int width, int height);

// Converts a stored frame (rows at layout.stride) into planes of
// deep_shape(); each row of a plane holds uint16_t samples.
void deep_to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture);

// Converts planes back into rows of the movie's packing, rows of
// packed_row() bytes one after another, padding zero. Only the layout's
// format, width and height are read.
void planes_to_deep(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows);
