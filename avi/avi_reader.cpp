#include "avi/avi_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "avi/avi_writer.h"
#include "common/byte_order.h"

namespace {

bool is_tag(const unsigned char* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

bool is_frame_chunk(const unsigned char* id)
{
    return id[0] == '0' && id[1] == '0' && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

constexpr int max_depth = 4;

struct Reader {
    const unsigned char* data;
    std::size_t size;
    AviLayout& layout;
    std::uint64_t first_movi_code = 0;  // position of the first "movi" list type; idx1 counts from it
    std::uint64_t first_movi_end = 0;
    bool found_movi = false;
    bool found_format = false;
    bool found_stream = false;
    std::vector<AviFrameRef> indexed;
    int streams = 0;                 // "strl" lists begun
    unsigned char stream_type[4] = {};  // of the last "strh"
    unsigned char sound_code[2] = {};  // the sound stream's number, as its chunk codes begin
    bool index_sound = false;
    const AviReadProgress* progress = nullptr;

    Reader(const unsigned char* bytes, std::size_t length, AviLayout& into) : data(bytes), size(length), layout(into) {}

    void done_before(std::uint64_t position) const
    {
        if (progress != nullptr) {
            progress->done_before(progress->context, position);
        }
    }

    // Walks the chunks from `begin` to `end`. A chunk that passes the end
    // marks the file damaged and ends this list; the lists around it go on.
    void walk(std::uint64_t begin, std::uint64_t end, int depth, bool in_movi, bool first_riff)
    {
        std::uint64_t at = begin;
        while (at + 8 <= end) {
            const unsigned char* id = data + at;
            if (id[0] == 0) {
                // Frame chunks may be padded to a multiple of 4 bytes, not 2.
                at = (at + 4) & ~std::uint64_t(3);
                continue;
            }
            std::uint64_t chunk_size = get_le32(id + 4);
            const std::uint64_t body = at + 8;
            if (chunk_size > end - body) {
                // A list cut short (a truncated file) still holds what it has.
                layout.damaged = true;
                if (!is_tag(id, "LIST")) {
                    return;
                }
                chunk_size = end - body;
            }
            if (is_tag(id, "LIST") && chunk_size >= 4) {
                const bool movi = is_tag(data + body, "movi");
                if (is_tag(data + body, "strl")) {
                    ++streams;
                    std::memset(stream_type, 0, 4);
                }
                if (movi && first_riff && !found_movi) {
                    first_movi_code = body;
                    first_movi_end = body + chunk_size;
                }
                found_movi = found_movi || movi;
                if (depth < max_depth) {
                    walk(body + 4, body + chunk_size, depth + 1, in_movi || movi, first_riff);
                }
            } else if (in_movi) {
                if (is_frame_chunk(id)) {
                    layout.frames.push_back(AviFrameRef{body, static_cast<std::uint32_t>(chunk_size), AVIIF_KEYFRAME});
                } else if (layout.has_sound && id[0] == sound_code[0] && id[1] == sound_code[1] && id[2] == 'w' &&
                           id[3] == 'b') {
                    layout.sound.push_back(AviSoundRef{body, static_cast<std::uint32_t>(chunk_size),
                                                       static_cast<std::uint32_t>(layout.frames.size())});
                }
                done_before(at);
            } else if (is_tag(id, "avih") && chunk_size >= 40) {
                layout.total_frames = get_le32(data + body + 16);
            } else if (is_tag(id, "strh") && chunk_size >= 36) {
                std::memcpy(stream_type, data + body, 4);
                if (is_tag(data + body, "vids") && !found_stream) {
                    found_stream = true;
                    std::memcpy(layout.handler, data + body + 4, 4);
                    layout.scale = get_le32(data + body + 20);
                    layout.rate = get_le32(data + body + 24);
                    layout.stream_length = get_le32(data + body + 32);
                } else if (is_tag(data + body, "auds") && !layout.has_sound) {
                    layout.sound_length = get_le32(data + body + 32);
                }
            } else if (is_tag(id, "strf") && is_tag(stream_type, "auds") &&
                       !layout.has_sound && streams >= 1 && streams <= 100) {
                layout.has_sound = true;
                layout.sound_format_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk_size, 40));
                std::memcpy(layout.sound_format, data + body, layout.sound_format_size);
                sound_code[0] = static_cast<unsigned char>('0' + (streams - 1) / 10);
                sound_code[1] = static_cast<unsigned char>('0' + (streams - 1) % 10);
            } else if (is_tag(id, "strf") && chunk_size >= 40 && !found_format &&
                       !is_tag(stream_type, "auds")) {
                found_format = true;
                const auto width = static_cast<std::int32_t>(get_le32(data + body + 4));
                const auto height = static_cast<std::int32_t>(get_le32(data + body + 8));
                layout.width = width;
                layout.top_down = height < 0;
                layout.height = height == INT32_MIN ? 0 : (height < 0 ? -height : height);
                layout.bit_count = data[body + 14] | (data[body + 15] << 8);
                std::memcpy(layout.compression, data + body + 16, 4);
                layout.has_record = chunk_size >= 40 + sizeof layout.record && is_tag(data + body + 40, "TRVL");
                if (layout.has_record) {
                    std::memcpy(layout.record, data + body + 40, sizeof layout.record);
                }
            } else if (is_tag(id, "idx1") && depth == 0 && first_riff) {
                read_index(body, chunk_size);
            }
            at = body + chunk_size + (chunk_size & 1);
        }
    }

    // The index is sound when every frame entry points at a frame chunk that
    // lies whole within the first "movi" list.
    void read_index(std::uint64_t body, std::uint64_t chunk_size)
    {
        if (!found_movi) {
            return;
        }
        indexed.clear();
        for (std::uint64_t e = body; e + 16 <= body + chunk_size; e += 16) {
            if (!is_frame_chunk(data + e)) {
                continue;
            }
            const std::uint64_t chunk = first_movi_code + get_le32(data + e + 8);
            if (chunk + 8 > first_movi_end || !is_frame_chunk(data + chunk)) {
                return;
            }
            const std::uint32_t frame_size = get_le32(data + chunk + 4);
            if (frame_size > first_movi_end - (chunk + 8)) {
                return;
            }
            indexed.push_back(AviFrameRef{chunk + 8, frame_size, get_le32(data + e + 4)});
            done_before(chunk);
        }
        index_sound = true;
    }

    // Takes the index's frames and flags where they can be trusted: where it
    // agrees with the chunks found, or where the walk was cut short by
    // damage that the index passes over.
    void settle_index(std::size_t first_riff_frames)
    {
        if (!index_sound) {
            return;
        }
        const bool agrees = indexed.size() == first_riff_frames &&
                            std::equal(indexed.begin(), indexed.end(), layout.frames.begin(),
                                       [](const AviFrameRef& a, const AviFrameRef& b) { return a.offset == b.offset; });
        if (agrees || (layout.damaged && indexed.size() > first_riff_frames)) {
            std::vector<AviFrameRef> frames = indexed;
            frames.insert(frames.end(), layout.frames.begin() + static_cast<std::ptrdiff_t>(first_riff_frames),
                          layout.frames.end());
            layout.frames = std::move(frames);
            layout.has_index = true;
        }
    }
};

}  // namespace

