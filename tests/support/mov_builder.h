// A test-only writer of QuickTime movies with uncompressed frames: any
// sample-to-chunk layout, gaps between chunks, decoy tags inside earlier
// atoms, other tracks, edit lists, 64-bit chunk offsets, fragments, and
// fields or tables with chosen (also wrong) values.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
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
    // Each fragment's data: another track's samples of this many bytes (in
    // a track fragment before the video's; 0: none), 3 bytes, the frames.
    std::uint32_t other_fragment_bytes = 0;
    // Where the video's track fragment places its frames: "moof" (from the
    // fragment's start), "mdat" (a base at the fragment's data), "frames"
    // (a base at the frames, the run with no offset of its own) or "after"
    // (neither: from where the track fragment before it ends its data).
    std::string video_base = "moof";
    // A sound track after the video: one stored chunk of mono samples of
    // `sound_format` and `sound_bits` at `sound_rate`, listed `sound_chunks`
    // times, with its edits.
    Bytes sound_chunk;
    std::string sound_format = "twos";
    std::uint32_t sound_bits = 16;
    std::uint32_t sound_chunks = 1;
    std::uint32_t sound_rate = 8000;
    std::vector<std::int64_t> sound_edits;     // as `edits`
    bool sound_last_missing = false;           // the last listing lies past the end of the file
};

// Big-endian fields and atoms whose sizes are filled in when they end.
struct MovWriter {
    Bytes bytes;

    void u16(unsigned v) { bytes.insert(bytes.end(), {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)}); }
    void u32(std::uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); }
    template <class Words> void all(const Words& values) { for (auto v : values) { u32(static_cast<std::uint32_t>(v)); } }
    void words(std::initializer_list<std::uint32_t> values) { all(values); }
    void tag(const char* t) { bytes.insert(bytes.end(), t, t + 4); }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    template <class Data> void raw(const Data& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    void put32(std::size_t at, std::uint32_t v) { for (int i = 0; i < 4; ++i) { bytes[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i)); } }
    std::size_t atom(const char* type, const std::function<void()>& body)
    {
        const std::size_t at = bytes.size();
        u32(0);
        tag(type);
        body();
        put32(at, static_cast<std::uint32_t>(bytes.size() - at));
        return at;
    }
};

inline void write_track_header(MovWriter& w, std::uint32_t id, std::uint32_t duration, int width, int height)
{
    w.atom("tkhd", [&] {
        w.words({0x0000000F, 0, 0, id, 0, duration});
        w.zeros(8 + 2 + 2 + 2 + 2 + 36);
        w.words({static_cast<std::uint32_t>(width) << 16, static_cast<std::uint32_t>(height) << 16});
    });
}

inline void write_handler(MovWriter& w, const char* type)
{
    w.atom("hdlr", [&] {
        w.words({0, 0x6D686C72});  // "mhlr"
        w.tag(type);
        w.zeros(13);
    });
}

inline void write_edits(MovWriter& w, const std::vector<std::int64_t>& edits, std::int64_t count)
{
    w.atom("edts", [&] {
        w.atom("elst", [&] {
            w.words({0, count >= 0 ? static_cast<std::uint32_t>(count) : static_cast<std::uint32_t>(edits.size() / 3)});
            w.all(edits);
        });
    });
}

// A sound track of `samples` at `rate` a second: its edits, and the sample
// tables that `tables` writes.
inline void write_sound_track(MovWriter& w, std::uint32_t id, std::uint32_t rate, std::uint32_t samples,
                              const std::vector<std::int64_t>& edits, const std::function<void()>& tables)
{
    w.atom("trak", [&] {
        write_track_header(w, id, 0, 0, 0);
        if (!edits.empty()) {
            write_edits(w, edits, -1);
        }
        w.atom("mdia", [&] {
            w.atom("mdhd", [&] { w.words({0, 0, 0, rate, samples, 0}); });
            write_handler(w, "soun");
            w.atom("minf", [&] { w.atom("stbl", tables); });
        });
    });
}

