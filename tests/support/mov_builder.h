// A test-only writer of QuickTime movies with uncompressed frames: any
// sample-to-chunk layout, gaps between chunks, decoy tags inside earlier
// atoms, other tracks, edit lists, 64-bit chunk offsets, fragments, and
// fields or tables with chosen (also wrong) values.
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
    int depth = 24;
    std::vector<std::uint32_t> colour_table;   // depth 8: 0xRRGGBB a value, written with the description
    std::uint32_t sample_size = 0;             // stsz's size for all; 0: width x height x 3
    std::vector<std::uint32_t> sample_sizes;   // stsz's table instead, when not empty
    std::string handler;                       // the video track's hdlr type; empty: no hdlr
    int sound_tracks_before = 0;               // tracks with handler "soun" before the video track
    std::vector<std::int64_t> edits;           // elst entries: duration, media time, rate (16.16), ...
    std::int64_t elst_count = -1;              // written count; -1: the number of edits
    std::vector<std::uint32_t> durations;      // stts (count, duration) pairs; empty: one duration for all
    bool co64 = false;                         // chunk offsets as 64-bit words
    std::uint64_t hole = 0;                    // bytes of nothing in mdat before the frames (see hole_at)
    bool fragmented = false;                   // frames in movie fragments, one per chunk, not in the tables
    std::int64_t trun_count = -1;              // written frame count of every trun; -1: its frames
    // A sound track after the video: one stored chunk of 16-bit mono "twos"
    // samples at `sound_rate`, listed `sound_chunks` times, with its edits.
    Bytes sound_chunk;
    std::uint32_t sound_chunks = 1;
    std::uint32_t sound_rate = 8000;
    std::vector<std::int64_t> sound_edits;     // as `edits`
    bool sound_last_missing = false;           // the last listing lies past the end of the file
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

inline void write_track_header(MovWriter& w, std::uint32_t id, std::uint32_t duration, int width, int height)
{
    const std::size_t tkhd = w.begin_atom("tkhd");
    w.u32(0x0000000F);
    w.zeros(8);
    w.u32(id);
    w.zeros(4);
    w.u32(duration);
    w.zeros(8 + 2 + 2 + 2 + 2 + 36);
    w.u32(static_cast<std::uint32_t>(width) << 16);
    w.u32(static_cast<std::uint32_t>(height) << 16);
    w.end_atom(tkhd);
}

inline void write_handler(MovWriter& w, const char* type)
{
    const std::size_t hdlr = w.begin_atom("hdlr");
    w.zeros(4);
    w.tag("mhlr");
    w.tag(type);
    w.zeros(13);
    w.end_atom(hdlr);
}

inline void write_edits(MovWriter& w, const std::vector<std::int64_t>& edits, std::int64_t count)
{
    const std::size_t edts = w.begin_atom("edts");
    const std::size_t elst = w.begin_atom("elst");
    w.zeros(4);
    w.u32(count >= 0 ? static_cast<std::uint32_t>(count) : static_cast<std::uint32_t>(edits.size() / 3));
    for (std::int64_t word : edits) {
        w.u32(static_cast<std::uint32_t>(word));
    }
    w.end_atom(elst);
    w.end_atom(edts);
}

// A sound track of no samples, which the converter passes over.
inline void write_sound_track(MovWriter& w, std::uint32_t id)
{
    const std::size_t trak = w.begin_atom("trak");
    write_track_header(w, id, 0, 0, 0);
    const std::size_t mdia = w.begin_atom("mdia");
    const std::size_t mdhd = w.begin_atom("mdhd");
    w.zeros(12);
    w.u32(44100);
    w.zeros(8);
    w.end_atom(mdhd);
    write_handler(w, "soun");
    const std::size_t minf = w.begin_atom("minf");
    const std::size_t stbl = w.begin_atom("stbl");
    for (const char* table : {"stts", "stsc", "stco"}) {
        const std::size_t atom = w.begin_atom(table);
        w.zeros(8);
        w.end_atom(atom);
    }
    w.end_atom(stbl);
    w.end_atom(minf);
    w.end_atom(mdia);
    w.end_atom(trak);
}

