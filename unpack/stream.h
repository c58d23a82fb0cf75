// What reelunpack makes of an AVI file's streams: the video stream it can
// give back (Tarvic or uncompressed RGB of 24 or 32 bits, or one of the
// uncompressed Y'CbCr forms that reelpack -u writes), the frames of an
// uncompressed one, the sound it carries, and the description --info prints.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "library/tarvic.h"
#include "quicktime/ycbcr_rows.h"

// A form of uncompressed frames that reelunpack gives back as they are.
struct PlainForm {
    char code[5];         // the compression code; empty for a plain bitmap
    int bit_count;
    int group;            // pixels a row holds together: rows hold whole groups
    const char* black;    // the bytes of a black group; null: zeros
    const char* name;     // what --info calls it
    const char* pixels;   // ffmpeg's input options for its raw frames
    int group_bytes = 0;  // bytes of a group where not group x bit_count / 8: packed words
    // How ffmpeg reads raw frames whose rows it takes in whole groups, or
    // whose samples lie in an order it has no raw form of: its demuxer
    // (null: rawvideo), the picture's width in whole groups of this many
    // pixels (cropped back after), and options after the input.
    const char* demuxer = nullptr;
    int raw_group = 1;
    const char* after = "";
};

// A Tarvic stream of planes, by the movie's data format that its record
// names: the planes, the uncompressed form that the AVI file written holds
// and the rows of it, and the movie's own packing for raw frames. The 10-
// and 16-bit layouts' form is the movie's own packing, both ways.
struct PlaneStream {
    char data_format[5];
    char form[5];                // the uncompressed form's compression code
    PlaneLayout layout;
    int bits;                    // of a sample
    tarvic_layout library_layout;
    const YcbcrPlanes* avi_rows;  // planes to the AVI form's rows; null: planes_to_deep
    const YcbcrPlanes* raw_rows;  // planes to the movie's rows; null: planes_to_deep
    const char* name;             // what --info calls it
    const char* pixels;           // ffmpeg's input options for raw frames of the movie's packing; null: the form's
};

// How the stream's frames are stored.
struct VideoStream {
    bool tarvic = false;
    const PlaneStream* planes = nullptr;  // of a Tarvic stream with a record
    bool bad_record = false;              // a record of planes this does not know, refused
    const PlainForm* form = nullptr;  // of the frames decoded, as the AVI file written holds them
    bool top_down = false;        // its frames hold the top row first: the Y'CbCr forms
    std::size_t row_bytes = 0;    // a row of a decoded frame, packed: width x 3 (or 4), or whole groups
    std::size_t frame_bytes = 0;  // a decoded frame: row_bytes x height
};

// What the AVI file written says of the stream's frames.
AviVideo plain_video(const VideoStream& stream);

// Fills `frame` (the stream's frame_bytes) with black.
void fill_black(const VideoStream& stream, unsigned char* frame);

// The stream of `layout` where reelunpack can give it back; false for any
// other, with bad_record set for a Tarvic stream whose record of planes
// names a layout it does not know or numbers that do not agree.
bool describe_stream(const AviLayout& layout, VideoStream& stream);

// Lays an uncompressed frame of `size` bytes into the picture whose top row
// is at `top`, `stride` bytes from a row to the one below it. The frame's
// rows are packed (as reelpack writes them) or padded to four bytes (as
// bitmaps usually are), bottom row first unless the format says top-down
// (or is a Y'CbCr form).
// False, with the picture untouched, for a frame of any other size.
bool unpack_plain(const AviLayout& layout, const VideoStream& stream, const unsigned char* bytes, std::size_t size,
                  unsigned char* top, std::ptrdiff_t stride);

// The sound stream's format where the AVI file written can carry it: linear
// PCM whose wave format is the one the writer makes for it, byte for byte.
bool carried_sound(const AviLayout& layout, AviSound& sound);

// Prints what --info tells of the file at `path` on standard output.
void print_info(const char* path, const AviLayout& layout, const VideoStream& stream);
