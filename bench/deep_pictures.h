// Deep content for the benchmarks: frames of a planar format of 10- or
// 16-bit samples (deep_formats.h), smooth gradients computed in floating
// point and moving a little from frame to frame, R, G and B moving together
// as in natural pictures, plus noise of its own in every sample and every
// plane (about 2 steps at 10 bits, 6 bits' worth at 16), so that every bit
// of a sample carries something: not an 8-bit picture widened.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deep_formats.h"

namespace bench {

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
inline double light(double u, double v, double t)
{
    return 0.5 + 0.3 * std::sin(two_pi * (1.3 * u + 0.011 * t)) * std::cos(two_pi * (0.9 * v - 0.007 * t)) +
           0.12 * (u - v) * std::cos(two_pi * 0.003 * t);
}

// Plane p's value in [0, 1] at (u, v), t: the brightness, and beside it
// the colour's slow drift (B and R about G, or Cb and Cr about grey).
inline double plane_value(const DeepFormat& format, int p, double u, double v, double t)
{
    const double l = light(u, v, t);
    const double tint = 0.08 * std::sin(two_pi * (0.7 * u + 0.4 * v + 0.005 * t));
    const double shade = 0.06 * std::cos(two_pi * (1.1 * v - 0.3 * u + 0.004 * t));
    if (p == 3) {
        return 0.5 + 0.5 * std::sin(two_pi * (0.5 * u + 0.002 * t)) * std::cos(two_pi * 0.6 * v);
    }
    if (rgb_layout(format.layout)) {
        return p == 0 ? l : p == 1 ? l - shade : l + tint;
    }
    if (p == 0) {
        return l;
    }
    return 0.5 + (p == 1 ? tint - 0.5 * shade : shade - 0.5 * tint);
}

// Where [0, 1] lies in a plane's samples: video range for Y'CbCr.
inline void plane_range(const DeepFormat& format, int p, double& low, double& span)
{
    const double scale = double(1u << (format.bits - 8));
    const bool video = !rgb_layout(format.layout) && format.layout != PlaneLayout::grey && p < 3;
    low = video ? 16 * scale : 0;
    span = video ? (p == 0 ? 219 : 224) * scale : double((1u << format.bits) - 1);
}

// A generator for each plane, each of its own.
struct DeepNoise {
    Noise plane[4] = {{0x9E3779B97F4A7C15ull}, {0xD1B54A32D192ED03ull}, {0x8CB92BA72F3D8DD7ull},
                      {0xF1357AEA2E62A9C5ull}};
};

// Frame t of a shape's planes, packed one after another, each sample a
// little-endian word whatever the host.
inline void deep_frame(const DeepFormat& format, const PlaneShape& shape, long t, DeepNoise& noise,
                       std::vector<std::uint16_t>& planes)
{
    const double amplitude = format.bits <= 10 ? 2.0 : double(1u << (format.bits - 11));
    const double top = double((1u << format.bits) - 1);
    const int width = shape.width[0];
    planes.resize(planes_bytes(shape) / 2);
    std::uint16_t* at = planes.data();
    for (int p = 0; p < shape.count; ++p) {
        const int w = shape.width[p];
        const int step = w < width ? 2 : 1;  // the chroma of 4:2:2
        double low = 0, span = 0;
        plane_range(format, p, low, span);
        for (int y = 0; y < shape.height; ++y) {
            for (int x = 0; x < w; ++x, ++at) {
                const double u = double(x * step) / width;
                const double value = plane_value(format, p, u, double(y) / shape.height, double(t));
                const double sample = std::round(low + span * value + noise.plane[p].next(amplitude));
                const std::uint16_t s = static_cast<std::uint16_t>(sample < 0 ? 0 : sample > top ? top : sample);
                const unsigned char le[2] = {static_cast<unsigned char>(s), static_cast<unsigned char>(s >> 8)};
                std::memcpy(at, le, 2);
            }
        }
    }
}

}  // namespace bench