// The chunks' frames laid out in mdat, and where each chunk starts. A movie
// with a hole is returned without it: write it with write_movie().
inline Bytes make_movie(const MovieParams& p, std::size_t* hole_at = nullptr)
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
    std::vector<Bytes> chunk_bytes;
    std::size_t frame = 0;
    for (std::size_t c = 0; c < per_chunk.size(); ++c) {
        if (!p.gaps.empty()) {
            mdat.insert(mdat.end(), p.gaps[c % p.gaps.size()], 0xEE);
        }
        relative.push_back(static_cast<std::uint32_t>(mdat.size()));
        Bytes chunk;
        for (std::uint32_t k = 0; k < per_chunk[c] && frame < p.frames.size(); ++k, ++frame) {
            chunk.insert(chunk.end(), p.frames[frame].begin(), p.frames[frame].end());
        }
        mdat.insert(mdat.end(), chunk.begin(), chunk.end());
        chunk_bytes.push_back(chunk);
    }
    const std::size_t sound_at = mdat.size();
    mdat.insert(mdat.end(), p.sound_chunk.begin(), p.sound_chunk.end());
    const std::uint32_t frame_bytes = static_cast<std::uint32_t>(p.width) * static_cast<std::uint32_t>(p.height) * 3u;
    const std::uint32_t frame_count = static_cast<std::uint32_t>(p.frames.size());

    auto write_moov = [&](MovWriter& w, std::uint64_t mdat_data_start) {
        const std::size_t moov = w.begin_atom("moov");
        const std::size_t mvhd = w.begin_atom("mvhd");
        w.zeros(12);
        w.u32(p.time_scale);
        w.u32(p.sample_duration * frame_count);
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
        for (int t = 0; t < p.sound_tracks_before; ++t) {
            write_sound_track(w, static_cast<std::uint32_t>(t + 2));
        }
        const std::size_t trak = w.begin_atom("trak");
        write_track_header(w, 1, p.sample_duration * frame_count, p.width, p.height);
        if (!p.edits.empty() || p.elst_count >= 0) {
            write_edits(w, p.edits, p.elst_count);
        }
        const std::size_t mdia = w.begin_atom("mdia");
        const std::size_t mdhd = w.begin_atom("mdhd");
        w.zeros(12);
        w.u32(p.time_scale);
        w.u32(p.sample_duration * frame_count);
        w.zeros(4);
        w.end_atom(mdhd);
        if (!p.handler.empty()) {
            write_handler(w, p.handler.c_str());
        }
        const std::size_t minf = w.begin_atom("minf");
        const std::size_t stbl = w.begin_atom("stbl");
        const std::size_t stsd = w.begin_atom("stsd");
        w.zeros(4);
        w.u32(1);
        const std::size_t entry = w.begin_atom(p.format.c_str());
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
        w.u16(static_cast<unsigned>(p.depth));
        if (p.colour_table.empty()) {
            w.u16(0xFFFF);
        } else {
            w.u16(0);
            w.zeros(4 + 2);
            w.u16(static_cast<unsigned>(p.colour_table.size() - 1));
            for (std::size_t v = 0; v < p.colour_table.size(); ++v) {
                w.u16(static_cast<unsigned>(v));
                for (int shift : {16, 8, 0}) {
                    w.u16(((p.colour_table[v] >> shift) & 0xFF) * 0x101);
                }
            }
        }
        w.end_atom(entry);
        w.end_atom(stsd);
        const std::uint32_t listed_frames = p.fragmented ? 0 : frame_count;
        const std::size_t stts = w.begin_atom("stts");
        w.zeros(4);
        if (p.fragmented) {
            w.u32(0);
        } else if (!p.durations.empty()) {
            w.u32(static_cast<std::uint32_t>(p.durations.size() / 2));
            for (std::uint32_t word : p.durations) {
                w.u32(word);
            }
        } else {
            w.u32(1);
            w.u32(listed_frames);
            w.u32(p.sample_duration);
        }
        w.end_atom(stts);
        const std::size_t stsc_atom = w.begin_atom("stsc");
        w.zeros(4);
        if (p.fragmented) {
            w.u32(0);
        } else {
            w.u32(p.stsc_count >= 0 ? static_cast<std::uint32_t>(p.stsc_count)
                                    : static_cast<std::uint32_t>(stsc.size() / 3));
            for (std::uint32_t word : stsc) {
                w.u32(word);
            }
        }
        w.end_atom(stsc_atom);
        const std::size_t stsz = w.begin_atom("stsz");
        w.zeros(4);
        if (!p.sample_sizes.empty() && !p.fragmented) {
            w.u32(0);
            w.u32(static_cast<std::uint32_t>(p.sample_sizes.size()));
            for (std::uint32_t size : p.sample_sizes) {
                w.u32(size);
            }
        } else {
            w.u32(p.sample_size != 0 ? p.sample_size : frame_bytes);
            w.u32(listed_frames);
        }
        w.end_atom(stsz);
        const std::size_t stco = w.begin_atom(p.co64 ? "co64" : "stco");
        w.zeros(4);
        std::vector<std::uint64_t> listed;
        for (std::uint32_t r : relative) {
            listed.push_back(mdat_data_start + r);
        }
        if (!p.chunk_order.empty()) {
            listed.clear();
            for (std::uint32_t c : p.chunk_order) {
                listed.push_back(mdat_data_start + relative[c]);
            }
        }
        for (std::uint32_t o : p.extra_chunk_offsets) {
            listed.push_back(o);
        }
        if (p.fragmented) {
            listed.clear();
        }
        w.u32(p.stco_count >= 0 ? static_cast<std::uint32_t>(p.stco_count) : static_cast<std::uint32_t>(listed.size()));
        for (std::uint64_t o : listed) {
            if (p.co64) {
                w.u32(static_cast<std::uint32_t>(o >> 32));
            }
            w.u32(static_cast<std::uint32_t>(o));
        }
        w.end_atom(stco);
        w.end_atom(stbl);
        w.end_atom(minf);
        w.end_atom(mdia);
        w.end_atom(trak);
        if (!p.sound_chunk.empty()) {
            const std::uint32_t per_chunk_samples = static_cast<std::uint32_t>(p.sound_chunk.size() / 2);
            const std::size_t strak = w.begin_atom("trak");
            write_track_header(w, 3, 0, 0, 0);
            if (!p.sound_edits.empty()) {
                write_edits(w, p.sound_edits, -1);
            }
            const std::size_t smdia = w.begin_atom("mdia");
            const std::size_t smdhd = w.begin_atom("mdhd");
            w.zeros(12);
            w.u32(p.sound_rate);
            w.u32(per_chunk_samples * p.sound_chunks);
            w.zeros(4);
            w.end_atom(smdhd);
            write_handler(w, "soun");
            const std::size_t sminf = w.begin_atom("minf");
            const std::size_t sstbl = w.begin_atom("stbl");
            const std::size_t sstsd = w.begin_atom("stsd");
            w.zeros(4);
            w.u32(1);
            const std::size_t twos = w.begin_atom("twos");
            w.zeros(6);
            w.u16(1);
            w.zeros(8);  // version, revision, vendor
            w.u16(1);    // channels
            w.u16(16);   // bits
            w.zeros(4);
            w.u32(p.sound_rate << 16);
            w.end_atom(twos);
            w.end_atom(sstsd);
            for (const std::vector<std::uint32_t>& table :
                 {std::vector<std::uint32_t>{0, 1, per_chunk_samples * p.sound_chunks, 1},    // stts
                  std::vector<std::uint32_t>{0, 1, 1, per_chunk_samples, 1},                  // stsc
                  std::vector<std::uint32_t>{0, 2, per_chunk_samples * p.sound_chunks}}) {    // stsz
                const std::size_t atom = w.begin_atom(table.size() == 4 ? "stts" : table.size() == 5 ? "stsc" : "stsz");
                for (std::uint32_t word : table) {
                    w.u32(word);
                }
                w.end_atom(atom);
            }
            const std::size_t sstco = w.begin_atom("stco");
            w.zeros(4);
            w.u32(p.sound_chunks);
            for (std::uint32_t c = 0; c < p.sound_chunks; ++c) {
                const bool past = p.sound_last_missing && c + 1 == p.sound_chunks;
                w.u32(static_cast<std::uint32_t>(mdat_data_start + sound_at) + (past ? 0x40000000u : 0u));
            }
            w.end_atom(sstco);
            w.end_atom(sstbl);
            w.end_atom(sminf);
            w.end_atom(smdia);
            w.end_atom(strak);
        }
        if (p.fragmented) {
            const std::size_t mvex = w.begin_atom("mvex");
            const std::size_t trex = w.begin_atom("trex");
            w.zeros(4);
            w.u32(1);
            w.u32(1);
            w.u32(p.sample_duration);
            w.u32(p.sample_size != 0 ? p.sample_size : frame_bytes);
            w.u32(0);
            w.end_atom(trex);
            w.end_atom(mvex);
        }
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
    if (p.fragmented) {
        // Each chunk a fragment: its data counted from the fragment's start.
        write_moov(w, 0);
        std::size_t first = 0;
        for (std::size_t c = 0; c < chunk_bytes.size(); ++c) {
            const std::size_t moof = w.begin_atom("moof");
            const std::size_t mfhd = w.begin_atom("mfhd");
            w.zeros(4);
            w.u32(static_cast<std::uint32_t>(c + 1));
            w.end_atom(mfhd);
            const std::size_t traf = w.begin_atom("traf");
            const std::size_t tfhd = w.begin_atom("tfhd");
            w.u32(0x020000);  // the data's offsets count from the fragment
            w.u32(1);
            w.end_atom(tfhd);
            const std::size_t trun = w.begin_atom("trun");
            const bool sizes = !p.sample_sizes.empty();
            w.u32(sizes ? 0x201 : 0x001);
            w.u32(p.trun_count >= 0 ? static_cast<std::uint32_t>(p.trun_count) : per_chunk[c]);
            const std::size_t data_offset = w.bytes.size();
            w.u32(0);
            if (sizes) {
                for (std::uint32_t k = 0; k < per_chunk[c]; ++k) {
                    w.u32(p.sample_sizes[first + k]);
                }
            }
            first += per_chunk[c];
            w.end_atom(trun);
            w.end_atom(traf);
            w.end_atom(moof);
            w.put32(data_offset, static_cast<std::uint32_t>(w.bytes.size() - moof + 8));
            const std::size_t atom = w.begin_atom("mdat");
            w.raw(chunk_bytes[c]);
            w.end_atom(atom);
        }
    } else if (p.moov_first) {
        MovWriter probe;
        write_moov(probe, 0);
        const std::uint32_t data_start = static_cast<std::uint32_t>(w.bytes.size() + probe.bytes.size() + 8);
        write_moov(w, data_start);
        const std::size_t atom = w.begin_atom("mdat");
        w.raw(mdat);
        w.end_atom(atom);
    } else if (p.hole > 0) {
        // A 64-bit mdat whose frames follow a hole.
        const std::size_t atom = w.bytes.size();
        w.u32(1);
        w.tag("mdat");
        w.u32(0);
        w.u32(0);
        if (hole_at != nullptr) {
            *hole_at = w.bytes.size();
        }
        const std::uint64_t data_start = w.bytes.size() + p.hole;
        w.raw(mdat);
        const std::uint64_t size = w.bytes.size() - atom + p.hole;
        w.put32(atom + 8, static_cast<std::uint32_t>(size >> 32));
        w.put32(atom + 12, static_cast<std::uint32_t>(size));
        write_moov(w, data_start);
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

// A movie of `frames` pattern frames, of seeds first_seed, first_seed + 1, ...
inline MovieParams pattern_movie(int width, int height, int frames, const std::string& format = "raw ",
                                 unsigned first_seed = 0)
{
    MovieParams p;
    p.width = width;
    p.height = height;
    p.format = format;
    for (int i = 0; i < frames; ++i) {
        p.frames.push_back(pattern_frame(width, height, first_seed + static_cast<unsigned>(i)));
    }
    return p;
}

}  // namespace test
