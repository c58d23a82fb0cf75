// The frame pass of a compressed run: frames coded on every worker at once,
// each worker with a codec and buffers of its own, and written in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/codec.h"
#include "driver/conversion.h"

// One worker's codec, the buffer for the frames it must read, and the one
// for frames converted before they are coded: packed pixels, or the planes
// of `picture` for a movie coded as planes.
struct Coder {
    CodecInst codec;
    unsigned char* frame = nullptr;
    unsigned char* converted = nullptr;
    PlanePicture picture;
    ~Coder();
};

// A frame between its coder and the writer.
struct CodedFrame {
    std::uint64_t offset = 0;
    std::uint32_t duration = 0;      // in the track's time units
    unsigned char* bytes = nullptr;  // the frame's bound (RGB or planes) and the writer's room
    ICCOMPRESS block{};
    bool complete = false;
    ~CodedFrame();
};

class CodedPass {
public:
    // Whether a coded frame of the movie's pictures always fits an AVI
    // chunk; false after saying why not.
    static bool fits(const Conversion& run);
    // Begins the codecs and acquires every buffer of the run; false after
    // saying why not.
    bool begin(const Conversion& run);
    // Codes and writes every frame; false when a write failed.
    bool run(Conversion& run);

private:
    bool begin_coder(const Conversion& run, Coder& coder) const;

    int workers = 1;
    std::size_t slots = 1;
    std::unique_ptr<Coder[]> coders;
    std::unique_ptr<CodedFrame[]> coded;
};
