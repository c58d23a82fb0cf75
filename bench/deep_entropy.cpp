// The order-0 entropy of the residuals that the codec codes for pictures of
// 9- to 16-bit planes: reads frames of a planar pixel format
// (bench/deep_formats.h) from standard input, predicts every plane as a
// frame is predicted before coding, and prints, per plane over all frames,
// the entropy of the folded residuals as whole 16-bit symbols and of the
// low- and high-byte channels the codec codes them as, then the ratio that
// an ideal order-0 coder of the channels (and of whole symbols) would reach,
// to 16-bit samples, and the bits a pixel it would take:
//   ffmpeg -i movie -f rawvideo -pix_fmt gbrp16le - | deep_entropy W H gbrp16le
// With -g after the format, B and R are first taken minus G (modulo 2^bits),
// to show what decorrelating RGB planes would give.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/deep_filter.h"
#include "deep_formats.h"

namespace {

double entropy(const std::uint64_t* counts, std::size_t values, double total)
{
    double h = 0;
    for (std::size_t v = 0; v < values; ++v) {
        const double p = double(counts[v]) / total;
        if (p > 0) {
            h -= p * std::log2(p);
        }
    }
    return h;
}

// B and R minus G, modulo 2^bits, in a frame of packed planes.
void minus_green(const PlaneShape& shape, std::vector<std::uint16_t>& frame)
{
    const std::size_t n = std::size_t(shape.width[0]) * std::size_t(shape.height);
    const unsigned mask = (1u << shape.bits) - 1;
    for (std::size_t i = 0; i < n; ++i) {
        frame[n + i] = static_cast<std::uint16_t>((frame[n + i] - frame[i]) & mask);
        frame[2 * n + i] = static_cast<std::uint16_t>((frame[2 * n + i] - frame[i]) & mask);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const bool decorrelate = argc == 5 && std::strcmp(argv[4], "-g") == 0;
    const bench::DeepFormat* format = argc == 4 || decorrelate ? bench::deep_format(argv[3]) : nullptr;
    const PlaneShape shape = format != nullptr ? plane_shape(format->layout, std::atoi(argv[1]), std::atoi(argv[2]),
                                                             format->bits)
                                               : PlaneShape{};
    if (shape.count == 0 || (decorrelate && !bench::rgb_layout(format->layout))) {
        std::fprintf(stderr, "usage: deep_entropy <width> <height> <pix_fmt> [-g] < frames\n"
                             "  (-g for gbrp10le, gbrp16le and gbrap16le only)\n");
        return 2;
    }
    const std::size_t samples = planes_bytes(shape) / 2;
    std::vector<std::uint16_t> frame(samples);
    std::vector<unsigned char> residuals(2 * samples);
    std::vector<std::uint64_t> whole(std::size_t(shape.count) << 16, 0);
    std::vector<std::uint64_t> bytes(std::size_t(shape.count) * 512, 0);
    std::uint64_t frames = 0;
    while (std::fread(frame.data(), 2, samples, stdin) == samples) {
        if (decorrelate) {
            minus_green(shape, frame);
        }
        predict_deep_planes(shape, packed_picture(shape, reinterpret_cast<unsigned char*>(frame.data())),
                            residuals.data());
        unsigned char* channels[8] = {};
        unsigned int length[8] = {};
        deep_channels(shape, residuals.data(), channels, length);
        for (int p = 0; p < shape.count; ++p) {
            const unsigned char* low = channels[2 * p];
            const unsigned char* high = channels[2 * p + 1];
            for (unsigned int i = 0; i < length[2 * p]; ++i) {
                ++whole[(std::size_t(p) << 16) + (low[i] | std::size_t(high[i]) << 8)];
                ++bytes[std::size_t(p) * 512 + low[i]];
                ++bytes[std::size_t(p) * 512 + 256 + high[i]];
            }
        }
        ++frames;
    }
    if (frames == 0) {
        std::fprintf(stderr, "deep_entropy: no frames\n");
        return 1;
    }
    double split_bits = 0, whole_bits = 0;
    std::printf("%llu frames, planes", static_cast<unsigned long long>(frames));
    for (int p = 0; p < shape.count; ++p) {
        const double n = double(frames) * double(shape.width[p]) * double(shape.height);
        const double h = entropy(&whole[std::size_t(p) << 16], 65536, n);
        const double low = entropy(&bytes[std::size_t(p) * 512], 256, n);
        const double high = entropy(&bytes[std::size_t(p) * 512 + 256], 256, n);
        std::printf(" %.3f (%.3f + %.3f)", h, low, high);
        split_bits += n * (low + high);
        whole_bits += n * h;
    }
    const double all = double(frames) * double(samples);
    const double pixels = double(frames) * double(shape.width[0]) * double(shape.height);
    std::printf(" bits/sample (whole (low + high)), ratio floor %.4f (whole symbols %.4f), %.3f bits/pixel\n",
                split_bits / (16 * all), whole_bits / (16 * all), split_bits / pixels);
    return 0;
}
