// The order-0 entropy of the residual planes that the codec codes: reads
// top-down bgr24 frames of width x height from standard input, turns each
// into the codec's bottom-up picture, predicts it as a frame is predicted
// before coding, and prints the entropy of each plane over all frames and
// the compression ratio that an ideal order-0 coder would reach on them.
//   ffmpeg -i movie -f rawvideo -pix_fmt bgr24 - | residual_entropy W H
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/predict.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: residual_entropy <width> <height> < frames.bgr24\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "residual_entropy: bad picture size\n");
        return 2;
    }
    const std::size_t row = std::size_t(width) * 3;
    const std::size_t bytes = row * std::size_t(height);
    std::vector<unsigned char> top_down(bytes);
    std::vector<unsigned char> picture(bytes);
    std::vector<unsigned char> sources(bytes);
    std::vector<unsigned char> residuals(bytes);
    std::vector<std::uint64_t> counts(3 * 256, 0);
    std::uint64_t frames = 0;
    while (std::fread(top_down.data(), 1, bytes, stdin) == bytes) {
        for (int y = 0; y < height; ++y) {
            std::memcpy(&picture[std::size_t(height - 1 - y) * row], &top_down[std::size_t(y) * row], row);
        }
        DeEntropyPlanes(picture.data(), PixelOrder::frame, sources.data(), residuals.data(), width, height);
        const std::size_t n = bytes / 3;
        for (std::size_t i = 0; i < bytes; ++i) {
            ++counts[i / n * 256 + residuals[i]];
        }
        ++frames;
    }
    if (frames == 0) {
        std::fprintf(stderr, "residual_entropy: no frames\n");
        return 1;
    }
    const double samples = double(frames) * double(width) * double(height);
    double sum = 0;
    std::printf("%llu frames, planes", static_cast<unsigned long long>(frames));
    for (int plane = 0; plane < 3; ++plane) {
        double h = 0;
        for (int v = 0; v < 256; ++v) {
            const double p = double(counts[std::size_t(plane) * 256 + std::size_t(v)]) / samples;
            if (p > 0) {
                h -= p * std::log2(p);
            }
        }
        std::printf(" %.3f", h);
        sum += h;
    }
    std::printf(" bits/byte, ratio floor %.4f\n", sum / 24.0);
    return 0;
}
