// Pictures whose samples lie in planes, one plane a component: the
// Y'CbCr layouts that capture and finishing write, kept sample for sample.
#pragma once

#include <cstddef>

// How a picture's samples lie in planes, in coded order: Y (or G), Cb (or
// B), Cr (or R), then alpha. The numbers are stored in files.
enum class PlaneLayout : unsigned char {
    yuv422 = 1,   // three planes: Y at full width, Cb and Cr at (width + 1) / 2
    yuv444 = 2,   // three planes at full width
    yuva444 = 3,  // four planes at full width, alpha last
    gbr444 = 4,   // RGB as three planes at full width: G, B, R
    gbra444 = 5,  // four planes at full width: G, B, R, alpha
    grey = 6,     // one plane
};

// The planes of a width x height picture of a layout.
struct PlaneShape {
    int count = 0;      // planes, 1 to 4
    int width[4] = {};  // samples in a row of each plane
    int height = 0;     // rows of every plane: no layout halves the rows
    int bits = 8;       // bits of a sample, 8 to 16; wider than 8 take two bytes, in the host's order
};

// The shape of a layout's planes; count 0 for a layout the codec does not
// know, a size of 0 or less, or bits outside 8 to 16.
[[nodiscard]] PlaneShape plane_shape(PlaneLayout layout, int width, int height, int bits);

// A picture as planes: row r of plane p begins at plane[p] + r * stride[p]
// (bytes; a negative stride lays the rows upwards in memory). Row 0 is the
// picture's top row, as Y'CbCr movies and AVI frames store them.
struct PlanePicture {
    unsigned char* plane[4] = {};
    std::ptrdiff_t stride[4] = {};
};

// Whether a picture can be walked: a plane for each of the shape's, each
// stride at least its plane's row, and every plane's span within what a
// pointer difference holds.
[[nodiscard]] bool usable_picture(const PlaneShape& shape, const PlanePicture& picture);

// The bytes of a shape's planes packed one after another, and plane p's
// bytes.
[[nodiscard]] std::size_t plane_bytes(const PlaneShape& shape, int p);
[[nodiscard]] std::size_t planes_bytes(const PlaneShape& shape);

// Where each plane of a shape starts in `base`, packed one after another,
// and its bytes.
void plane_starts(const PlaneShape& shape, unsigned char* base, unsigned char* starts[], unsigned int bytes[]);

// A picture whose rows lie packed in `planes`, one plane after another.
[[nodiscard]] PlanePicture packed_picture(const PlaneShape& shape, unsigned char* planes);

// Sets every sample of plane p to value[p].
void fill_planes(const PlaneShape& shape, const unsigned value[], const PlanePicture& picture);

// A black Y'CbCr picture as a viewer sees it: video-range black (Y 16, Cb
// and Cr 128, at the samples' bits) and alpha 0.
void fill_black(const PlaneShape& shape, const PlanePicture& picture);

// A layout's black: for Y'CbCr fill_black's, for RGB and grey every
// sample 0.
void fill_layout_black(PlaneLayout layout, const PlaneShape& shape, const PlanePicture& picture);

// Copies every row of every plane.
void copy_planes(const PlaneShape& shape, const PlanePicture& from, const PlanePicture& to);
