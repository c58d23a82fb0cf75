// Writes frames of deep content to standard output, as ffmpeg's raw video of
// a planar pixel format of 10- or 16-bit samples (bench/deep_formats.h):
//   deep_pictures W H frames pix_fmt |
//     ffmpeg -f rawvideo -pix_fmt gbrp16le -s WxH -r 25 -i - -c:v rawvideo -pix_fmt rgb48be movie.mov
// (-c:v v210 with yuv422p10le for a "v210" movie.) pix_fmt is one of
// yuv422p10le, yuv444p10le, gbrp10le, gbrp16le, gbrap16le, gray16le.
// Each frame is smooth gradients, computed in floating point and moving a
// little from frame to frame, R, G and B moving together as in natural
// pictures, plus noise of its own in every sample and every plane (about 2
// steps at 10 bits, 6 bits' worth at 16), so that every bit of a sample
// carries something: not an 8-bit picture widened.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "deep_formats.h"

namespace {

constexpr double two_pi = 6.283185307179586;

// A generator of its own, so that the frames are the same on every machine.
struct Noise {
    std::uint64_t state;
    double uniform()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return double((state * 0x2545F4914F6CDD1Dull) >> 11) / 9007199254740992.0;
    }
    // Triangular in (-amplitude, amplitude): the sum of two uniforms.
    double next(double amplitude) { return (uniform() + uniform() - 1) * amplitude; }
};

// The picture's brightness at (u, v) in [0, 1)^2 and time t, in [0, 1].
double light(double u, double v, double t)
{
    return 0.5 + 0.3 * std::sin(two_pi * (1.3 * u + 0.011 * t)) * std::cos(two_pi * (0.9 * v - 0.007 * t)) +
           0.12 * (u - v) * std::cos(two_pi * 0.003 * t);
}

// Plane p's value in [0, 1] at (u, v), t: the brightness, and beside it
// the colour's slow drift (B and R about G, or Cb and Cr about grey).
double plane_value(const bench::DeepFormat& format, int p, double u, double v, double t)
{
    const double l = light(u, v, t);
    const double tint = 0.08 * std::sin(two_pi * (0.7 * u + 0.4 * v + 0.005 * t));
    const double shade = 0.06 * std::cos(two_pi * (1.1 * v - 0.3 * u + 0.004 * t));
    if (p == 3) {
        return 0.5 + 0.5 * std::sin(two_pi * (0.5 * u + 0.002 * t)) * std::cos(two_pi * 0.6 * v);
    }
    if (bench::rgb_layout(format.layout)) {
        return p == 0 ? l : p == 1 ? l - shade : l + tint;
    }
    if (p == 0) {
        return l;
    }
    return 0.5 + (p == 1 ? tint - 0.5 * shade : shade - 0.5 * tint);
}

// Where [0, 1] lies in a plane's samples: video range for Y'CbCr.
void plane_range(const bench::DeepFormat& format, int p, double& low, double& span)
{
    const double scale = double(1u << (format.bits - 8));
    const bool video = !bench::rgb_layout(format.layout) && format.layout != PlaneLayout::grey && p < 3;
    low = video ? 16 * scale : 0;
    span = video ? (p == 0 ? 219 : 224) * scale : double((1u << format.bits) - 1);
}

}  // namespace

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
    const double amplitude = format->bits <= 10 ? 2.0 : double(1u << (format->bits - 11));
    const double top = double((1u << format->bits) - 1);
    Noise noise[4] = {{0x9E3779B97F4A7C15ull}, {0xD1B54A32D192ED03ull}, {0x8CB92BA72F3D8DD7ull},
                      {0xF1357AEA2E62A9C5ull}};
    std::vector<std::uint16_t> plane;
    for (long t = 0; t < frames; ++t) {
        for (int p = 0; p < shape.count; ++p) {
            const int w = shape.width[p];
            const int step = w < width ? 2 : 1;  // the chroma of 4:2:2
            double low = 0, span = 0;
            plane_range(*format, p, low, span);
            plane.assign(std::size_t(w) * std::size_t(height), 0);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < w; ++x) {
                    const double value = plane_value(*format, p, double(x * step) / width, double(y) / height, double(t));
                    const double sample = std::round(low + span * value + noise[p].next(amplitude));
                    const std::uint16_t s = static_cast<std::uint16_t>(sample < 0 ? 0 : sample > top ? top : sample);
                    // Little-endian whatever the host.
                    const unsigned char le[2] = {static_cast<unsigned char>(s), static_cast<unsigned char>(s >> 8)};
                    std::memcpy(&plane[std::size_t(y) * std::size_t(w) + std::size_t(x)], le, 2);
                }
            }
            if (std::fwrite(plane.data(), 2, plane.size(), stdout) != plane.size()) {
                std::fprintf(stderr, "deep_pictures: cannot write the frames\n");
                return 1;
            }
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
