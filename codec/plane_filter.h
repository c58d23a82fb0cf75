// The prediction filter of pictures in planes: every plane is predicted on
// its own, with no decorrelation between planes, so that each plane's
// residuals are one channel stream.
#pragma once

#include <cstddef>

#include "codec/planes.h"

// The residuals of one plane of `width` x `height` samples, whose row y
// starts at top + y * stride, into `residuals` (packed rows). The first
// sample is stored as it is, every other sample of the first row and the
// first of the second from the sample before it, and every later sample by
// the median predictor (codec/median.h) from its left, above and upper-left
// neighbours, the plane taken as one continuous sequence of samples: the
// first sample of a later row has the last of the row before as its left
// neighbour and the last of the row two up as its upper-left one.
void predict_plane(const unsigned char* top, std::ptrdiff_t stride, std::size_t width, std::size_t height,
                   unsigned char* residuals);

// Every plane of a picture of 8-bit samples, each after the one before in
// `residuals` (plane p: shape.width[p] x shape.height bytes).
void predict_planes(const PlaneShape& shape, const PlanePicture& picture, unsigned char* residuals);

// The inverse: rebuilds every plane from its residuals, laid as
// predict_planes lays them, into the picture, whose planes are only
// written, never read. `scratch` holds rebuild_planes_scratch() bytes.
// The shape is one of plane_shape()'s for 8-bit samples.
void rebuild_planes(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                    const PlanePicture& picture);
[[nodiscard]] std::size_t rebuild_planes_scratch(const PlaneShape& shape);