Failure read_avi_layout(const unsigned char* data, std::size_t size, AviLayout& layout, const AviReadProgress* progress)
{
    layout = AviLayout{};
    if (size < 12 || !is_tag(data, "RIFF") || !is_tag(data + 8, "AVI ")) {
        return make_failure(Fault::avi_not_avi);
    }
    Reader reader(data, size, layout);
    reader.progress = progress;
    std::uint64_t riff_end = std::uint64_t(get_le32(data + 4)) + 8;
    if (riff_end > size) {
        layout.damaged = true;
        riff_end = size;
    }
    reader.walk(12, riff_end, 0, false, true);
    layout.riff_count = 1;
    reader.settle_index(layout.frames.size());

    // Further RIFFs of a long file, each with its own "movi" list.
    std::uint64_t at = riff_end + (riff_end & 1);
    while (at + 12 <= size && is_tag(data + at, "RIFF") && is_tag(data + at + 8, "AVIX")) {
        std::uint64_t end = at + 8 + get_le32(data + at + 4);
        if (end > size) {
            layout.damaged = true;
            end = size;
        }
        reader.walk(at + 12, end, 0, false, false);
        ++layout.riff_count;
        at = end + (end & 1);
    }

    if (!reader.found_format) {
        return make_failure(Fault::avi_no_stream);
    }
    if (!reader.found_movi) {
        return make_failure(Fault::avi_no_movi);
    }
    return {};
}
