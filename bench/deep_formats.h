// The planar pixel formats of 9- to 16-bit samples that the deep benchmark
// tools read and write, by ffmpeg's -pix_fmt names: each sample a
// little-endian 16-bit word, the planes of a frame one after another, in
// ffmpeg's plane order (Y, Cb, Cr; or G, B, R; then alpha), which is also
// the codec's.
#pragma once

#include <cstddef>
#include <cstring>

#include "codec/planes.h"

namespace bench {

struct DeepFormat {
    const char* name;
    PlaneLayout layout;
    int bits;
};

inline const DeepFormat deep_formats[] = {
    {"yuv422p10le", PlaneLayout::yuv422, 10}, {"yuv444p10le", PlaneLayout::yuv444, 10},
    {"gbrp10le", PlaneLayout::gbr444, 10},    {"gbrp16le", PlaneLayout::gbr444, 16},
    {"gbrap16le", PlaneLayout::gbra444, 16},  {"gray16le", PlaneLayout::grey, 16},
};

// The format of a -pix_fmt name, or null.
inline const DeepFormat* deep_format(const char* name)
{
    for (const DeepFormat& f : deep_formats) {
        if (std::strcmp(f.name, name) == 0) {
            return &f;
        }
    }
    return nullptr;
}

// Whether a layout's planes are R, G and B, whose black is 0 and whose
// planes move together.
inline bool rgb_layout(PlaneLayout layout)
{
    return layout == PlaneLayout::gbr444 || layout == PlaneLayout::gbra444;
}

}  // namespace bench
