// Writes the seed corpus of every fuzz target: valid movies, AVI files,
// frames and channel streams made by the same generators as the tests.
//   make_corpus <directory>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "avi/avi_writer.h"
#include "codec/codec.h"
#include "support/channel.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

void save(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes coded_frame(CodecInst& codec, const Bytes& pixels, int bits)
{
    if (codec.shape.count != 0) {
        Bytes out(tarvic_planes_bound(codec.width, codec.height, codec.layout, codec.shape.bits));
        std::size_t size = 0;
        const PlanePicture picture = packed_picture(codec.shape, const_cast<unsigned char*>(pixels.data()));
        (void)codec.CompressPlanes(picture, out.data(), size);
        out.resize(size);
        return out;
    }
    Bytes out(tarvic_frame_bound(codec.width, codec.height, bits));
    ICCOMPRESS block{};
    block.lpInput = pixels.data();
    block.lpOutput = out.data();
    codec.CompressContinue(&block, 0);
    out.resize(block.dwSize);
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus <directory>\n");
        return 2;
    }
    const std::string root = argv[1];
    for (const char* target : {"", "/movie", "/avi", "/frame", "/channel"}) {
        ::mkdir((root + target).c_str(), 0755);
    }

    // Plain movies, and the structures the reader follows beyond one plain
    // track: a colour table, WRLE, the movie atom last, other tracks, edit
    // lists, 64-bit offsets, fragments with sizes per sample, and a sound
    // track with edits.
    for (int kind = 0; kind < 8; ++kind) {
        test::MovieParams p = test::pattern_movie(3 + kind % 2, 2, 4, kind == 1 ? "WRLE" : "raw ");
        p.chunk_frames = {2, 1, 1};
        p.gaps = {0, 5};
        p.moov_first = kind != 2;
        p.handler = "vide";
        p.sound_tracks_before = kind == 3 ? 1 : 0;
        if (kind == 4) {
            p.edits = {24, -1, 0x10000, 48, 24, 0x10000};
        }
        p.co64 = kind == 5;
        p.fragmented = kind == 6;
        p.sample_sizes.assign(kind == 6 ? 4 : 0, 18);
        if (kind == 0) {
            p.depth = 8;
            p.colour_table = {0x102030, 0x405060, 0x708090};
            p.sample_size = 6;
            for (test::Bytes& frame : p.frames) {
                frame.resize(6);
            }
        }
        if (kind == 7) {
            p.sound_chunk.assign(40, 0x12);
            p.sound_chunks = 3;
            p.sound_edits = {10, -1, 0x10000, 20, 5, 0x10000};
        }
        save(root + "/movie/movie" + std::to_string(kind), test::make_movie(p));
    }
    // Y'CbCr 4:2:2 of an odd width, its rows of 8 bytes padded to 10.
    test::MovieParams pairs = test::pattern_movie(3, 2, 2, "2vuy");
    pairs.sample_size = 20;
    for (test::Bytes& frame : pairs.frames) {
        frame.resize(20);
    }
    save(root + "/movie/ycbcr", test::make_movie(pairs));

    // AVI files of both modes, the last frame one colour.
    for (int compressed : {0, 1}) {
        const int w = 9, h = 7;
        const std::string path = root + "/avi/avi" + std::to_string(compressed);
        CodecInst codec;
        AviWriter writer;
        writer.report = stderr;
        if (codec.CompressBegin(w, h, 24) != Status::ok || !writer.init(path.c_str(), w, h, 25, 1, compressed)) {
            return 1;
        }
        for (unsigned i = 0; i < 3; ++i) {
            const Bytes pixels = i < 2 ? test::pattern_frame(w, h, i) : Bytes(w * h * 3, 40);
            Bytes frame = compressed ? coded_frame(codec, pixels, 24) : pixels;
            const int size = static_cast<int>(frame.size());
            frame.resize(frame.size() + avi_frame_room);
            writer.write_frame(frame.data(), size, 0x10);
        }
        writer.flush();
    }

    // Frames: pixels to code (even modes) and coded frames (odd modes), of
    // 24- and 32-bit pixels and of each plane layout (mode bits 2 and 3);
    // the one-value picture of planes is a type 11 frame.
    int n = 0;
    for (auto [layout, bits] : {std::pair{0, 24}, {0, 32}, {1, 8}, {2, 8}, {3, 8}}) {
        for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {16, 16}}) {
            CodecInst codec;
            const PlaneShape shape = plane_shape(static_cast<PlaneLayout>(layout), w, h, 8);
            const Status begun = layout == 0 ? codec.CompressBegin(w, h, bits)
                                             : codec.BeginPlanes(w, h, static_cast<PlaneLayout>(layout), 8);
            if (begun != Status::ok) {
                return 1;
            }
            codec.keep_alpha = bits == 32;
            const std::size_t bytes = layout == 0 ? std::size_t(w) * h * (bits / 8) : planes_bytes(shape);
            Bytes pixels = test::pattern_frame(w, h * (layout == 0 ? bits / 8 : 4), static_cast<unsigned>(n));
            pixels.resize(bytes);
            const unsigned char mode = static_cast<unsigned char>((bits == 32 ? 2 : 0) | layout << 2);
            Bytes seed = {static_cast<unsigned char>(w - 1), static_cast<unsigned char>(h - 1), mode};
            save(root + "/frame/pixels" + std::to_string(n), seed + pixels);
            seed[2] = static_cast<unsigned char>(mode | 1);
            save(root + "/frame/coded" + std::to_string(n++), seed + coded_frame(codec, pixels, bits));
        }
    }

    // Frames of deep planes, 5 x 3: one of each layout and bits the tools
    // write (mode bits 5 to 7: 2 for 10 bits, 5 for 16), and a one-value
    // picture of 16-bit RGB with alpha, a type 11 frame; and one of 32 x 32,
    // whose prefix-coded parts are long enough for the decoder's fast loop.
    const struct {
        int layout, depth, bits;
        bool one_value;
        int w = 5, h = 3;
    } deep[] = {{1, 2, 10, false}, {2, 2, 10, false}, {4, 2, 10, false}, {4, 5, 16, false},
                {5, 5, 16, false}, {6, 5, 16, false}, {5, 5, 16, true},  {1, 2, 10, false, 32, 32}};
    for (const auto& d : deep) {
        CodecInst codec;
        if (codec.BeginPlanes(d.w, d.h, static_cast<PlaneLayout>(d.layout), d.bits) != Status::ok) {
            return 1;
        }
        Bytes pixels = test::pattern_frame(d.w, d.h * 8, static_cast<unsigned>(n));
        pixels.resize(planes_bytes(codec.shape));
        for (std::size_t i = 1; i < pixels.size(); i += 2) {
            pixels[i] = static_cast<unsigned char>(pixels[i] & ((1u << (d.bits - 8)) - 1));  // the high byte
        }
        if (d.one_value) {
            std::fill(pixels.begin(), pixels.end(), 0x21);
        }
        const unsigned char mode = static_cast<unsigned char>(d.layout << 2 | d.depth << 5);
        Bytes seed = {static_cast<unsigned char>(d.w - 1), static_cast<unsigned char>(d.h - 1), mode};
        save(root + "/frame/pixels" + std::to_string(n), seed + pixels);
        seed[2] = static_cast<unsigned char>(mode | 1);
        save(root + "/frame/coded" + std::to_string(n++), seed + coded_frame(codec, pixels, d.bits));
    }

    n = 0;
    for (const Bytes& channel : {Bytes{0x61, 0x62, 0x63}, Bytes(100, 0), Bytes{1}, Bytes{},
                                 test::pattern_frame(20, 10, 3)}) {
        Bytes stream(compact_bound(channel.size()));
        stream.resize(test::compact_channel(channel, stream.data()));
        const Bytes length = {static_cast<unsigned char>(channel.size()), static_cast<unsigned char>(channel.size() >> 8)};
        save(root + "/channel/channel" + std::to_string(n++), length + stream);
    }
    return 0;
}
