// Writes frames of deep content (deep_pictures.h) to standard output, as
// ffmpeg's raw video of a planar pixel format of 10- or 16-bit samples:
//   deep_pictures W H frames pix_fmt |
//     ffmpeg -f rawvideo -pix_fmt gbrp16le -s WxH -r 25 -i - -c:v rawvideo -pix_fmt rgb48be movie.mov
// (-c:v v210 with yuv422p10le for a "v210" movie.) pix_fmt is one of
// yuv422p10le, yuv444p10le, gbrp10le, gbrp16le, gbrap16le, gray16le.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "deep_pictures.h"

int main(int argc, char** argv)
{
    const bench::DeepFormat* format = argc == 5 ? bench::deep_format(argv[4]) : nullptr;
    const int width = argc == 5 ? std::atoi(argv[1]) : 0;
    const int height = argc == 5 ? std::atoi(argv[2]) : 0;
    const long frames = argc == 5 ? std::atol(argv[3]) : 0;
    const PlaneShape shape = format != nullptr ? plane_shape(format->layout, width, height, format->bits) : PlaneShape{};
    if (shape.count == 0 || frames <= 0) {
        std::fprintf(stderr, "usage: deep_pictures <width> <height> <frames> "
                             "<yuv422p10le|yuv444p10le|gbrp10le|gbrp16le|gbrap16le|gray16le>\n");
        return 2;
    }
    bench::DeepNoise noise;
    std::vector<std::uint16_t> planes;
    for (long t = 0; t < frames; ++t) {
        bench::deep_frame(*format, shape, t, noise, planes);
        if (std::fwrite(planes.data(), 2, planes.size(), stdout) != planes.size()) {
            std::fprintf(stderr, "deep_pictures: cannot write the frames\n");
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
