// A test-only writer of QuickTime movies with uncompressed frames: any
// sample-to-chunk layout, gaps between chunks, decoy tags inside earlier
// atoms, and fields or tables with chosen (also wrong) values.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace test {

using Bytes = std::vector<unsigned char>;

struct MovieParams {
    int width = 4;
    int height = 3;
    std::string format = "raw ";
    std::uint32_t time_scale = 600;
    std::uint32_t sample_duration = 24;
    std::vector<Bytes> frames;                 // in the movie's own storage order
    std::vector<std::uint32_t> chunk_frames;   // frames per chunk; empty: one chunk per frame
    std::vector<std::uint32_t> gaps;           // bytes before each chunk in mdat (cycled)
    bool moov_first = true;                    // the movie atom before the frame data
    std::string decoy;                         // bytes of a "free" atom right after "mvhd"
    std::string leading_free;                  // bytes of a "free" atom before the movie atom and the frames
    // Overrides, for hostile movies.
    bool override_stsc = false;
    std::vector<std::uint32_t> stsc_words;     // record words as written (3 per record)
    std::int64_t stsc_count = -1;              // written count; -1: the number of records
    std::int64_t stco_count = -1;              // written count; -1: the number of chunks
    std::vector<std::uint32_t> extra_chunk_offsets;  // chunk offsets appended after the real ones
    // The chunk offset table lists the laid-out chunks in this order, each as
    // often as it appears (a few stored frames can so describe gigabytes);
    // empty: each chunk once, in order.
    std::vector<std::uint32_t> chunk_order;
};

class MovWriter {
public:
    Bytes bytes;

    void u8(unsigned v) { bytes.push_back(static_cast<unsigned char>(v)); }
    void u16(unsigned v)
    {
        u8(v >> 8);
        u8(v);
    }
    void u32(std::uint32_t v)
    {
        u16(v >> 16);
        u16(v & 0xFFFF);
    }
    void tag(const char* t) { bytes.insert(bytes.end(), t, t + 4); }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void raw(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    std::size_t begin_atom(const char* type)
    {
        const std::size_t at = bytes.size();
        u32(0);
        tag(type);
        return at;
    }
    void end_atom(std::size_t at)
    {
        const std::uint32_t size = static_cast<std::uint32_t>(bytes.size() - at);
        bytes[at] = static_cast<unsigned char>(size >> 24);
        bytes[at + 1] = static_cast<unsigned char>(size >> 16);
        bytes[at + 2] = static_cast<unsigned char>(size >> 8);
        bytes[at + 3] = static_cast<unsigned char>(size);
    }
    void put32(std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
        }
    }
};

