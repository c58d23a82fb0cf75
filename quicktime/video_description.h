// The video track's sample description: its data format and depth, which
// choose the pixel layout, its colour table, and the row padding that its
// frames' stored size shows.
#pragma once

#include <cstdio>

#include "common/failure.h"
#include "quicktime/atoms.h"
#include "quicktime/pixel_layouts.h"
#include "quicktime/sample_tables.h"

// Reads the first sample description of `stsd` for pictures of width x
// height, saying what it finds in `report`: its data format (four bytes as
// stored), its depth, and the layout of its frames with packed rows.
[[nodiscard]] Failure read_video_description(const Held& held, const Atom& stsd, int width, int height,
                                             char (&data_format)[4], int& depth, PixelLayout& layout,
                                             std::FILE* report);

// Fits the layout's rows to the frames' stored size: packed, or padded to
// the layout's row alignment. Every frame has one layout, so frames of
// different sizes are refused, and so is a size that fits neither.
[[nodiscard]] Failure fit_frame_size(const FrameTable& table, int depth, PixelLayout& layout);
