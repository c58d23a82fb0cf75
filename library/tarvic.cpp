// The library's interface over the codec instance and the frame decoder: the
// same code that reelpack and reelunpack run.
#include "library/tarvic.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/codec.h"
#include "codec/decoder.h"

struct tarvic_encoder {
    CodecInst codec;
    std::size_t row_bytes = 0;
    unsigned char* rows = nullptr;  // a picture made packed bottom-up, for the codec
    ~tarvic_encoder() { std::free(rows); }
};

struct tarvic_decoder {
    TarvicDecoder decoder;
    std::size_t row_bytes = 0;
    unsigned char* last = nullptr;  // the last good picture, packed bottom-up, or its planes packed
    ~tarvic_decoder() { std::free(last); }
};

// The codec's results pass through the interface as they are: each has the
// number of the interface's status of the same name.
static_assert(int(Status::ok) == TARVIC_OK);
static_assert(int(Status::truncated) == TARVIC_TRUNCATED);
static_assert(int(Status::bad_level) == TARVIC_BAD_LEVEL);
static_assert(int(Status::bad_table) == TARVIC_BAD_TABLE);
static_assert(int(Status::bad_stream) == TARVIC_BAD_STREAM);
static_assert(int(Status::bad_offsets) == TARVIC_BAD_OFFSETS);
static_assert(int(Status::bad_type) == TARVIC_BAD_TYPE);
static_assert(int(Status::bad_size) == TARVIC_BAD_SIZE);
static_assert(int(Status::no_memory) == TARVIC_NO_MEMORY);
static_assert(int(Status::bad_argument) == TARVIC_BAD_ARGUMENT);
static_assert(int(Status::small_buffer) == TARVIC_SMALL_BUFFER);

namespace {

tarvic_status from_status(Status status) { return static_cast<tarvic_status>(status); }

// Whether a caller's rows can be walked: a stride at least a row long, and
// the whole picture's span within what a pointer difference holds.
bool usable_stride(std::ptrdiff_t stride, std::size_t row_bytes, int height)
{
    const std::size_t span = stride < 0 ? std::size_t(0) - std::size_t(stride) : std::size_t(stride);
    return span >= row_bytes && span <= std::size_t(PTRDIFF_MAX) / std::size_t(height);
}

// Copies `height` rows between a packed bottom-up picture and the caller's
// layout (top row at `top`, `stride` bytes to the row below).
void to_packed(const unsigned char* top, std::ptrdiff_t stride, unsigned char* packed, std::size_t row_bytes,
               int height)
{
    for (int y = 0; y < height; ++y) {
        std::memcpy(packed + std::size_t(height - 1 - y) * row_bytes, top + std::ptrdiff_t(y) * stride, row_bytes);
    }
}

void from_packed(const unsigned char* packed, unsigned char* top, std::ptrdiff_t stride, std::size_t row_bytes,
                 int height)
{
    for (int y = 0; y < height; ++y) {
        std::memcpy(top + std::ptrdiff_t(y) * stride, packed + std::size_t(height - 1 - y) * row_bytes, row_bytes);
    }
}

// A layout as the codec knows it: packed pixels of a bit count, or planes.
struct Form {
    int bits_per_pixel = 0;  // 24 or 32 for the packed layouts, 0 for planes
    PlaneLayout planes = PlaneLayout{};
    int bits = 8;  // of a sample of planes
};

bool deep_form_of(tarvic_layout layout, Form& form)
{
    static const struct {
        tarvic_layout layout;
        PlaneLayout planes;
        int bits;
    } deep[] = {{TARVIC_YUV422P10, PlaneLayout::yuv422, 10}, {TARVIC_YUV444P10, PlaneLayout::yuv444, 10},
                {TARVIC_GBRP10, PlaneLayout::gbr444, 10},    {TARVIC_GBRP16, PlaneLayout::gbr444, 16},
                {TARVIC_GBRAP16, PlaneLayout::gbra444, 16},  {TARVIC_GRAY16, PlaneLayout::grey, 16}};
    for (const auto& d : deep) {
        if (d.layout == layout) {
            form = {0, d.planes, d.bits};
            return true;
        }
    }
    return false;
}

bool form_of(tarvic_layout layout, Form& form)
{
    switch (layout) {
    case TARVIC_BGR24:
        form.bits_per_pixel = 24;
        return true;
    case TARVIC_BGRA32:
        form.bits_per_pixel = 32;
        return true;
    case TARVIC_YUV422P8:
        form.planes = PlaneLayout::yuv422;
        return true;
    case TARVIC_YUV444P8:
        form.planes = PlaneLayout::yuv444;
        return true;
    case TARVIC_YUVA444P8:
        form.planes = PlaneLayout::yuva444;
        return true;
    default:
        return deep_form_of(layout, form);
    }
}

// The caller's planes, as many as the shape has.
PlanePicture caller_planes(const PlaneShape& shape, void* const planes[], const std::ptrdiff_t strides[])
{
    PlanePicture picture;
    for (int p = 0; p < shape.count; ++p) {
        picture.plane[p] = static_cast<unsigned char*>(planes[p]);
        picture.stride[p] = strides[p];
    }
    return picture;
}

}  // namespace