// The chunks' frames laid out in mdat, and where each chunk starts.
inline Bytes make_movie(const MovieParams& p)
{
    std::vector<std::uint32_t> per_chunk = p.chunk_frames;
    if (per_chunk.empty()) {
        per_chunk.assign(p.frames.size(), 1);
    }
    // Records: one per change of frames per chunk.
    std::vector<std::uint32_t> stsc = p.stsc_words;
    if (!p.override_stsc) {
        stsc.clear();
        for (std::size_t c = 0; c < per_chunk.size(); ++c) {
            if (c == 0 || per_chunk[c] != per_chunk[c - 1]) {
                stsc.push_back(static_cast<std::uint32_t>(c + 1));
                stsc.push_back(per_chunk[c]);
                stsc.push_back(1);
            }
        }
    }

    // mdat content, with the chunk offsets relative to its data.
    Bytes mdat;
    std::vector<std::uint32_t> relative;
    std::size_t frame = 0;
    for (std::size_t c = 0; c < per_chunk.size(); ++c) {
        if (!p.gaps.empty()) {
            mdat.insert(mdat.end(), p.gaps[c % p.gaps.size()], 0xEE);
        }
        relative.push_back(static_cast<std::uint32_t>(mdat.size()));
        for (std::uint32_t k = 0; k < per_chunk[c] && frame < p.frames.size(); ++k, ++frame) {
            mdat.insert(mdat.end(), p.frames[frame].begin(), p.frames[frame].end());
        }
    }

    auto write_moov = [&](MovWriter& w, std::uint32_t mdat_data_start) {
        const std::size_t moov = w.begin_atom("moov");
        const std::size_t mvhd = w.begin_atom("mvhd");
        w.zeros(12);
        w.u32(p.time_scale);
        w.u32(p.sample_duration * static_cast<std::uint32_t>(p.frames.size()));
        w.u32(0x00010000);
        w.u16(0x0100);
        w.zeros(10 + 36 + 24);
        w.u32(2);
        w.end_atom(mvhd);
        if (!p.decoy.empty()) {
            const std::size_t free_atom = w.begin_atom("free");
            w.bytes.insert(w.bytes.end(), p.decoy.begin(), p.decoy.end());
            w.end_atom(free_atom);
        }
        const std::size_t trak = w.begin_atom("trak");
        const std::size_t tkhd = w.begin_atom("tkhd");
        w.u32(0x0000000F);
        w.zeros(8);
        w.u32(1);
        w.zeros(4);
        w.u32(p.sample_duration * static_cast<std::uint32_t>(p.frames.size()));
        w.zeros(8 + 2 + 2 + 2 + 2 + 36);
        w.u32(static_cast<std::uint32_t>(p.width) << 16);
        w.u32(static_cast<std::uint32_t>(p.height) << 16);
        w.end_atom(tkhd);
        const std::size_t mdia = w.begin_atom("mdia");
        const std::size_t mdhd = w.begin_atom("mdhd");
        w.zeros(12);
        w.u32(p.time_scale);
        w.u32(p.sample_duration * static_cast<std::uint32_t>(p.frames.size()));
        w.zeros(4);
        w.end_atom(mdhd);
        const std::size_t minf = w.begin_atom("minf");
        const std::size_t stbl = w.begin_atom("stbl");
        const std::size_t stsd = w.begin_atom("stsd");
        w.zeros(4);
        w.u32(1);
        w.u32(86);
        w.bytes.insert(w.bytes.end(), p.format.begin(), p.format.begin() + 4);
        w.zeros(6);
        w.u16(1);
        w.zeros(4 + 4 + 4 + 4);
        w.u16(static_cast<unsigned>(p.width));
        w.u16(static_cast<unsigned>(p.height));
        w.u32(0x00480000);
        w.u32(0x00480000);
        w.zeros(4);
        w.u16(1);
        w.zeros(32);
        w.u16(24);
        w.u16(0xFFFF);
        w.end_atom(stsd);
        const std::size_t stts = w.begin_atom("stts");
        w.zeros(4);
        w.u32(1);
        w.u32(static_cast<std::uint32_t>(p.frames.size()));
        w.u32(p.sample_duration);
        w.end_atom(stts);
        const std::size_t stsc_atom = w.begin_atom("stsc");
        w.zeros(4);
        w.u32(p.stsc_count >= 0 ? static_cast<std::uint32_t>(p.stsc_count) : static_cast<std::uint32_t>(stsc.size() / 3));
        for (std::uint32_t word : stsc) {
            w.u32(word);
        }
        w.end_atom(stsc_atom);
        const std::size_t stsz = w.begin_atom("stsz");
        w.zeros(4);
        w.u32(static_cast<std::uint32_t>(p.width) * static_cast<std::uint32_t>(p.height) * 3u);
        w.u32(static_cast<std::uint32_t>(p.frames.size()));
        w.end_atom(stsz);
        const std::size_t stco = w.begin_atom("stco");
        w.zeros(4);
        std::vector<std::uint32_t> listed = relative;
        if (!p.chunk_order.empty()) {
            listed.clear();
            for (std::uint32_t c : p.chunk_order) {
                listed.push_back(relative[c]);
            }
        }
        const std::size_t chunks = listed.size() + p.extra_chunk_offsets.size();
        w.u32(p.stco_count >= 0 ? static_cast<std::uint32_t>(p.stco_count) : static_cast<std::uint32_t>(chunks));
        for (std::uint32_t r : listed) {
            w.u32(mdat_data_start + r);
        }
        for (std::uint32_t o : p.extra_chunk_offsets) {
            w.u32(o);
        }
        w.end_atom(stco);
        w.end_atom(stbl);
        w.end_atom(minf);
        w.end_atom(mdia);
        w.end_atom(trak);
        w.end_atom(moov);
    };

    MovWriter w;
    const std::size_t ftyp = w.begin_atom("ftyp");
    w.tag("qt  ");
    w.u32(0x200);
    w.tag("qt  ");
    w.end_atom(ftyp);
    if (!p.leading_free.empty()) {
        const std::size_t free_atom = w.begin_atom("free");
        w.bytes.insert(w.bytes.end(), p.leading_free.begin(), p.leading_free.end());
        w.end_atom(free_atom);
    }
    if (p.moov_first) {
        MovWriter probe;
        write_moov(probe, 0);
        const std::uint32_t data_start = static_cast<std::uint32_t>(w.bytes.size() + probe.bytes.size() + 8);
        write_moov(w, data_start);
        const std::size_t atom = w.begin_atom("mdat");
        w.raw(mdat);
        w.end_atom(atom);
    } else {
        const std::size_t atom = w.begin_atom("mdat");
        const std::uint32_t data_start = static_cast<std::uint32_t>(w.bytes.size());
        w.raw(mdat);
        w.end_atom(atom);
        write_moov(w, data_start);
    }
    return w.bytes;
}

// Frames of deterministic content, in the movie's storage order.
inline Bytes pattern_frame(int width, int height, unsigned seed)
{
    Bytes frame(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        state = state * 1103515245u + 12345u;
        frame[i] = static_cast<unsigned char>((i * 7 + seed * 31) ^ (state >> 24));
    }
    return frame;
}

}  // namespace test
