/* A video decoder module for VLC 3: plays the Tarvic streams of AVI files
 * (compression code "TRVC") through libtarvic: RGB pictures of 24 or 32 bits
 * a pixel, and pictures in planes (Y'CbCr of 8 and 10 bits, RGB of 10 and 16
 * bits, grey of 16), which a 16-byte record after the stream's bitmap header
 * announces.
 *
 * VLC's AVI reader hands each frame chunk over as one block, with the
 * picture size and the bits per pixel from the stream's bitmap header, and
 * the bytes of the format chunk past the bitmap header as extra data. A
 * block of 0 bytes is a null frame and shows the picture before it again; a
 * damaged frame is reported and shows the last picture that decoded, so that
 * playback goes on at the right time. */
#define MODULE_STRING "tarvic"
/* Texts are not translated. */
#define N_(text) text

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vlc_common.h>
#include <vlc_plugin.h>
#include <vlc_codec.h>

#include "tarvic.h"

static int OpenDecoder(vlc_object_t* object);
static void CloseDecoder(vlc_object_t* object);

vlc_module_begin()
    set_shortname("Tarvic")
    set_description(N_("Tarvic lossless video decoder"))
    set_category(CAT_INPUT)
    set_subcategory(SUBCAT_INPUT_VCODEC)
    set_capability("video decoder", 100)
    set_callbacks(OpenDecoder, CloseDecoder)
vlc_module_end()

/* VLC's pictures of 10- and 16-bit planes hold each sample in a 16-bit word
 * in the host's order, as the library gives them. */
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define HOST_CODEC(little, big) (big)
#else
#define HOST_CODEC(little, big) (little)
#endif
#define I422_10 HOST_CODEC(VLC_CODEC_I422_10L, VLC_CODEC_I422_10B)
#define I444_10 HOST_CODEC(VLC_CODEC_I444_10L, VLC_CODEC_I444_10B)
#define GBR_10 HOST_CODEC(VLC_CODEC_GBR_PLANAR_10L, VLC_CODEC_GBR_PLANAR_10B)
#define GBR_16 HOST_CODEC(VLC_CODEC_GBR_PLANAR_16L, VLC_CODEC_GBR_PLANAR_16B)
#define GREY_16 HOST_CODEC(VLC_CODEC_GREY_16L, VLC_CODEC_GREY_16B)

/* The layouts a record can announce: its plane layout number, the bits of a
 * sample and the compression code of the stream's uncompressed form; the
 * library's layout, and the planes of VLC's picture format for it, in the
 * library's order (Y, U, V, then A; G, B, R; grey). A layout that VLC has no
 * picture format of planes for is decoded into planes of the plug-in's own,
 * which `convert` turns into the picture. 16-bit G, B, R and alpha is shown
 * as VLC's 16-bit RGBA, packed, which keeps every bit of every sample. */
struct plane_format {
    unsigned char number;
    unsigned char bits;
    char form[4];
    tarvic_layout layout;
    vlc_fourcc_t chroma;
    int planes;
    void (*convert)(const uint16_t* planes, int width, int height, picture_t* picture);
};

static void ConvertRgba64(const uint16_t* planes, int width, int height, picture_t* picture);

static const struct plane_format plane_formats[] = {
    {1, 8, {'U', 'Y', 'V', 'Y'}, TARVIC_YUV422P8, VLC_CODEC_I422, 3, NULL},
    {1, 8, {'Y', 'U', 'Y', '2'}, TARVIC_YUV422P8, VLC_CODEC_I422, 3, NULL},
    {2, 8, {'v', '3', '0', '8'}, TARVIC_YUV444P8, VLC_CODEC_I444, 3, NULL},
    {3, 8, {'v', '4', '0', '8'}, TARVIC_YUVA444P8, VLC_CODEC_YUVA, 4, NULL},
    {1, 10, {'v', '2', '1', '0'}, TARVIC_YUV422P10, I422_10, 3, NULL},
    {2, 10, {'v', '4', '1', '0'}, TARVIC_YUV444P10, I444_10, 3, NULL},
    {4, 10, {'r', '2', '1', '0'}, TARVIC_GBRP10, GBR_10, 3, NULL},
    {4, 10, {'R', '1', '0', 'k'}, TARVIC_GBRP10, GBR_10, 3, NULL},
    {4, 10, {'A', 'V', 'r', 'p'}, TARVIC_GBRP10, GBR_10, 3, NULL},
    {4, 16, {'b', '4', '8', 'r'}, TARVIC_GBRP16, GBR_16, 3, NULL},
    {5, 16, {'b', '6', '4', 'a'}, TARVIC_GBRAP16, VLC_CODEC_RGBA64, 4, ConvertRgba64},
    {6, 16, {'b', '1', '6', 'g'}, TARVIC_GRAY16, GREY_16, 1, NULL},
};
#define RECORD_SIZE 16

struct decoder_sys_t {
    tarvic_decoder* tarvic;
    const struct plane_format* format; /* of a picture in planes; null for packed RGB */
    uint16_t* planes;                  /* the decoded planes of a layout that VLC shows converted */
    int width;
    int height;
};

