#include "quicktime/video_description.h"

#include <algorithm>
#include <cstring>

#include "quicktime/report.h"

namespace {

// Where the fields lie in the description, from the start of the "stsd"
// atom's contents.
constexpr std::uint64_t description = 8;
constexpr std::uint64_t depth_field = description + 82;
constexpr std::uint64_t colour_table_id = description + 84;
constexpr std::uint64_t colour_table = description + 86;

// The colour table follows the description: seed, flags, the last entry's
// number, then entries of four 16-bit words (number, red, green, blue), the
// colours in order from value 0.
Failure read_colour_table(const Held& held, const Atom& stsd, PixelLayout& layout)
{
    std::uint32_t last = 0;
    if (!field16(held, stsd, colour_table + 6, last)) {
        return atom_too_short("stsd");
    }
    const std::uint64_t entries = std::min<std::uint32_t>(last, 255) + 1;
    if (!table_fits(stsd, colour_table + 8, entries, 8)) {
        return atom_too_short("stsd");
    }
    for (std::uint64_t v = 0; v < entries; ++v) {
        const unsigned char* entry = held.at(stsd.body + colour_table + 8 + 8 * v);
        layout.palette[v][0] = entry[6];
        layout.palette[v][1] = entry[4];
        layout.palette[v][2] = entry[2];
    }
    return {};
}

// The layout of the description's format and depth, its palette filled.
Failure read_layout(const Held& held, const Atom& stsd, const unsigned char* format, int width, int height,
                    int& depth, PixelLayout& layout)
{
    std::uint32_t depth_value = 0;
    std::uint32_t table_id = 0;
    if (!field16(held, stsd, depth_field, depth_value) || !field16(held, stsd, colour_table_id, table_id)) {
        return atom_too_short("stsd");
    }
    depth = static_cast<int>(depth_value);
    const PixelFormat* pixels = find_pixel_format(reinterpret_cast<const char*>(format), depth);
    if (pixels != nullptr && pixels->kind == PixelKind::indexed && table_id != 0) {
        return movie_failure(Fault::movie_depth_without_table);
    }
    if (pixels == nullptr) {
        return movie_failure(Fault::movie_depth, {depth}, std::string(reinterpret_cast<const char*>(format), 4));
    }
    layout = pixel_layout(*pixels, width, height);
    // Pixels of more than four bytes can make a frame larger than the run's
    // 32-bit sizes hold, though its picture passed the size check.
    if (layout.frame_bytes > 2147483647u) {
        return movie_failure(Fault::movie_picture_size, {width, height});
    }
    if (pixels->kind == PixelKind::indexed) {
        return read_colour_table(held, stsd, layout);
    }
    if (pixels->kind == PixelKind::grey) {
        // 8-bit grey as the format defines it, from white at 0 to black at
        // 255: value v is the colour (255 - v) in every channel.
        for (int v = 0; v < 256; ++v) {
            std::memset(layout.palette[v], 255 - v, 3);
        }
    }
    return {};
}

}  // namespace

Failure read_video_description(const Held& held, const Atom& stsd, int width, int height, char (&data_format)[4],
                               int& depth, PixelLayout& layout, std::FILE* report)
{
    if (!stsd.found) {
        return tag_missing("stsd");
    }
    std::uint32_t descriptions = 0;
    if (!field32(held, stsd, 4, descriptions) || !table_fits(stsd, description + 4, 1, 4)) {
        return atom_too_short(stsd.type);
    }
    report_format(report, "Sample description found, number of entries = %d\n", static_cast<int>(descriptions));
    const unsigned char* format = held.at(stsd.body + description + 4);
    std::memcpy(data_format, format, 4);
    report_format(report, "Data format = \"%c%c%c%c\"\n", format[0], format[1], format[2], format[3]);
    if (!known_data_format(data_format)) {
        char printable[4];
        std::memcpy(printable, format, 4);
        make_printable(printable, 4);
        return movie_failure(Fault::movie_data_format,
                             {std::int64_t(get_be32(reinterpret_cast<const unsigned char*>(printable))),
                              std::int64_t(unread_video(data_format))});
    }
    return read_layout(held, stsd, format, width, height, depth, layout);
}

Failure fit_frame_size(const FrameTable& table, int depth, PixelLayout& layout)
{
    if (table.runs.empty()) {
        return {};
    }
    const std::uint32_t sample_size = table.runs[0].step;
    for (const FrameRun& run : table.runs) {
        if (run.step != sample_size) {
            return movie_failure(Fault::movie_frame_sizes_differ, {sample_size, run.step});
        }
    }
    const std::size_t packed = layout.stride;
    const std::size_t align = std::size_t(layout.format->row_alignment);
    const std::size_t rows = std::size_t(layout.height);
    // Without an alignment, rows lie at the stride the size shows, where it
    // holds a row, in frames no larger than a picture may be.
    const bool any_stride = sample_size % rows == 0 && sample_size <= 2147483647u;
    const std::size_t padded = align > 0 ? (packed + align - 1) / align * align
                               : any_stride ? std::max<std::size_t>(sample_size / rows, packed)
                                            : packed;
    if (sample_size == padded * rows && sample_size != packed * rows) {
        layout.stride = padded;
        layout.frame_bytes = padded * rows;
    } else if (sample_size != packed * rows) {
        return movie_failure(Fault::movie_frame_fits_nothing, {sample_size, layout.width, layout.height, depth});
    }
    return {};
}
