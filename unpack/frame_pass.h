// The pass of reelunpack that decodes the frames and writes them in order.
// Frames are decoded on the workers, each with a decoder of its own and a
// buffer the frames it decodes are read into; each frame is decoded over the
// picture of its slot of the frame queue.
//
// A frame that does not decode (damaged, or a null frame, which repeats the
// one before) leaves its picture as it was. On one thread there is one
// picture, which therefore holds the last good frame, black before the
// first, as the decoder promises. On several, no decoder sees every frame:
// the last good frame in the stream's order is the picture written last,
// which trades places with each good frame written (no picture is copied)
// and is written again for any frame that did not decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "cli/input_file.h"
#include "library/tarvic.h"
#include "unpack/stream.h"

// A frame between its decoder and the writer.
struct UnpackedFrame {
    unsigned char* picture = nullptr;  // its slot's picture, which it is decoded over
    tarvic_status status = TARVIC_OK;
    bool repeat = false;  // a frame of no bytes: the picture before it again
};

// Where the frames go: raw frames to a stream, or frames of an AVI file.
struct FrameSink {
    OutputFile* raw = nullptr;  // raw frames, top row first
    AviWriter* writer = nullptr;
    const unsigned char* input = nullptr;  // the input file, for its sound chunks
    std::size_t next_sound = 0;            // the sound chunk that goes next
};

class FramePass {
public:
    int workers = 1;
    std::size_t slots = 1;
    std::ptrdiff_t stride = 0;  // of the pictures: top-down for raw frames, the form's order for the AVI file
    std::size_t room = 0;       // of each worker's buffer
    std::size_t damaged = 0;    // frames that did not decode

    FramePass() = default;
    ~FramePass();
    FramePass(const FramePass&) = delete;
    FramePass& operator=(const FramePass&) = delete;

    // Acquires the decoders, pictures and buffers of a run of `threads`
    // threads over the frames of `layout`, raw frames top row first when
    // `raw`. False after saying why on standard error.
    bool begin(const AviLayout& layout, const VideoStream& stream, int threads, bool raw);
    // A frame buffer (with the writer's room after it) that is no frame's yet.
    unsigned char* spare_picture() const { return pictures.front(); }
    // Decodes every frame and writes it, telling each damaged one on
    // standard error; false when a write failed.
    bool run(InputFile& input, const AviLayout& layout, const VideoStream& stream, FrameSink& sink);

private:
    bool add_decoders(const AviLayout& layout, tarvic_layout library_layout);
    bool begin_planes(const AviLayout& layout, const VideoStream& stream, bool raw);
    void unpack_planes(std::size_t worker, const unsigned char* bytes, std::size_t size, UnpackedFrame& out);
    void unpack(const InputFile& input, const AviLayout& layout, const VideoStream& stream, std::size_t worker,
                std::size_t i);
    bool write(FrameSink& sink, const AviLayout& layout, const VideoStream& stream, std::size_t i);

    std::vector<tarvic_decoder*> decoders;  // one for each worker of a Tarvic stream
    std::vector<unsigned char*> pictures;   // one for each slot, and the one last written
    std::vector<unsigned char*> buffers;    // one for each worker
    std::unique_ptr<UnpackedFrame[]> frames;
    unsigned char* shown = nullptr;         // the picture last written: the last good frame
    // A stream of planes: each worker's planes, decoded before they are
    // packed into the frame's rows of the form written.
    PlaneShape shape;
    std::vector<unsigned char*> plane_buffers;
    PlanesToRows to_rows = nullptr;
    PixelLayout sizes;                      // the movie's format and the picture's size, for to_rows
};