extern "C" {

const char* tarvic_status_text(tarvic_status status) { return status_text(static_cast<Status>(status)); }

const char* tarvic_version(void) { return TARVIC_VERSION_STRING; }

size_t tarvic_bound(int width, int height, int bits_per_pixel)
{
    return tarvic_frame_bound(width, height, bits_per_pixel);
}

tarvic_status tarvic_encoder_create(int width, int height, int bits_per_pixel, unsigned flags,
                                    tarvic_encoder** encoder)
{
    if (encoder == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    *encoder = nullptr;
    if (tarvic_frame_bound(width, height, bits_per_pixel) == 0) {
        return TARVIC_BAD_SIZE;
    }
    tarvic_encoder* made = new (std::nothrow) tarvic_encoder;
    if (made == nullptr) {
        return TARVIC_NO_MEMORY;
    }
    // A 32-bit picture keeps its fourth byte: the library promises every byte
    // back.
    made->codec.keep_alpha = bits_per_pixel == 32;
    made->codec.detect_null_frames = (flags & TARVIC_NULL_FRAMES) != 0;
    const Status begun = made->codec.CompressBegin(width, height, bits_per_pixel);
    made->row_bytes = std::size_t(width) * std::size_t(bits_per_pixel / 8);
    made->rows = static_cast<unsigned char*>(std::malloc(made->row_bytes * std::size_t(height)));
    if (begun != Status::ok || made->rows == nullptr) {
        delete made;
        return begun != Status::ok ? from_status(begun) : TARVIC_NO_MEMORY;
    }
    *encoder = made;
    return TARVIC_OK;
}

void tarvic_encoder_destroy(tarvic_encoder* encoder) { delete encoder; }

tarvic_status tarvic_encode(tarvic_encoder* encoder, const void* picture, ptrdiff_t stride, void* coded,
                            size_t capacity, size_t* coded_size)
{
    if (coded_size != nullptr) {
        *coded_size = 0;
    }
    if (encoder == nullptr || picture == nullptr || coded == nullptr || coded_size == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    CodecInst& codec = encoder->codec;
    const std::size_t row_bytes = encoder->row_bytes;
    if (codec.shape.count != 0 || !usable_stride(stride, row_bytes, codec.height)) {
        return TARVIC_BAD_ARGUMENT;
    }
    if (capacity < tarvic_frame_bound(codec.width, codec.height, codec.bit_count)) {
        return TARVIC_SMALL_BUFFER;
    }
    const unsigned char* top = static_cast<const unsigned char*>(picture);
    const unsigned char* input;
    if (stride == -static_cast<std::ptrdiff_t>(row_bytes)) {
        input = top + std::ptrdiff_t(codec.height - 1) * stride;  // packed bottom-up already
    } else {
        to_packed(top, stride, encoder->rows, row_bytes, codec.height);
        input = encoder->rows;
    }
    ICCOMPRESS block;
    block.dwFlags = 0;
    block.dwSize = 0;
    block.lpInput = input;
    block.lpOutput = static_cast<unsigned char*>(coded);
    codec.CompressContinue(&block, 0);
    *coded_size = block.dwSize;
    return TARVIC_OK;
}

tarvic_status tarvic_decoder_create(int width, int height, int bits_per_pixel, tarvic_decoder** decoder)
{
    if (decoder == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    *decoder = nullptr;
    tarvic_decoder* made = new (std::nothrow) tarvic_decoder;
    if (made == nullptr) {
        return TARVIC_NO_MEMORY;
    }
    const Status begun = made->decoder.DecompressBegin(width, height, bits_per_pixel);
    if (begun != Status::ok) {
        delete made;
        return from_status(begun);
    }
    made->row_bytes = std::size_t(width) * std::size_t(bits_per_pixel / 8);
    made->last = static_cast<unsigned char*>(std::calloc(made->decoder.picture_bytes, 1));
    if (made->last == nullptr) {
        delete made;
        return TARVIC_NO_MEMORY;
    }
    *decoder = made;
    return TARVIC_OK;
}

void tarvic_decoder_destroy(tarvic_decoder* decoder) { delete decoder; }

tarvic_status tarvic_decode(tarvic_decoder* decoder, const void* coded, size_t coded_size, void* picture,
                            ptrdiff_t stride)
{
    if (decoder == nullptr || picture == nullptr || (coded == nullptr && coded_size != 0)) {
        return TARVIC_BAD_ARGUMENT;
    }
    if (decoder->decoder.shape.count != 0 || !usable_stride(stride, decoder->row_bytes, decoder->decoder.height)) {
        return TARVIC_BAD_ARGUMENT;
    }
    // The decoder writes the picture only when the whole frame decodes, and
    // leaves it as it was for a null frame.
    decoder->decoder.top_down = false;
    const Status status = decoder->decoder.Decompress(static_cast<const unsigned char*>(coded), coded_size,
                                                      decoder->last);
    from_packed(decoder->last, static_cast<unsigned char*>(picture), stride, decoder->row_bytes,
                decoder->decoder.height);
    return from_status(status);
}

tarvic_status tarvic_decode_over(tarvic_decoder* decoder, const void* coded, size_t coded_size, void* picture,
                                 ptrdiff_t stride)
{
    if (decoder == nullptr || picture == nullptr || (coded == nullptr && coded_size != 0)) {
        return TARVIC_BAD_ARGUMENT;
    }
    TarvicDecoder& frames = decoder->decoder;
    if (frames.shape.count != 0 || !usable_stride(stride, decoder->row_bytes, frames.height)) {
        return TARVIC_BAD_ARGUMENT;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(coded);
    unsigned char* top = static_cast<unsigned char*>(picture);
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(decoder->row_bytes);
    // The rows the frame layer lays itself, which it writes only when the
    // whole frame decodes.
    if (stride == -row || (stride == row && frames.bit_count == 24)) {
        frames.top_down = stride > 0;
        unsigned char* first = stride > 0 ? top : top + std::ptrdiff_t(frames.height - 1) * stride;
        return from_status(frames.Decompress(bytes, coded_size, first));
    }
    frames.top_down = false;
    const Status status = frames.Decompress(bytes, coded_size, decoder->last);
    if (status == Status::ok && coded_size != 0) {
        from_packed(decoder->last, top, stride, decoder->row_bytes, frames.height);
    }
    return from_status(status);
}

size_t tarvic_layout_bound(int width, int height, tarvic_layout layout)
{
    Form form;
    if (!form_of(layout, form)) {
        return 0;
    }
    return form.bits_per_pixel != 0 ? tarvic_frame_bound(width, height, form.bits_per_pixel)
                                    : tarvic_planes_bound(width, height, form.planes, form.bits);
}

tarvic_status tarvic_encoder_create_layout(int width, int height, tarvic_layout layout, unsigned flags,
                                           tarvic_encoder** encoder)
{
    if (encoder == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    *encoder = nullptr;
    Form form;
    if (!form_of(layout, form)) {
        return TARVIC_BAD_SIZE;
    }
    if (form.bits_per_pixel != 0) {
        return tarvic_encoder_create(width, height, form.bits_per_pixel, flags, encoder);
    }
    tarvic_encoder* made = new (std::nothrow) tarvic_encoder;
    if (made == nullptr) {
        return TARVIC_NO_MEMORY;
    }
    made->codec.detect_null_frames = (flags & TARVIC_NULL_FRAMES) != 0;
    const Status begun = made->codec.BeginPlanes(width, height, form.planes, form.bits);
    if (begun != Status::ok) {
        delete made;
        return from_status(begun);
    }
    *encoder = made;
    return TARVIC_OK;
}

tarvic_status tarvic_decoder_create_layout(int width, int height, tarvic_layout layout, tarvic_decoder** decoder)
{
    if (decoder == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    *decoder = nullptr;
    Form form;
    if (!form_of(layout, form)) {
        return TARVIC_BAD_SIZE;
    }
    if (form.bits_per_pixel != 0) {
        return tarvic_decoder_create(width, height, form.bits_per_pixel, decoder);
    }
    tarvic_decoder* made = new (std::nothrow) tarvic_decoder;
    if (made == nullptr) {
        return TARVIC_NO_MEMORY;
    }
    const Status begun = made->decoder.BeginPlanes(width, height, form.planes, form.bits);
    made->last = begun == Status::ok ? static_cast<unsigned char*>(std::malloc(made->decoder.picture_bytes)) : nullptr;
    if (made->last == nullptr) {
        delete made;
        return begun != Status::ok ? from_status(begun) : TARVIC_NO_MEMORY;
    }
    fill_layout_black(form.planes, made->decoder.shape, packed_picture(made->decoder.shape, made->last));
    *decoder = made;
    return TARVIC_OK;
}

tarvic_status tarvic_encode_planes(tarvic_encoder* encoder, const void* const planes[], const ptrdiff_t strides[],
                                   void* coded, size_t capacity, size_t* coded_size)
{
    if (coded_size != nullptr) {
        *coded_size = 0;
    }
    if (encoder == nullptr || planes == nullptr || strides == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    CodecInst& codec = encoder->codec;
    if (codec.shape.count == 0) {
        return tarvic_encode(encoder, planes[0], strides[0], coded, capacity, coded_size);
    }
    // The codec only reads the planes.
    const PlanePicture picture = caller_planes(codec.shape, const_cast<void* const*>(planes), strides);
    if (coded == nullptr || coded_size == nullptr || !usable_picture(codec.shape, picture)) {
        return TARVIC_BAD_ARGUMENT;
    }
    if (capacity < tarvic_planes_bound(codec.width, codec.height, codec.layout, codec.shape.bits)) {
        return TARVIC_SMALL_BUFFER;
    }
    return from_status(codec.CompressPlanes(picture, static_cast<unsigned char*>(coded), *coded_size));
}

tarvic_status tarvic_decode_planes(tarvic_decoder* decoder, const void* coded, size_t coded_size, void* const planes[],
                                   const ptrdiff_t strides[])
{
    if (decoder == nullptr || planes == nullptr || strides == nullptr) {
        return TARVIC_BAD_ARGUMENT;
    }
    TarvicDecoder& frames = decoder->decoder;
    if (frames.shape.count == 0) {
        return tarvic_decode(decoder, coded, coded_size, planes[0], strides[0]);
    }
    const PlanePicture picture = caller_planes(frames.shape, planes, strides);
    if ((coded == nullptr && coded_size != 0) || !usable_picture(frames.shape, picture)) {
        return TARVIC_BAD_ARGUMENT;
    }
    const PlanePicture last = packed_picture(frames.shape, decoder->last);
    const Status status = frames.DecompressPlanes(static_cast<const unsigned char*>(coded), coded_size, last);
    copy_planes(frames.shape, last, picture);
    return from_status(status);
}

}  // extern "C"
