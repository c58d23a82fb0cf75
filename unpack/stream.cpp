#include "unpack/stream.h"

#include <cstdio>
#include <cstring>

#include "common/byte_order.h"
#include "library/tarvic.h"

namespace {

bool is_code(const unsigned char* code, const char* text) { return std::memcmp(code, text, 4) == 0; }

// RGB first, which Tarvic streams decode to. ffmpeg reads the 4:4:4 forms
// through their own decoders, from packets of a planar frame's size.
constexpr PlainForm plain_forms[] = {
    {"", 24, 1, nullptr, "uncompressed 24-bit RGB", "-pix_fmt bgr24"},
    {"", 32, 1, nullptr, "uncompressed 32-bit RGB with alpha", "-pix_fmt bgra"},
    {"UYVY", 16, 2, "\x80\x10\x80\x10", "uncompressed Y'CbCr 4:2:2 (UYVY)", "-pix_fmt uyvy422"},
    {"YUY2", 16, 2, "\x10\x80\x10\x80", "uncompressed Y'CbCr 4:2:2 (YUY2)", "-pix_fmt yuyv422"},
    {"v308", 24, 1, "\x80\x10\x80", "uncompressed Y'CbCr 4:4:4 (v308)", "-pix_fmt yuv444p -c:v v308"},
    {"v408", 32, 1, "\x80\x10\x80\x00", "uncompressed Y'CbCr 4:4:4 with alpha (v408)",
     "-pix_fmt yuva444p -c:v v408"},
    // 10- and 16-bit samples, rows of the movie's own packing: ffmpeg reads
    // the packed words through their own decoders, from packets of a 32-bit
    // frame's size.
    {"v210", 20, 48, nullptr, "uncompressed 10-bit Y'CbCr 4:2:2 (v210)", "", 128, "v210"},
    {"v410", 32, 1, nullptr, "uncompressed 10-bit Y'CbCr 4:4:4 (v410)", "-pix_fmt bgra -c:v v410"},
    {"r210", 32, 64, nullptr, "uncompressed 10-bit RGB (r210)", "-pix_fmt bgra -c:v r210", 0, nullptr, 64},
    {"R10k", 32, 1, nullptr, "uncompressed 10-bit RGB (R10k)", "-pix_fmt bgra -c:v r10k"},
    {"AVrp", 32, 64, nullptr, "uncompressed 10-bit RGB (AVrp)", "-pix_fmt bgra -c:v avrp", 0, nullptr, 64},
    {"b48r", 48, 1, nullptr, "uncompressed 16-bit RGB (b48r)", "-pix_fmt rgb48be"},
    // A R G B read as R G B A, each moved back to its place.
    {"b64a", 64, 1, nullptr, "uncompressed 16-bit RGB with alpha (b64a)", "-pix_fmt rgba64be", 0, nullptr, 1,
     " -vf colorchannelmixer=rr=0:rg=1:gg=0:gb=1:bb=0:ba=1:aa=0:ar=1"},
    {"b16g", 16, 1, nullptr, "uncompressed 16-bit grey (b16g)", "-pix_fmt gray16be"},
};

// "yuv2" has its chroma signed, which ffmpeg flips when told the tag. The
// raw frames of the 10- and 16-bit layouts are their -u files' raw frames.
constexpr PlaneStream plane_streams[] = {
    {"2vuy", "UYVY", PlaneLayout::yuv422, 8, TARVIC_YUV422P8, &planes_2vuy, &planes_2vuy, "Y'CbCr 4:2:2 planes",
     "-pix_fmt uyvy422"},
    {"yuvs", "YUY2", PlaneLayout::yuv422, 8, TARVIC_YUV422P8, &planes_yuvs, &planes_yuvs, "Y'CbCr 4:2:2 planes",
     "-pix_fmt yuyv422"},
    {"yuv2", "YUY2", PlaneLayout::yuv422, 8, TARVIC_YUV422P8, &planes_yuvs, &planes_yuv2, "Y'CbCr 4:2:2 planes",
     "-pix_fmt yuyv422 -tag:v yuv2"},
    {"v308", "v308", PlaneLayout::yuv444, 8, TARVIC_YUV444P8, &planes_v308, &planes_v308, "Y'CbCr 4:4:4 planes",
     "-pix_fmt yuv444p -c:v v308"},
    {"v408", "v408", PlaneLayout::yuva444, 8, TARVIC_YUVA444P8, &planes_v408, &planes_v408,
     "Y'CbCr 4:4:4 planes with alpha", "-pix_fmt yuva444p -c:v v408"},
    {"v210", "v210", PlaneLayout::yuv422, 10, TARVIC_YUV422P10, nullptr, nullptr, "10-bit Y'CbCr 4:2:2 planes",
     nullptr},
    {"v410", "v410", PlaneLayout::yuv444, 10, TARVIC_YUV444P10, nullptr, nullptr, "10-bit Y'CbCr 4:4:4 planes",
     nullptr},
    {"r210", "r210", PlaneLayout::gbr444, 10, TARVIC_GBRP10, nullptr, nullptr, "10-bit RGB planes", nullptr},
    {"R10k", "R10k", PlaneLayout::gbr444, 10, TARVIC_GBRP10, nullptr, nullptr, "10-bit RGB planes", nullptr},
    {"AVrp", "AVrp", PlaneLayout::gbr444, 10, TARVIC_GBRP10, nullptr, nullptr, "10-bit RGB planes", nullptr},
    {"b48r", "b48r", PlaneLayout::gbr444, 16, TARVIC_GBRP16, nullptr, nullptr, "16-bit RGB planes", nullptr},
    {"b64a", "b64a", PlaneLayout::gbra444, 16, TARVIC_GBRAP16, nullptr, nullptr, "16-bit RGB planes with alpha",
     nullptr},
    {"b16g", "b16g", PlaneLayout::grey, 16, TARVIC_GRAY16, nullptr, nullptr, "16-bit grey plane", nullptr},
};

// The plane stream a record names, where its numbers agree with it: the
// form, the layout, the samples' bits, the bytes left zero.
const PlaneStream* find_planes(const unsigned char* record)
{
    for (const PlaneStream& planes : plane_streams) {
        if (is_code(record + 8, planes.data_format)) {
            const bool agrees = is_code(record + 4, planes.form) && record[12] == unsigned(planes.layout) &&
                                record[13] == unsigned(planes.bits) && record[14] == 0 && record[15] == 0;
            return agrees ? &planes : nullptr;
        }
    }
    return nullptr;
}

const PlainForm* find_form(const unsigned char* code, int bit_count)
{
    for (const PlainForm& form : plain_forms) {
        if (is_code(code, form.code) && form.bit_count == bit_count) {
            return &form;
        }
    }
    return nullptr;
}

}  // namespace

