// The rows of the Y'CbCr layouts: as the -u AVI file holds them, and as
// the codec's planes and back. A Y'CbCr movie's samples are kept as they
// are; only "yuv2"'s signed chroma is made unsigned, as every other layout
// and the AVI forms store it.
#pragma once

#include "codec/planes.h"
#include "quicktime/pixel_layouts.h"

// Converts a stored frame into planes of plane_shape(layout, width, height,
// 8): Y', Cb, Cr (and alpha), top row first, chroma unsigned. False when the
// frame holds a sample the planes do not keep: at an odd width, rows of 4:2:2
// end in a whole pair, and the Y' after the last pixel is kept only where it
// repeats the last pixel's, as ffmpeg writes it.
using RowsToPlanes = bool (*)(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture);

// Converts planes back into packed rows of the movie's own packing, top row
// first, at `rows`; at an odd width of 4:2:2 the last pixel's Y' is repeated
// after it. Only the layout's width and height are read.
using PlanesToRows = void (*)(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows);

// A Y'CbCr layout's planes, and the conversions to them and back.
struct YcbcrPlanes {
    PlaneLayout layout;
    RowsToPlanes to_planes;
    PlanesToRows to_rows;
};

extern const YcbcrPlanes planes_2vuy;  // Cb Y'0 Cr Y'1
extern const YcbcrPlanes planes_yuvs;  // Y'0 Cb Y'1 Cr
extern const YcbcrPlanes planes_yuv2;  // Y'0 Cb Y'1 Cr, chroma signed
extern const YcbcrPlanes planes_v308;  // Cr Y' Cb
extern const YcbcrPlanes planes_v408;  // Cb Y' Cr A

// The -u rows of the Y'CbCr layouts (ConvertRows, rows counted top down,
// as the movie stores them and the AVI file holds them): the stored rows
// without their padding, and the same with "yuv2"'s chroma made unsigned.
void ycbcr_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
                int rows);
void yuv2_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
               int rows);

// The stored frame as the codec's planes; see RowsToPlanes.
inline bool movie_to_planes(const PixelLayout& layout, const unsigned char* stored, const PlanePicture& picture)
{
    return layout.format->planes->to_planes(layout, stored, picture);
}

// Planes as the movie stores them, rows packed; see PlanesToRows.
inline void planes_to_movie(const PixelLayout& layout, const PlanePicture& picture, unsigned char* rows)
{
    layout.format->planes->to_rows(layout, picture, rows);
}