// The chunks' frames laid out in mdat, and where each chunk starts. A movie
// with a hole is returned without it, the hole to be left at *hole_at.
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
                stsc.insert(stsc.end(), {static_cast<std::uint32_t>(c + 1), per_chunk[c], 1});
            }
        }
    }
    // mdat content, with the chunk offsets relative to its data.
    Bytes mdat;
    std::vector<std::uint32_t> relative;
    std::vector<Bytes> chunk_bytes;
    for (std::size_t c = 0, frame = 0; c < per_chunk.size(); ++c) {
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
    const std::uint32_t listed_frames = p.fragmented ? 0 : frame_count;
    const std::uint32_t duration = p.sample_duration * frame_count;

    auto write_stbl = [&](MovWriter& w, std::uint64_t mdat_data_start) {
        w.atom("stsd", [&] {
            w.words({0, 1});
            w.atom(p.format.c_str(), [&] {
                w.words({0, 1, 0, 0, 0, 0});  // data reference 1, versions, vendor, qualities
                w.words({std::uint32_t(p.width) << 16 | std::uint32_t(p.height), 0x00480000, 0x00480000, 0});
                w.u16(1);
                w.zeros(32);
                w.u16(static_cast<unsigned>(p.depth));
                w.u16(p.colour_table.empty() ? 0xFFFF : 0);
                if (!p.colour_table.empty()) {
                    w.zeros(4 + 2);
                    w.u16(static_cast<unsigned>(p.colour_table.size() - 1));
                    for (std::size_t v = 0; v < p.colour_table.size(); ++v) {
                        w.u16(static_cast<unsigned>(v));
                        for (int shift : {16, 8, 0}) {
                            w.u16(((p.colour_table[v] >> shift) & 0xFF) * 0x101);
                        }
                    }
                }
            });
        });
        w.atom("stts", [&] {
            w.zeros(4);
            if (p.fragmented) {
                w.u32(0);
            } else if (!p.durations.empty()) {
                w.u32(static_cast<std::uint32_t>(p.durations.size() / 2));
                w.all(p.durations);
            } else {
                w.words({1, listed_frames, p.sample_duration});
            }
        });
        w.atom("stsc", [&] {
            w.zeros(4);
            w.u32(p.fragmented ? 0 : p.stsc_count >= 0 ? static_cast<std::uint32_t>(p.stsc_count) : std::uint32_t(stsc.size() / 3));
            w.all(p.fragmented ? std::vector<std::uint32_t>() : stsc);
        });
        w.atom("stsz", [&] {
            w.zeros(4);
            if (!p.sample_sizes.empty() && !p.fragmented) {
                w.words({0, static_cast<std::uint32_t>(p.sample_sizes.size())});
                w.all(p.sample_sizes);
            } else {
                w.words({p.sample_size != 0 ? p.sample_size : frame_bytes, listed_frames});
            }
        });
        w.atom(p.co64 ? "co64" : "stco", [&] {
            std::vector<std::uint64_t> listed;
            if (!p.fragmented) {
                for (std::size_t k = 0; k < (p.chunk_order.empty() ? relative.size() : p.chunk_order.size()); ++k) {
                    listed.push_back(mdat_data_start + relative[p.chunk_order.empty() ? k : p.chunk_order[k]]);
                }
                listed.insert(listed.end(), p.extra_chunk_offsets.begin(), p.extra_chunk_offsets.end());
            }
            w.zeros(4);
            w.u32(p.stco_count >= 0 ? static_cast<std::uint32_t>(p.stco_count) : static_cast<std::uint32_t>(listed.size()));
            for (std::uint64_t o : listed) {
                if (p.co64) {
                    w.u32(static_cast<std::uint32_t>(o >> 32));
                }
                w.u32(static_cast<std::uint32_t>(o));
            }
        });
    };

    auto write_moov = [&](MovWriter& w, std::uint64_t mdat_data_start) {
        w.atom("moov", [&] {
            w.atom("mvhd", [&] {
                w.words({0, 0, 0, p.time_scale, duration, 0x00010000});
                w.u16(0x0100);
                w.zeros(10 + 36 + 24);
                w.u32(2);
            });
            if (!p.decoy.empty()) {
                w.atom("free", [&] { w.raw(p.decoy); });
            }
            for (int t = 0; t < p.sound_tracks_before; ++t) {
                write_sound_track(w, static_cast<std::uint32_t>(t + 2), 44100, 0, {}, [&] {  // passed over
                    for (const char* table : {"stts", "stsc", "stco"}) {
                        w.atom(table, [&] { w.zeros(8); });
                    }
                });
            }
            w.atom("trak", [&] {
                write_track_header(w, 1, duration, p.width, p.height);
                if (!p.edits.empty() || p.elst_count >= 0) {
                    write_edits(w, p.edits, p.elst_count);
                }
                w.atom("mdia", [&] {
                    w.atom("mdhd", [&] { w.words({0, 0, 0, p.time_scale, duration, 0}); });
                    if (!p.handler.empty()) {
                        write_handler(w, p.handler.c_str());
                    }
                    w.atom("minf", [&] { w.atom("stbl", [&] { write_stbl(w, mdat_data_start); }); });
                });
            });
            if (!p.sound_chunk.empty()) {
                const std::uint32_t samples = static_cast<std::uint32_t>(p.sound_chunk.size() / (p.sound_bits / 8));
                write_sound_track(w, 3, p.sound_rate, samples * p.sound_chunks, p.sound_edits, [&] {
                    w.atom("stsd", [&] {
                        w.words({0, 1});
                        w.atom(p.sound_format.c_str(), [&] {
                            w.words({0, 1, 0, 0, 0x00010000 | p.sound_bits, 0, p.sound_rate << 16});  // 1 channel
                        });
                    });
                    w.atom("stts", [&] { w.words({0, 1, samples * p.sound_chunks, 1}); });
                    w.atom("stsc", [&] { w.words({0, 1, 1, samples, 1}); });
                    w.atom("stsz", [&] { w.words({0, p.sound_bits / 8, samples * p.sound_chunks}); });
                    w.atom("stco", [&] {
                        w.words({0, p.sound_chunks});
                        for (std::uint32_t c = 0; c < p.sound_chunks; ++c) {
                            const bool past = p.sound_last_missing && c + 1 == p.sound_chunks;
                            w.u32(static_cast<std::uint32_t>(mdat_data_start + sound_at) + (past ? 0x40000000u : 0u));
                        }
                    });
                });
            }
            if (p.fragmented) {
                w.atom("mvex", [&] {
                    w.atom("trex", [&] {
                        w.words({0, 1, 1, p.sample_duration, p.sample_size != 0 ? p.sample_size : frame_bytes, 0});
                    });
                });
            }
        });
    };

    MovWriter w;
    w.atom("ftyp", [&] { w.words({0x71742020, 0x200, 0x71742020}); });  // "qt  "
    if (!p.leading_free.empty()) {
        w.atom("free", [&] { w.raw(p.leading_free); });
    }
    if (p.fragmented) {
        // Each chunk a fragment, its frames placed as video_base says.
        write_moov(w, 0);
        for (std::size_t c = 0, first = 0; c < chunk_bytes.size(); first += per_chunk[c++]) {
            const bool other = p.other_fragment_bytes > 0;
            const bool based = p.video_base == "mdat" || p.video_base == "frames";
            std::size_t data_offset = 0, base_at = 0, other_offset = 0;
            const std::size_t moof = w.atom("moof", [&] {
                w.atom("mfhd", [&] { w.words({0, static_cast<std::uint32_t>(c + 1)}); });
                if (other) {
                    w.atom("traf", [&] {
                        w.atom("tfhd", [&] { w.words({0x020010, 9, p.other_fragment_bytes}); });  // track 9, one size
                        w.atom("trun", [&] {
                            w.words({0x001, 1});
                            other_offset = w.bytes.size();
                            w.u32(0);
                        });
                    });
                }
                w.atom("traf", [&] {
                    w.atom("tfhd", [&] {
                        w.words({based ? 0x1u : p.video_base == "after" ? 0u : 0x020000u, 1});
                        base_at = w.bytes.size();
                        w.zeros(based ? 8 : 0);
                    });
                    w.atom("trun", [&] {
                        const bool sizes = !p.sample_sizes.empty();
                        const bool offset = p.video_base != "frames";
                        w.words({(sizes ? 0x200u : 0u) | (offset ? 1u : 0u),
                                 p.trun_count >= 0 ? static_cast<std::uint32_t>(p.trun_count) : per_chunk[c]});
                        data_offset = w.bytes.size();
                        w.zeros(offset ? 4 : 0);
                        for (std::uint32_t k = 0; sizes && k < per_chunk[c]; ++k) {
                            w.u32(p.sample_sizes[first + k]);
                        }
                    });
                });
            });
            const std::size_t data = w.bytes.size() + 8, lead = other ? p.other_fragment_bytes + 3 : 0;
            if (other) {
                w.put32(other_offset, static_cast<std::uint32_t>(data - moof));
            }
            if (p.video_base == "moof" || p.video_base == "after") {
                w.put32(data_offset, static_cast<std::uint32_t>(p.video_base == "moof" ? data + lead - moof : 3));
            } else {
                w.put32(base_at + 4, static_cast<std::uint32_t>(p.video_base == "mdat" ? data : data + lead));
            }
            if (p.video_base == "mdat") {
                w.put32(data_offset, static_cast<std::uint32_t>(lead));
            }
            w.atom("mdat", [&] {
                w.bytes.insert(w.bytes.end(), p.other_fragment_bytes, 0xAA);
                w.bytes.insert(w.bytes.end(), lead - p.other_fragment_bytes, 0xEE);
                w.raw(chunk_bytes[c]);
            });
        }
    } else if (p.moov_first) {
        MovWriter probe;
        write_moov(probe, 0);
        write_moov(w, w.bytes.size() + probe.bytes.size() + 8);
        w.atom("mdat", [&] { w.raw(mdat); });
    } else if (p.hole > 0) {
        // A 64-bit mdat whose frames follow a hole.
        const std::size_t atom = w.bytes.size();
        w.words({1, 0x6D646174, 0, 0});  // size 1, "mdat", the 64-bit size
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
        const std::uint32_t data_start = static_cast<std::uint32_t>(w.bytes.size() + 8);
        w.atom("mdat", [&] { w.raw(mdat); });
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

// A "raw " 24-bit frame as the AVI file holds it: bottom row first, B G R.
inline Bytes avi_rows(const Bytes& stored, int width, int height)
{
    const std::size_t row = std::size_t(width) * 3;
    Bytes frame(stored.size());
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        for (std::size_t k = 0; k < row; ++k) {
            frame[y * row + k] = stored[(std::size_t(height) - 1 - y) * row + k / 3 * 3 + 2 - k % 3];
        }
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
