// The pictures that the benchmarks code: 1280 x 720 frames of several kinds,
// as the codec takes them (bgr24, bottom row first). The kinds that ffmpeg
// makes are empty when ffmpeg is missing.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

constexpr int width = 1280;
constexpr int height = 720;
using Bytes = std::vector<unsigned char>;

// Every byte random: three planes of nearly eight bits.
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

// Grey noise: one plane of nearly eight bits, two of zeros.
inline Bytes grey_noise_frame()
{
    Bytes frame(std::size_t(width) * height * 3);
    std::uint32_t state = 88172645u;
    for (std::size_t p = 0; p < frame.size(); p += 3) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        frame[p] = frame[p + 1] = frame[p + 2] = static_cast<unsigned char>(state);
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

// One frame of an ffmpeg source in a raw pixel format, of `bytes` bytes.
inline Bytes ffmpeg_raw(const std::string& source, const std::string& filters_and_format, std::size_t bytes)
{
    Bytes frame(bytes);
    const std::string command = "ffmpeg -v error -f lavfi -i " + source + " -frames:v 1 " + filters_and_format +
                                " -f rawvideo - 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr || std::fread(frame.data(), 1, frame.size(), pipe) != frame.size()) {
        frame.clear();
    }
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    return frame;
}

// One frame of an ffmpeg test source, as the codec takes it.
inline Bytes ffmpeg_frame(const std::string& source)
{
    return ffmpeg_raw(source, "-vf vflip -pix_fmt bgr24", std::size_t(width) * height * 3);
}

constexpr int kinds = 5;
inline const char* const kind_names[kinds] = {"noise", "grey noise", "smooth", "mandelbrot", "testsrc2"};

inline const Bytes& picture(int kind)
{
    static const Bytes frames[kinds] = {
        noise_frame(), grey_noise_frame(), smooth_frame(),
        ffmpeg_frame("mandelbrot=size=1280x720:start_scale=0.5:end_scale=0.3:end_pts=400"),
        ffmpeg_frame("testsrc2=size=1280x720")};
    return frames[kind];
}

// Pictures in planes: 1920 x 1080 in 4:2:2, as a "2vuy" movie holds them.
constexpr int planes_width = 1920;
constexpr int planes_height = 1080;
constexpr std::size_t planes_bytes = std::size_t(planes_width) * planes_height * 2;

// A smooth gradient in every plane with a little noise, as a camera's.
inline Bytes noisy_gradient_planes()
{
    Bytes planes(planes_bytes);
    std::uint32_t state = 2463534242u;
    const int widths[3] = {planes_width, planes_width / 2, planes_width / 2};
    unsigned char* at = planes.data();
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < planes_height; ++y) {
            for (int x = 0; x < widths[p]; ++x) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const double v = 110 + 60 * std::sin(x * (p + 1) / 300.0) * std::cos(y / 200.0);
                *at++ = static_cast<unsigned char>(v + (state & 3));
            }
        }
    }
    return planes;
}

constexpr int plane_kinds = 2;
inline const char* const plane_kind_names[plane_kinds] = {"testsrc2 4:2:2", "noisy gradient 4:2:2"};

inline const Bytes& planes_picture(int kind)
{
    static const Bytes pictures[plane_kinds] = {
        ffmpeg_raw("testsrc2=size=1920x1080", "-pix_fmt yuv422p", planes_bytes), noisy_gradient_planes()};
    return pictures[kind];
}

}  // namespace bench
