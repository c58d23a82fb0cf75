// The Tarvic frame decoder: turns every coded frame back into the exact
// pixels it was made from. Safe on any input: a damaged or hostile frame
// yields an error and leaves the picture as it was.
//
//   TarvicDecoder decoder;
//   if (decoder.DecompressBegin(width, height, 24) != Status::ok) ...
//   // picture: width * height * 3 bytes, the previous frame (black at first)
//   Status s = decoder.Decompress(frame, frame_size, picture);
//
// Pictures are in the order the compressor was given them: rows one after
// another with no padding, 3 bytes a pixel for 24-bit streams (types 4, 5
// and 6), 4 bytes for 32-bit streams with alpha (types 8 and 9). A frame of
// no bytes (a null frame) repeats the previous picture. Pictures in planes
// (types 10 and 11) are decoded by DecompressPlanes into the caller's
// planes, after BeginPlanes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/planes.h"
#include "entropy/compress.h"
#include "common/status.h"

class TarvicDecoder {
public:
    int width = 0;
    int height = 0;
    int bit_count = 0;                      // 24 or 32
    bool top_down = false;                  // 24-bit pictures: rows in the reverse of the coded order
    std::size_t picture_bytes = 0;          // width x height x bit_count / 8
    unsigned char* plane_buffer = nullptr;  // the decoded channel planes
    unsigned char* residual_buffer = nullptr;
    unsigned char* row_scratch = nullptr;   // the rows that ReEntropyPlanes or rebuild_planes works in
    PlaneShape shape;                       // the planes of a decoder begun with BeginPlanes (count 0 otherwise)
    Compress compactor;

    TarvicDecoder() = default;
    ~TarvicDecoder();
    TarvicDecoder(const TarvicDecoder&) = delete;
    TarvicDecoder& operator=(const TarvicDecoder&) = delete;

    // Acquires every buffer once.
    [[nodiscard]] Status DecompressBegin(int width, int height, int bit_count);
    // Decodes one coded frame of `size` bytes into `picture`, which is
    // written only when the whole frame decodes.
    [[nodiscard]] Status Decompress(const unsigned char* frame, std::size_t size, unsigned char* picture);
    void DecompressEnd();

    // Acquires every buffer once for pictures in planes of a layout, each
    // sample of `bits` bits (8).
    [[nodiscard]] Status BeginPlanes(int width, int height, PlaneLayout layout, int bits);
    // Decodes one coded frame of `size` bytes into the picture's planes,
    // which are written only when the whole frame decodes: its channels are
    // decoded into the decoder's own planes first, and only then are the
    // picture's rebuilt from them. A null frame leaves them as they are.
    [[nodiscard]] Status DecompressPlanes(const unsigned char* frame, std::size_t size, const PlanePicture& picture);
    // A frame of one value a plane (type 11) into the picture.
    [[nodiscard]] Status solid_planes(const unsigned char* frame, std::size_t size, const PlanePicture& picture);
};
