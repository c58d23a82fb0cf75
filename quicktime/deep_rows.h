// The rows of the 10-bit layouts that finishing and capture write: packed
// 32-bit words of samples, some bits of each word and the words past a
// row's samples being padding. The -u AVI file holds the movie's rows, at
// the stride ffmpeg reads, with the padding written as zero, so that no
// bits the movie holds beyond its samples reach the AVI file.
#pragma once

#include <cstdint>

#include "quicktime/pixel_layouts.h"

// How a layout's samples lie in its words.
struct DeepRows {
    int word_samples;           // samples a word holds: 3 or 1
    unsigned char keep[4];      // the bytes of a word as stored, the bits of its samples set
    bool y_and_chroma_pairs;    // 4:2:2 rows: width Y' and (width + 1) / 2 of each chroma, interleaved
};

extern const DeepRows rows_v210;  // Cb Y' Cr at bits 0, 10, 20 of little-endian words
extern const DeepRows rows_v410;  // Cb Y' Cr at bits 2, 12, 22 of a little-endian word
extern const DeepRows rows_r210;  // B G R at bits 0, 10, 20 of a big-endian word
extern const DeepRows rows_r10k;  // B G R at bits 2, 12, 22 of a big-endian word
extern const DeepRows rows_avrp;  // B G R at bits 2, 12, 22 of a little-endian word

// Samples a stored row of `width` pixels holds.
int row_samples(const DeepRows& rows, int width);

// The -u rows of these layouts (ConvertRows, rows counted top down): the
// stored rows, padding bits and words zero.
void deep_rows(const PixelLayout& layout, const unsigned char* stored, unsigned char* destination, int first_row,
               int rows);
