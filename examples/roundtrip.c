/* Codes a few pictures it makes with libtarvic and decodes them back, in
 * both pixel sizes and with the rows laid out top-down and bottom-up.
 * Exits 0 only when every byte comes back.
 *
 *   cc roundtrip.c $(pkg-config --cflags --libs tarvic) -o roundtrip
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tarvic.h>

enum { WIDTH = 67, HEIGHT = 41, FRAMES = 4 };

/* A picture that changes from frame to frame; frame 2 repeats frame 1, so
 * that it is coded as a null frame. */
static void make_picture(unsigned char* picture, int bytes_per_pixel, int frame)
{
    const int shown = frame == 2 ? 1 : frame;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            unsigned char* pixel = picture + ((size_t)y * WIDTH + (size_t)x) * (size_t)bytes_per_pixel;
            pixel[0] = (unsigned char)(x * 3 + shown * 17);
            pixel[1] = (unsigned char)(y * 5 + x);
            pixel[2] = (unsigned char)((x ^ y) + shown);
            if (bytes_per_pixel == 4) {
                pixel[3] = (unsigned char)(255 - y * shown);
            }
        }
    }
}

static int check(tarvic_status status, const char* what)
{
    if (status != TARVIC_OK) {
        fprintf(stderr, "%s: %s\n", what, tarvic_status_text(status));
        return 0;
    }
    return 1;
}

/* One stream of FRAMES pictures; bottom_up chooses how the rows are laid
 * out in memory. */
static int round_trip(int bits_per_pixel, int bottom_up)
{
    const int bytes_per_pixel = bits_per_pixel / 8;
    const ptrdiff_t row = (ptrdiff_t)WIDTH * bytes_per_pixel;
    const size_t picture_size = (size_t)row * HEIGHT;
    const size_t bound = tarvic_bound(WIDTH, HEIGHT, bits_per_pixel);
    unsigned char* picture = malloc(picture_size);
    unsigned char* decoded = malloc(picture_size);
    unsigned char* coded = malloc(bound);
    tarvic_encoder* encoder = NULL;
    tarvic_decoder* decoder = NULL;
    int ok = picture != NULL && decoded != NULL && coded != NULL && bound > 0 &&
             check(tarvic_encoder_create(WIDTH, HEIGHT, bits_per_pixel, TARVIC_NULL_FRAMES, &encoder), "encoder") &&
             check(tarvic_decoder_create(WIDTH, HEIGHT, bits_per_pixel, &decoder), "decoder");
    /* The picture is made top-down; bottom-up, its top row is its last. */
    const ptrdiff_t stride = bottom_up ? -row : row;
    const ptrdiff_t top = bottom_up ? row * (HEIGHT - 1) : 0;
    for (int frame = 0; ok && frame < FRAMES; ++frame) {
        size_t coded_size = 0;
        make_picture(picture, bytes_per_pixel, frame);
        ok = check(tarvic_encode(encoder, picture + top, stride, coded, bound, &coded_size), "encode") &&
             check(tarvic_decode(decoder, coded, coded_size, decoded + top, stride), "decode");
        if (ok && memcmp(picture, decoded, picture_size) != 0) {
            fprintf(stderr, "%d-bit frame %d does not come back\n", bits_per_pixel, frame);
            ok = 0;
        }
        if (ok && (frame == 2) != (coded_size == 0)) {
            fprintf(stderr, "%d-bit frame %d: %zu coded bytes\n", bits_per_pixel, frame, coded_size);
            ok = 0;
        }
    }
    tarvic_encoder_destroy(encoder);
    tarvic_decoder_destroy(decoder);
    free(picture);
    free(decoded);
    free(coded);
    return ok;
}

int main(void)
{
    const int ok = round_trip(24, 0) && round_trip(24, 1) && round_trip(32, 0) && round_trip(32, 1);
    printf("libtarvic %s: %s\n", tarvic_version(), ok ? "every picture came back" : "FAILED");
    return ok ? 0 : 1;
}
