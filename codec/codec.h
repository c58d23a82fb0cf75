// The Tarvic compressor for one video stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/planes.h"
#include "codec/predict.h"
#include "entropy/compress.h"
#include "common/status.h"

// Frame type bytes; a null frame has no bytes at all.
enum : unsigned char {
    FRAME_RGB24 = 4,
    FRAME_SOLID_GREY = 5,
    FRAME_SOLID_RGB = 6,
    FRAME_RGBA32 = 8,
    FRAME_SOLID_RGBA = 9,
    FRAME_PLANES = 10,
    FRAME_SOLID_PLANES = 11,
    FRAME_PREFIX_PLANES = 12,
};

// The bytes before the offsets of a frame of planes: type, plane count and
// bits a sample.
constexpr std::uint32_t planes_frame_fixed = 3;

// The flag of a frame that stands alone, which every frame but the null
// frame does. It is the value an AVI index gives a key frame, so that a
// writer takes it as it is.
constexpr std::uint32_t key_frame_flag = 0x10;

// The per-frame parameter block between the caller and the codec.
struct ICCOMPRESS {
    std::uint32_t dwFlags;          // written: key_frame_flag, or 0 for a null frame
    std::uint32_t dwSize;           // written: the coded length
    unsigned char* lpOutput;        // where the coded frame goes
    const unsigned char* lpInput;   // the frame to code
};

// The most bytes that a coded frame of a width x height picture of bit_count
// bits per pixel can take: a coded frame never exceeds it. 0 when the
// picture is too large to be coded at all.
std::size_t tarvic_frame_bound(int width, int height, int bit_count);
// The same for a picture in planes of a layout, with `bits` bits a sample
// (8; other bits are not coded yet and give 0).
std::size_t tarvic_planes_bound(int width, int height, PlaneLayout layout, int bits);

class CodecInst {
public:
    unsigned char* residual_buffer = nullptr;
    unsigned char* prev_frame = nullptr;
    const unsigned char* input_frame = nullptr;
    unsigned char* output_frame = nullptr;
    unsigned char* plane_buffer = nullptr;
    std::uint32_t frame_bytes = 0;
    int width = 0;
    int height = 0;
    int bit_count = 0;
    // Null frames are found only while this is on; the frames coded while
    // it is off are not kept: neither the first frame nor one right after it
    // is turned on is ever null.
    int detect_null_frames = 0;
    int keep_alpha = 0;
    // Frames of deep planes are of type 12 (their low bytes prefix coded,
    // faster to code and decode) while this is on, of type 10 otherwise.
    int prefix_deep_planes = 1;
    // The pixel order of 24-bit input frames: the frame pixel order, or a
    // "raw " movie's, which the codec reads as if converted first; the coded
    // frames are the same either way.
    PixelOrder input_order = PixelOrder::frame;
    const unsigned char* frame_copy = nullptr;  // the frame's 3-byte pixels: the input, or plane_buffer
    // Whether prev_frame holds the last coded frame for the null-frame test.
    bool previous_held = false;
    // The layout and planes of a picture begun with BeginPlanes (count 0
    // otherwise).
    PlaneLayout layout = PlaneLayout{};
    PlaneShape shape;
    Compress compactor;

    CodecInst() = default;
    ~CodecInst();
    CodecInst(const CodecInst&) = delete;
    CodecInst& operator=(const CodecInst&) = delete;

    // Acquires every buffer once. Refuses (with no buffer held) a bit count
    // other than 24 or 32, a size of 0, sizes that overflow, and failed
    // allocations.
    [[nodiscard]] Status CompressBegin(int width, int height, int bit_count);
    // Codes lpInput into lpOutput, which must hold tarvic_frame_bound() bytes.
    int CompressContinue(ICCOMPRESS* icinfo, std::uint32_t unused);
    int CompressEnd();
    // residual_buffer, plane_buffer and prev_frame of `size` bytes each, and
    // the compactor's buffers; on failure none is held.
    [[nodiscard]] Status AcquireBuffers(std::size_t size);

    // Acquires every buffer once for pictures in planes of a layout, each
    // sample of `bits` bits (8). Refuses as CompressBegin does, and a layout
    // or bits it does not code.
    [[nodiscard]] Status BeginPlanes(int width, int height, PlaneLayout layout, int bits);
    // Codes a picture into `out`, which holds tarvic_planes_bound() bytes,
    // and sets `size` to the coded length (0 for a null frame).
    [[nodiscard]] Status CompressPlanes(const PlanePicture& picture, unsigned char* out, std::size_t& size);

    // The frame paths, called from CompressContinue and from each other.
    int FastCompress(ICCOMPRESS* icinfo);
    int SolidFrameTest(ICCOMPRESS* icinfo);
    int FastCompressRGB32(ICCOMPRESS* icinfo);
    int CompressRGB32(ICCOMPRESS* icinfo);
    unsigned int KeyCompress(ICCOMPRESS* icinfo);

    // The null-frame test against prev_frame, and the frame just coded kept
    // for it (`bytes` of `frame`, or of the one value `fill` when frame is
    // null); while the test is off nothing is kept, which spares a copy of
    // every frame and keeps prev_frame's pages untouched.
    bool same_as_previous(const unsigned char* frame, std::size_t bytes);
    void keep_previous(const unsigned char* frame, std::size_t bytes, unsigned char fill = 0);
    // The same for a picture in planes.
    bool same_planes_as_previous(const PlanePicture& picture) const;
    void keep_previous_planes(const PlanePicture& picture);
};
