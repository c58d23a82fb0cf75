// The pictures that the benchmarks code: 1280 x 720 frames of noise, of a
// smooth gradient and of ffmpeg's testsrc2 (empty when ffmpeg is missing),
// as the codec takes them (bgr24).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace bench {

constexpr int width = 1280;
constexpr int height = 720;
using Bytes = std::vector<unsigned char>;

inline Bytes noise_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    std::uint32_t state = 2463534242u;
    for (auto& b : frame) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<unsigned char>(state);
    }
    return frame;
}

inline Bytes smooth_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &frame[(std::size_t(y) * width + x) * 3];
            const double v = 127.5 + 127.5 * std::sin(x / 97.0) * std::cos(y / 61.0);
            p[0] = static_cast<unsigned char>(v);
            p[1] = static_cast<unsigned char>((x + y) / 8);
            p[2] = static_cast<unsigned char>(255 - v / 2);
        }
    }
    return frame;
}

inline Bytes testsrc2_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    std::FILE* pipe = ::popen("ffmpeg -v error -f lavfi -i testsrc2=size=1280x720 -frames:v 1 "
                              "-f rawvideo -pix_fmt bgr24 - 2>/dev/null",
                              "r");
    if (pipe == nullptr || std::fread(frame.data(), 1, frame.size(), pipe) != frame.size()) {
        frame.clear();
    }
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    return frame;
}

inline const Bytes& picture(int kind)
{
    static const Bytes frames[3] = {noise_frame(), smooth_frame(), testsrc2_frame()};
    return frames[kind];
}

inline const char* const kind_names[3] = {"noise", "smooth", "testsrc2"};

}  // namespace bench