/* G, B, R and alpha planes into one of packed pixels R, G, B, A, each
 * sample a word in the host's order. */
static void ConvertRgba64(const uint16_t* planes, int width, int height, picture_t* picture)
{
    const size_t plane = (size_t)width * (size_t)height;
    for (int y = 0; y < height; ++y) {
        const uint16_t* g = planes + (size_t)y * (size_t)width;
        uint16_t* out = (uint16_t*)(picture->p[0].p_pixels + (ptrdiff_t)y * picture->p[0].i_pitch);
        for (int x = 0; x < width; ++x) {
            out[4 * x] = g[x + 2 * plane];
            out[4 * x + 1] = g[x];
            out[4 * x + 2] = g[x + plane];
            out[4 * x + 3] = g[x + 3 * plane];
        }
    }
}

/* Decodes a block into the picture: packed RGB in the first plane, or the
 * planes each at its own pitch, straight or through the plug-in's planes. */
static tarvic_status DecodeInto(struct decoder_sys_t* sys, const block_t* block, picture_t* picture)
{
    if (sys->format == NULL) {
        return tarvic_decode(sys->tarvic, block->p_buffer, block->i_buffer, picture->p[0].p_pixels,
                             picture->p[0].i_pitch);
    }
    void* planes[4] = {NULL, NULL, NULL, NULL};
    ptrdiff_t strides[4] = {0, 0, 0, 0};
    const int width = sys->width;
    const int height = sys->height;
    if (sys->planes != NULL && (ptrdiff_t)picture->p[0].i_pitch < (ptrdiff_t)width * 8) {
        return TARVIC_BAD_ARGUMENT; /* packed rows of four 16-bit samples a pixel do not fit */
    }
    for (int p = 0; p < sys->format->planes; ++p) {
        if (sys->planes != NULL) {
            planes[p] = sys->planes + (size_t)p * (size_t)width * (size_t)height;
            strides[p] = (ptrdiff_t)width * 2;
        } else {
            planes[p] = picture->p[p].p_pixels;
            strides[p] = picture->p[p].i_pitch;
        }
    }
    const tarvic_status status = tarvic_decode_planes(sys->tarvic, block->p_buffer, block->i_buffer, planes, strides);
    if (sys->planes != NULL && status != TARVIC_BAD_ARGUMENT) {
        sys->format->convert(sys->planes, width, height, picture);
    }
    return status;
}

static int DecodeVideo(decoder_t* dec, block_t* block)
{
    if (block == NULL) {
        return VLCDEC_SUCCESS; /* nothing held back to drain */
    }
    picture_t* picture = NULL;
    if (decoder_UpdateVideoFormat(dec) == 0) {
        picture = decoder_NewPicture(dec);
    }
    if (picture == NULL) {
        block_Release(block);
        return VLCDEC_SUCCESS;
    }
    /* VLC's pictures are top row first with rows `pitch` bytes apart. */
    const tarvic_status status = DecodeInto(dec->p_sys, block, picture);
    if (status == TARVIC_BAD_ARGUMENT) {
        msg_Err(dec, "cannot decode into a picture of %d bytes a row", picture->p[0].i_pitch);
        picture_Release(picture);
        block_Release(block);
        return VLCDEC_SUCCESS;
    }
    if (status != TARVIC_OK) {
        msg_Err(dec, "a damaged frame of %zu bytes (%s); the last good picture stands in for it", block->i_buffer,
                tarvic_status_text(status));
    }
    picture->date = block->i_pts > VLC_TS_INVALID ? block->i_pts : block->i_dts;
    picture->b_progressive = true;
    block_Release(block);
    decoder_QueueVideo(dec, picture);
    return VLCDEC_SUCCESS;
}

/* The stream's record: "TRVL", the compression code of the uncompressed
 * form, the movie's data format, the plane layout number, the bits of a
 * sample and two zero bytes, in the extra data right after the bitmap
 * header. Sets *format to null where the extra data holds no record (an RGB
 * stream); fails for a record that names no layout the plug-in shows. */
static int ReadRecord(decoder_t* dec, const struct plane_format** format)
{
    *format = NULL;
    const unsigned char* record = dec->fmt_in.p_extra;
    const size_t size = dec->fmt_in.i_extra;
    if (record == NULL || size < 4 || memcmp(record, "TRVL", 4) != 0) {
        return VLC_SUCCESS;
    }
    if (size >= RECORD_SIZE && record[14] == 0 && record[15] == 0) {
        for (size_t i = 0; i < sizeof plane_formats / sizeof plane_formats[0]; ++i) {
            if (plane_formats[i].number == record[12] && plane_formats[i].bits == record[13] &&
                memcmp(plane_formats[i].form, record + 4, 4) == 0) {
                *format = &plane_formats[i];
                return VLC_SUCCESS;
            }
        }
    }
    if (size < RECORD_SIZE) {
        msg_Err(dec, "cannot decode Tarvic planes: the stream's record is %zu bytes, not %d", size, RECORD_SIZE);
    } else {
        msg_Err(dec, "cannot decode Tarvic planes of layout %u with %u bits a sample, stored as \"%.4s\" (reserved "
                "bytes %u %u)", record[12], record[13], (const char*)record + 4, record[14], record[15]);
    }
    return VLC_EGENERIC;
}