bool describe_stream(const AviLayout& layout, VideoStream& stream)
{
    stream.tarvic = is_code(layout.compression, "TRVC");
    const unsigned char* code = layout.compression;
    if (stream.tarvic && layout.has_record) {
        stream.planes = find_planes(layout.record);
        stream.bad_record = stream.planes == nullptr;
        if (stream.bad_record) {
            return false;
        }
        code = reinterpret_cast<const unsigned char*>(stream.planes->form);
    } else if (stream.tarvic) {
        code = reinterpret_cast<const unsigned char*>("\0\0\0\0");
    }
    stream.form = find_form(code, layout.bit_count);
    stream.bad_record = stream.planes != nullptr && stream.form == nullptr;
    if (stream.form == nullptr || layout.width <= 0 || layout.height <= 0) {
        return false;
    }
    const std::size_t group = std::size_t(stream.form->group);
    stream.top_down = stream.form->code[0] != '\0';
    const std::size_t group_bytes = stream.form->group_bytes > 0 ? std::size_t(stream.form->group_bytes)
                                                                  : group * std::size_t(layout.bit_count / 8);
    stream.row_bytes = (std::size_t(layout.width) + group - 1) / group * group_bytes;
    stream.frame_bytes = stream.row_bytes * std::size_t(layout.height);
    // Frames the writer can write again; RGB ones within the codec's sizes.
    if (stream.planes != nullptr) {
        return stream.frame_bytes <= avi_max_frame_size &&
               tarvic_layout_bound(layout.width, layout.height, stream.planes->library_layout) != 0;
    }
    return stream.top_down ? stream.frame_bytes <= avi_max_frame_size
                           : tarvic_bound(layout.width, layout.height, layout.bit_count) != 0;
}

AviVideo plain_video(const VideoStream& stream)
{
    const unsigned char* code = reinterpret_cast<const unsigned char*>(stream.form->code);
    return {stream.form->bit_count, stream.top_down ? get_le32(code) : 0, std::uint32_t(stream.frame_bytes)};
}

