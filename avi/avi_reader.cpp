#include "avi/avi_reader.h"

#include <algorithm>
#include <cstring>
#include "entropy/byte_order.h"

namespace {

bool is_tag(const unsigned char* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

bool is_frame_chunk(const unsigned char* id) { return id[0] == '0' && id[1] == '0' && (id[2] == 'd' && (id[3] == 'c' || id[3] == 'b')); }

struct Reader {
    const unsigned char* data;
    std::size_t size;
    AviLayout& layout;
    std::uint64_t movi_code = 0;  // position of the "movi" list type
    std::uint64_t movi_end = 0;
    bool found_movi = false;
    bool found_format = false;

    // Walks the chunks from `begin` to `end`; returns false when one passes it.
    bool walk(std::uint64_t begin, std::uint64_t end, int depth)
    {
        std::uint64_t at = begin;
        while (at + 8 <= end) {
            const unsigned char* id = data + at;
            if (id[0] == 0) {
                // Frame chunks may be padded to a multiple of 4 bytes, not 2.
                at = (at + 4) & ~std::uint64_t(3);
                continue;
            }
            const std::uint64_t chunk_size = get_le32(id + 4);
            const std::uint64_t body = at + 8;
            if (chunk_size > end - body) {
                return false;
            }
            if (is_tag(id, "LIST") && chunk_size >= 4 && depth < 4) {
                const unsigned char* type = data + body;
                if (is_tag(type, "movi")) {
                    if (!found_movi) {
                        found_movi = true;
                        movi_code = body;
                        movi_end = body + chunk_size;
                        if (!walk(body + 4, body + chunk_size, depth + 1)) {
                            return false;
                        }
                    }
                } else if (!walk(body + 4, body + chunk_size, depth + 1)) {
                    return false;
                }
            } else if (is_tag(id, "avih") && chunk_size >= 40) {
                layout.total_frames = get_le32(data + body + 16);
            } else if (is_tag(id, "strh") && chunk_size >= 36 && is_tag(data + body, "vids")) {
                std::memcpy(layout.handler, data + body + 4, 4);
                layout.scale = get_le32(data + body + 20);
                layout.rate = get_le32(data + body + 24);
                layout.stream_length = get_le32(data + body + 32);
            } else if (is_tag(id, "strf") && chunk_size >= 40 && !found_format) {
                found_format = true;
                layout.width = static_cast<int>(get_le32(data + body + 4));
                layout.height = static_cast<int>(get_le32(data + body + 8));
                layout.bit_count = data[body + 14] | (data[body + 15] << 8);
                std::memcpy(layout.compression, data + body + 16, 4);
            } else if (is_frame_chunk(id) && found_movi && body > movi_code && body <= movi_end) {
                layout.frames.push_back(AviFrameRef{body, static_cast<std::uint32_t>(chunk_size), 0x10});
            } else if (is_tag(id, "idx1") && depth == 0) {
                read_index(body, chunk_size);
            }
            at = body + chunk_size + (chunk_size & 1);
        }
        return true;
    }

    // The index, where it is whole and agrees with the chunks, gives the flags.
    void read_index(std::uint64_t body, std::uint64_t chunk_size)
    {
        std::vector<AviFrameRef> indexed;
        for (std::uint64_t e = body; e + 16 <= body + chunk_size; e += 16) {
            if (!is_frame_chunk(data + e)) {
                continue;
            }
            const std::uint64_t chunk = movi_code + get_le32(data + e + 8);
            if (chunk + 8 > size) {
                return;
            }
            indexed.push_back(AviFrameRef{chunk + 8, get_le32(data + chunk + 4), get_le32(data + e + 4)});
        }
        if (indexed.size() != layout.frames.size()) {
            return;
        }
        for (std::size_t i = 0; i < indexed.size(); ++i) {
            if (indexed[i].offset != layout.frames[i].offset) {
                return;
            }
        }
        layout.frames = std::move(indexed);
        layout.has_index = true;
    }
};

}  // namespace

AviReadResult read_avi_layout(const unsigned char* data, std::size_t size, AviLayout& layout)
{
    layout = AviLayout{};
    if (size < 12 || !is_tag(data, "RIFF") || !is_tag(data + 8, "AVI ")) {
        return AviReadResult::not_avi;
    }
    Reader reader{data, size, layout};
    const std::uint64_t riff_end = std::min<std::uint64_t>(size, std::uint64_t(get_le32(data + 4)) + 8);
    if (!reader.walk(12, riff_end, 0)) {
        return AviReadResult::truncated;
    }
    if (!reader.found_format) {
        return AviReadResult::no_stream;
    }
    if (!reader.found_movi) {
        return AviReadResult::no_movi;
    }
    return AviReadResult::ok;
}

const char* avi_read_text(AviReadResult result)
{
    switch (result) {
    case AviReadResult::ok:
        return "ok";
    case AviReadResult::not_avi:
        return "not an AVI file";
    case AviReadResult::truncated:
        return "a chunk runs past the end of the file";
    case AviReadResult::no_stream:
        return "no video stream format";
    case AviReadResult::no_movi:
        return "no movi list";
    }
    return "unknown";
}