/* Describes the decoder's pictures: VLC's format of the stream's pixels, at
 * the stream's size, rate and aspect. */
static void DescribePictures(decoder_t* dec, const struct plane_format* planes, unsigned bits)
{
    const video_format_t* in = &dec->fmt_in.video;
    /* Pixels are blue, green, red (and alpha) in memory. VLC takes the masks
     * of a 24-bit picture as if its three bytes were one number with the
     * first byte highest, so blue's mask is 0xff0000: the way VLC's own AVI
     * reader describes plain 24-bit frames, and what keeps the colours when
     * VLC converts the pictures to another format. */
    vlc_fourcc_t chroma = bits == 32 ? VLC_CODEC_BGRA : VLC_CODEC_RGB24;
    if (planes != NULL) {
        chroma = planes->chroma;
    }
    video_format_t* out = &dec->fmt_out.video;
    dec->fmt_out.i_codec = chroma;
    out->i_chroma = chroma;
    out->i_width = out->i_visible_width = in->i_width;
    out->i_height = out->i_visible_height = in->i_height;
    out->i_x_offset = out->i_y_offset = 0;
    out->i_sar_num = in->i_sar_num != 0 ? in->i_sar_num : 1;
    out->i_sar_den = in->i_sar_den != 0 ? in->i_sar_den : 1;
    out->i_frame_rate = in->i_frame_rate;
    out->i_frame_rate_base = in->i_frame_rate_base;
    out->orientation = ORIENT_NORMAL;
    if (planes != NULL) {
        /* The samples as the movie holds them: whatever the stream says of
         * their colours goes with them, as with VLC's own uncompressed
         * frames of planes. */
        out->primaries = in->primaries;
        out->transfer = in->transfer;
        out->space = in->space;
        out->b_color_range_full = in->b_color_range_full;
        out->chroma_location = in->chroma_location;
    } else if (bits == 24) {
        out->i_rmask = 0x0000ff;
        out->i_gmask = 0x00ff00;
        out->i_bmask = 0xff0000;
    }
}

/* Creates the library's decoder for the stream, and the planes of a layout
 * that the plug-in converts, memory that every frame then reuses. */
static int CreateDecoder(decoder_t* dec, struct decoder_sys_t* sys, unsigned bits)
{
    const tarvic_layout layout = sys->format != NULL ? sys->format->layout
                                 : bits == 32        ? TARVIC_BGRA32
                                                     : TARVIC_BGR24;
    const tarvic_status created = tarvic_decoder_create_layout(sys->width, sys->height, layout, &sys->tarvic);
    if (created != TARVIC_OK) {
        msg_Err(dec, "cannot decode Tarvic pictures of %dx%d: %s", sys->width, sys->height,
                tarvic_status_text(created));
        return created == TARVIC_NO_MEMORY ? VLC_ENOMEM : VLC_EGENERIC;
    }
    sys->planes = NULL;
    if (sys->format != NULL && sys->format->convert != NULL) {
        sys->planes = calloc((size_t)sys->width * (size_t)sys->height, sizeof(uint16_t) * (size_t)sys->format->planes);
        if (sys->planes == NULL) {
            tarvic_decoder_destroy(sys->tarvic);
            return VLC_ENOMEM;
        }
    }
    return VLC_SUCCESS;
}

static int OpenDecoder(vlc_object_t* object)
{
    decoder_t* dec = (decoder_t*)object;
    if (dec->fmt_in.i_codec != VLC_FOURCC('T', 'R', 'V', 'C')) {
        return VLC_EGENERIC;
    }
    const struct plane_format* planes = NULL;
    if (ReadRecord(dec, &planes) != VLC_SUCCESS) {
        return VLC_EGENERIC;
    }
    const video_format_t* in = &dec->fmt_in.video;
    const unsigned bits = in->i_bits_per_pixel;
    if (in->i_width == 0 || in->i_height == 0 || in->i_width > INT_MAX || in->i_height > INT_MAX ||
        (planes == NULL && bits != 24 && bits != 32)) {
        msg_Err(dec, "cannot decode Tarvic pictures of %ux%u with %u bits a pixel", in->i_width, in->i_height, bits);
        return VLC_EGENERIC;
    }
    struct decoder_sys_t* sys = malloc(sizeof *sys);
    if (sys == NULL) {
        return VLC_ENOMEM;
    }
    sys->format = planes;
    sys->width = (int)in->i_width;
    sys->height = (int)in->i_height;
    const int created = CreateDecoder(dec, sys, bits);
    if (created != VLC_SUCCESS) {
        free(sys);
        return created;
    }
    dec->p_sys = sys;
    DescribePictures(dec, planes, bits);
    dec->pf_decode = DecodeVideo;
    return VLC_SUCCESS;
}

static void CloseDecoder(vlc_object_t* object)
{
    decoder_t* dec = (decoder_t*)object;
    tarvic_decoder_destroy(dec->p_sys->tarvic);
    free(dec->p_sys->planes);
    free(dec->p_sys);
}