void fill_black(const VideoStream& stream, unsigned char* frame)
{
    const char* black = stream.form->black;
    if (black == nullptr) {
        std::memset(frame, 0, stream.frame_bytes);
        return;
    }
    const std::size_t size = std::size_t(stream.form->group) * std::size_t(stream.form->bit_count / 8);
    for (std::size_t k = 0; k < stream.frame_bytes; k += size) {
        std::memcpy(frame + k, black, size);
    }
}

bool unpack_plain(const AviLayout& layout, const VideoStream& stream, const unsigned char* bytes, std::size_t size,
                  unsigned char* top, std::ptrdiff_t stride)
{
    const std::size_t row = stream.row_bytes;
    const std::size_t padded = (row + 3) & ~std::size_t(3);
    const std::size_t rows = static_cast<std::size_t>(layout.height);
    std::size_t stored;
    if (size == row * rows) {
        stored = row;
    } else if (size == padded * rows) {
        stored = padded;
    } else {
        return false;
    }
    for (std::size_t y = 0; y < rows; ++y) {
        const std::size_t from_top = layout.top_down || stream.top_down ? y : rows - 1 - y;
        std::memcpy(top + std::ptrdiff_t(from_top) * stride, bytes + y * stored, row);
    }
    return true;
}

bool carried_sound(const AviLayout& layout, AviSound& sound)
{
    if (!layout.has_sound || layout.sound_format_size < 16) {
        return false;
    }
    const unsigned char* f = layout.sound_format;
    const unsigned tag = f[0] | (f[1] << 8);
    sound.channels = f[2] | (f[3] << 8);
    sound.rate = get_le32(f + 4);
    sound.bits = f[14] | (f[15] << 8);
    sound.is_float = tag == 3 || (tag == 0xFFFE && layout.sound_format_size >= 26 && f[24] == 3);
    if (sound.channels < 1 || sound.channels > 8 || sound.bits < 8 || sound.bits % 8 != 0 || sound.bits > 64) {
        return false;
    }
    unsigned char made[40];
    const int size = avi_sound_format(sound, made);
    return std::uint32_t(size) == layout.sound_format_size && std::memcmp(made, f, std::size_t(size)) == 0;
}

void print_info(const char* path, const AviLayout& layout, const VideoStream& stream)
{
    std::printf("file: %s\n", path);
    std::printf("width: %d\nheight: %d\n", layout.width, layout.height);
    std::printf("frame rate: %u/%u", layout.rate, layout.scale);
    if (layout.scale != 0) {
        std::printf(" (%.3f frames per second)", double(layout.rate) / double(layout.scale));
    }
    std::printf("\nframes: %zu\n", layout.frames.size());
    const bool alpha = layout.bit_count == 32;
    if (stream.planes != nullptr) {
        std::printf("codec: Tarvic (TRVC), %s of \"%s\"\n", stream.planes->name, stream.planes->data_format);
    } else {
        std::printf("codec: %s\n", stream.tarvic ? (alpha ? "Tarvic (TRVC), 32-bit with alpha" : "Tarvic (TRVC)")
                                                  : stream.form->name);
    }
    // Raw frames of 8-bit planes come in the movie's own packing, those of
    // the 10- and 16-bit layouts as the -u file's raw frames do.
    const PlainForm& form = *stream.form;
    const bool own = stream.planes != nullptr && stream.planes->pixels != nullptr;
    const char* pixels = own ? stream.planes->pixels : form.pixels;
    const int group = own ? 1 : form.raw_group;
    const int raw_width = (layout.width + group - 1) / group * group;
    std::printf("ffmpeg input options: -f %s%s%s -video_size %dx%d -framerate %u/%u -i -",
                form.demuxer != nullptr ? form.demuxer : "rawvideo", *pixels != '\0' ? " " : "", pixels, raw_width,
                layout.height, layout.rate, layout.scale == 0 ? 1u : layout.scale);
    if (raw_width != layout.width) {
        std::printf(" -vf crop=%d:%d:0:0", layout.width, layout.height);
    }
    std::printf("%s\n", own ? "" : form.after);
    AviSound sound;
    if (carried_sound(layout, sound)) {
        std::printf("sound: %u Hz, %d channels, %d-bit %s, %u sample frames in %zu chunks\n", sound.rate,
                    sound.channels, sound.bits, sound.is_float ? "floating point" : "linear PCM", layout.sound_length,
                    layout.sound.size());
    } else if (layout.has_sound) {
        std::printf("sound: a stream reelunpack does not carry (wave format 0x%04X)\n",
                    unsigned(layout.sound_format[0] | (layout.sound_format[1] << 8)));
    }
}
