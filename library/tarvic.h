/* Tarvic: a lossless video codec. The interface of the libtarvic library,
 * for C99 and C++.
 *
 * The coded frames' bytes are described in docs/format.md.
 *
 * Pixels. A 24-bit picture has 3 bytes a pixel in the order blue, green,
 * red; a 32-bit picture has 4 bytes a pixel, blue, green, red, alpha. Every
 * byte of every pixel, alpha included, comes back exactly.
 *
 * Planes. A Y'CbCr picture is coded as it is, sample for sample, as planes
 * (tarvic_layout): one plane a component in the order Y, Cb, Cr, then
 * alpha, each with a pointer to its top row and a stride of its own, as a
 * packed picture has (negative strides allowed, padding allowed).
 *
 * Rows. `picture` points at the first byte of the top row and `stride` is
 * the number of bytes from the start of a row to the start of the row below
 * it. A packed top-down picture has stride width * bytes per pixel; a packed
 * bottom-up picture (the layout of a bitmap or of an uncompressed AVI frame)
 * is passed with `picture` at its last row in memory and the negative of
 * that stride. Rows may be padded: any stride whose size is at least a row
 * will do.
 *
 * Frames. Every coded frame stands alone (a key frame) except the null frame,
 * a coded frame of 0 bytes, which repeats the picture before it. An encoder
 * writes null frames only when asked to (TARVIC_NULL_FRAMES); a decoder
 * always takes them.
 *
 * Memory. An encoder or decoder acquires all its memory when it is created
 * and none per frame. An encoder given a picture in any layout other than
 * packed bottom-up first copies it into a buffer of its own; a decoder keeps
 * the last good picture in a buffer of its own, so that a null frame can be
 * given back into any picture, and copies each picture out of it (a caller
 * that keeps the picture itself decodes over it with no copy:
 * tarvic_decode_over()).
 *
 * Safety. Decoding any bytes at all, damaged or hostile, never reads or
 * writes outside the buffers given and ends with a status. No function does
 * I/O, prints, throws or keeps state outside its handle; distinct handles may
 * be used from distinct threads at once.
 */
#ifndef TARVIC_H
#define TARVIC_H

#include <stddef.h>

#if defined(__GNUC__)
#define TARVIC_API __attribute__((visibility("default")))
#else
#define TARVIC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TARVIC_VERSION_MAJOR 0
#define TARVIC_VERSION_MINOR 1
#define TARVIC_VERSION_PATCH 0
#define TARVIC_VERSION_STRING "0.1.0"

typedef enum tarvic_status {
    TARVIC_OK = 0,
    /* A coded frame that is damaged or that no encoder made. */
    TARVIC_TRUNCATED = 1,     /* the frame ends before the data it announces */
    TARVIC_BAD_LEVEL = 2,     /* a channel has an unknown zero-run level */
    TARVIC_BAD_TABLE = 3,     /* a count table is damaged */
    TARVIC_BAD_STREAM = 4,    /* a coded channel is damaged */
    TARVIC_BAD_OFFSETS = 5,   /* channel offsets out of order or out of the frame */
    TARVIC_BAD_TYPE = 6,      /* a frame type unknown, or not of the handle's bits per pixel */
    /* A call the library cannot carry out. */
    TARVIC_BAD_SIZE = 100,    /* a width, height, bits per pixel or layout that cannot be coded */
    TARVIC_NO_MEMORY = 101,   /* memory could not be had */
    TARVIC_BAD_ARGUMENT = 102, /* a null pointer, a stride smaller than a row, or a call for another layout */
    TARVIC_SMALL_BUFFER = 103 /* an output buffer smaller than tarvic_bound() */
} tarvic_status;

/* A short English description of a status; never null. */
TARVIC_API const char* tarvic_status_text(tarvic_status status);

/* The library's version, "major.minor.patch"; it can differ from
 * TARVIC_VERSION_STRING, which is the version of the header compiled against. */
TARVIC_API const char* tarvic_version(void);

/* The most bytes that a coded frame of a width x height picture of
 * bits_per_pixel (24 or 32) can take: a coded frame never exceeds it, and it
 * is the size of the buffer that tarvic_encode() needs. 0 for sizes the
 * codec cannot hold. */
TARVIC_API size_t tarvic_bound(int width, int height, int bits_per_pixel);

typedef struct tarvic_encoder tarvic_encoder;
typedef struct tarvic_decoder tarvic_decoder;

/* Encoder flags. */
#define TARVIC_NULL_FRAMES 1u /* a picture equal to the one before is coded as a null frame */

/* Creates an encoder for pictures of width x height pixels of bits_per_pixel
 * (24 or 32). On success *encoder is the new handle; otherwise it is null. */
TARVIC_API tarvic_status tarvic_encoder_create(int width, int height, int bits_per_pixel, unsigned flags,
                                               tarvic_encoder** encoder);
/* Releases an encoder and all its memory; null is allowed. */
TARVIC_API void tarvic_encoder_destroy(tarvic_encoder* encoder);

/* Codes one picture into `coded`, which holds `capacity` bytes, at least
 * tarvic_bound() of the encoder's size. *coded_size receives the coded
 * length, 0 for a null frame. */
TARVIC_API tarvic_status tarvic_encode(tarvic_encoder* encoder, const void* picture, ptrdiff_t stride, void* coded,
                                       size_t capacity, size_t* coded_size);

/* Creates a decoder for a stream of width x height pictures of
 * bits_per_pixel (24 or 32). Its picture starts black (all bytes 0). */
