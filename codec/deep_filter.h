// The prediction filter of planes of 9- to 16-bit samples: each plane is
// predicted as 8-bit planes are (codec/plane_filter.h), modulo 2^bits, and
// its residuals folded so that small ones, of either sign, stay small
// numbers: 0, -1, 1, -2, 2 ... become 0, 1, 2, 3, 4 ... A plane's folded
// residuals are then two channels: their low bytes, and their high bytes,
// which are almost all 0 on natural pictures and so cost the zero-run coder
// next to nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/planes.h"

// Channel c of a shape's deep residuals: plane c / 2, its low bytes for
// even c and its high bytes for odd c, each width x height bytes, one after
// another from `base`.
void deep_channels(const PlaneShape& shape, unsigned char* base, unsigned char* starts[], unsigned int bytes[]);

// Every plane of a picture of samples wider than 8 bits into the channels
// deep_channels() lays out from `residuals`. Only the low `bits` of each
// sample are read.
void predict_deep_planes(const PlaneShape& shape, const PlanePicture& picture, unsigned char* residuals);

// The inverse, into the picture, whose planes are only written; `scratch`
// holds deep_rebuild_scratch() bytes.
void rebuild_deep_planes(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                         const PlanePicture& picture);

// The same for one plane of 8-bit samples, whose residuals are the bytes as
// they are: for layouts of one plane, which no word of planes serves.
void rebuild_byte_plane(const PlaneShape& shape, const unsigned char* residuals, unsigned char* scratch,
                        const PlanePicture& picture);

[[nodiscard]] std::size_t deep_rebuild_scratch(const PlaneShape& shape);
