// Frames reach the AVI writer and the codec bottom row first, each pixel
// blue, green, red, rows packed with no gap. "raw " movies store them top
// row first and red, green, blue.
#pragma once

// Converts one "raw " frame from `source` into `destination` (distinct
// buffers of 3 x width x height bytes); the source is left as it is.
void raw_to_BGR(const unsigned char* source, unsigned char* destination, int width, int height);

// The same for `rows` rows of the converted frame from row `first_row` on
// (counted as the converted frame counts them, bottom up), written one after
// another at `destination`.
void raw_to_BGR_rows(const unsigned char* source, unsigned char* destination, int width, int height, int first_row,
                     int rows);
