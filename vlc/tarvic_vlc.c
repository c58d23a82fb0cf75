/* A video decoder module for VLC 3: plays the Tarvic streams of AVI files
 * (compression code "TRVC", 24 or 32 bits a pixel) through libtarvic.
 *
 * VLC's AVI reader hands each frame chunk over as one block, with the
 * picture size and the bits per pixel from the stream's bitmap header. A
 * block of 0 bytes is a null frame and shows the picture before it again; a
 * damaged frame is reported and shows the last picture that decoded, so that
 * playback goes on at the right time. */
#define MODULE_STRING "tarvic"
/* Texts are not translated. */
#define N_(text) text

#include <limits.h>
#include <stdlib.h>

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

struct decoder_sys_t {
    tarvic_decoder* tarvic;
};

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
    const tarvic_status status = tarvic_decode(dec->p_sys->tarvic, block->p_buffer, block->i_buffer,
                                               picture->p[0].p_pixels, picture->p[0].i_pitch);
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

static int OpenDecoder(vlc_object_t* object)
{
    decoder_t* dec = (decoder_t*)object;
    if (dec->fmt_in.i_codec != VLC_FOURCC('T', 'R', 'V', 'C')) {
        return VLC_EGENERIC;
    }
    const video_format_t* in = &dec->fmt_in.video;
    const unsigned bits = in->i_bits_per_pixel;
    if (in->i_width == 0 || in->i_height == 0 || in->i_width > INT_MAX || in->i_height > INT_MAX ||
        (bits != 24 && bits != 32)) {
        msg_Err(dec, "cannot decode Tarvic pictures of %ux%u with %u bits a pixel", in->i_width, in->i_height, bits);
        return VLC_EGENERIC;
    }
    struct decoder_sys_t* sys = malloc(sizeof *sys);
    if (sys == NULL) {
        return VLC_ENOMEM;
    }
    const tarvic_status created = tarvic_decoder_create((int)in->i_width, (int)in->i_height, (int)bits, &sys->tarvic);
    if (created != TARVIC_OK) {
        msg_Err(dec, "cannot decode Tarvic pictures of %ux%u: %s", in->i_width, in->i_height,
                tarvic_status_text(created));
        free(sys);
        return created == TARVIC_NO_MEMORY ? VLC_ENOMEM : VLC_EGENERIC;
    }
    dec->p_sys = sys;

    /* Pixels are blue, green, red (and alpha) in memory. VLC takes the masks
     * of a 24-bit picture as if its three bytes were one number with the
     * first byte highest, so blue's mask is 0xff0000: the way VLC's own AVI
     * reader describes plain 24-bit frames, and what keeps the colours when
     * VLC converts the pictures to another format. */
    const vlc_fourcc_t chroma = bits == 32 ? VLC_CODEC_BGRA : VLC_CODEC_RGB24;
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
    if (bits == 24) {
        out->i_rmask = 0x0000ff;
        out->i_gmask = 0x00ff00;
        out->i_bmask = 0xff0000;
    }
    dec->pf_decode = DecodeVideo;
    return VLC_SUCCESS;
}

static void CloseDecoder(vlc_object_t* object)
{
    decoder_t* dec = (decoder_t*)object;
    tarvic_decoder_destroy(dec->p_sys->tarvic);
    free(dec->p_sys);
}