TARVIC_API tarvic_status tarvic_decoder_create(int width, int height, int bits_per_pixel, tarvic_decoder** decoder);
TARVIC_API void tarvic_decoder_destroy(tarvic_decoder* decoder);

/* Decodes one coded frame of coded_size bytes (0 for a null frame, when
 * `coded` may be null) into `picture`. On TARVIC_OK the picture is the
 * frame's. On a damaged frame it receives the last picture that decoded (black
 * before the first) and the status says what was wrong; the next frame
 * decodes as if the damaged one had not been there. */
TARVIC_API tarvic_status tarvic_decode(tarvic_decoder* decoder, const void* coded, size_t coded_size, void* picture,
                                       ptrdiff_t stride);

/* Decodes one coded frame as tarvic_decode() does, over a picture that holds
 * the last one given back, with no copy: a frame that decodes is written
 * into `picture`, and a null frame or a damaged one leaves it as it was,
 * which is then what tarvic_decode() would give. Packed rows bottom-up, and
 * for 24-bit pictures top-down too, are decoded straight into the picture;
 * any other stride goes through the decoder's own picture. A decoder is
 * used with one of the two: this one does not keep tarvic_decode()'s
 * last picture up to date. */
TARVIC_API tarvic_status tarvic_decode_over(tarvic_decoder* decoder, const void* coded, size_t coded_size,
                                            void* picture, ptrdiff_t stride);

/* The layouts of pictures the library codes; the numbers are fixed. The
 * packed ones are today's 24- and 32-bit pictures. Those of planes named P8
 * have 8-bit samples, one byte each; those named P10 and P16 (and GRAY16)
 * have samples of 10 or 16 bits, each a uint16_t in the host's byte order
 * whose value is below 2^bits (strides are still in bytes). In 4:2:2 the Cb
 * and Cr planes have (width + 1) / 2 samples a row (the last of an odd width
 * has chroma of its own), in 4:4:4 and in RGB every plane has width samples.
 * Every plane has height rows. RGB is coded as planes in the order G, B, R
 * (then alpha). */
typedef enum tarvic_layout {
    TARVIC_BGR24 = 1,      /* packed, as bits_per_pixel 24 */
    TARVIC_BGRA32 = 2,     /* packed, as bits_per_pixel 32 */
    TARVIC_YUV422P8 = 3,   /* planes Y, Cb, Cr; 4:2:2 */
    TARVIC_YUV444P8 = 4,   /* planes Y, Cb, Cr; 4:4:4 */
    TARVIC_YUVA444P8 = 5,  /* planes Y, Cb, Cr, alpha; 4:4:4 */
    TARVIC_YUV422P10 = 6,  /* planes Y, Cb, Cr; 4:2:2; 10-bit */
    TARVIC_YUV444P10 = 7,  /* planes Y, Cb, Cr; 4:4:4; 10-bit */
    TARVIC_GBRP10 = 8,     /* planes G, B, R; 10-bit */
    TARVIC_GBRP16 = 9,     /* planes G, B, R; 16-bit */
    TARVIC_GBRAP16 = 10,   /* planes G, B, R, alpha; 16-bit */
    TARVIC_GRAY16 = 11     /* one plane; 16-bit */
} tarvic_layout;

/* tarvic_bound() for a layout: the most bytes a coded frame of a width x
 * height picture of it can take; 0 for sizes or a layout the codec cannot
 * hold. */
TARVIC_API size_t tarvic_layout_bound(int width, int height, tarvic_layout layout);

/* Creates an encoder or a decoder for pictures of a layout; for the packed
 * layouts the same as tarvic_encoder_create() and tarvic_decoder_create()
 * with their bits per pixel. A decoder's picture in planes starts black as a
 * viewer sees it: Y 16, Cb and Cr 128 (at 10 bits Y 64, Cb and Cr 512), RGB
 * and grey 0, alpha 0. */
TARVIC_API tarvic_status tarvic_encoder_create_layout(int width, int height, tarvic_layout layout, unsigned flags,
                                                      tarvic_encoder** encoder);
TARVIC_API tarvic_status tarvic_decoder_create_layout(int width, int height, tarvic_layout layout,
                                                      tarvic_decoder** decoder);

/* Codes one picture given as planes: planes[p] points at the top row of
 * plane p and strides[p] is the bytes from a row to the row below (at least
 * the plane's row, in either direction), for as many planes as the layout
 * has. A packed layout is one plane, the picture and stride tarvic_encode()
 * takes. `coded` holds `capacity` bytes, at least tarvic_layout_bound();
 * *coded_size receives the coded length, 0 for a null frame. The encoder
 * reads the planes where they are, with no copy. tarvic_encode() refuses an
 * encoder of planes (TARVIC_BAD_ARGUMENT). */
TARVIC_API tarvic_status tarvic_encode_planes(tarvic_encoder* encoder, const void* const planes[],
                                              const ptrdiff_t strides[], void* coded, size_t capacity,
                                              size_t* coded_size);

/* Decodes one coded frame (coded_size 0 for a null frame, when `coded` may
 * be null) into planes laid as tarvic_encode_planes() takes them. As with
 * tarvic_decode(), the planes receive the last picture that decoded on a
 * null frame and on a damaged one, whose status says what was wrong: the
 * library keeps that picture. tarvic_decode() and tarvic_decode_over()
 * refuse a decoder of planes (TARVIC_BAD_ARGUMENT). */
TARVIC_API tarvic_status tarvic_decode_planes(tarvic_decoder* decoder, const void* coded, size_t coded_size,
                                              void* const planes[], const ptrdiff_t strides[]);

#ifdef __cplusplus
}
#endif

#endif /* TARVIC_H */
