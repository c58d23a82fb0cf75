// The AVI writer: the header template and the header, chunks and idx1 of
// a plain file pinned byte for byte; files continued past the first RIFF,
// with stand-in limits so that the switch points and the OpenDML indexes
// are checked without writing gigabytes; and what readers make of them.
#include "avi/avi_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/compact_empty.h"
#include "common/byte_order.h"
#include "entropy/zero.h"
#include "support/avi_check.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

std::uint32_t le32(const Bytes& b, std::size_t at) { return get_le32(b.data() + at); }

std::string hex(const Bytes& b, std::size_t at, std::size_t n)
{
    std::string s;
    for (std::size_t i = at; i < at + n; ++i) {
        s += "0123456789abcdef"[b[i] >> 4];
        s += "0123456789abcdef"[b[i] & 15];
    }
    return s;
}

struct Written {
    std::string path;
    int frames_written = 0;
    Fault fault = Fault::none;
};

// Frames of `size` bytes (frame i filled with i, every third not a key
// frame) under stand-in limits; stops at the first refused frame.
Written write_frames(const std::string& name, int frames, int size, std::uint64_t first_limit = 16384,
                     std::uint64_t riff_limit = 4096, int compressed = 1, const AviVideo& video = {})
{
    Written w{test::temp_path(name)};
    AviWriter writer;
    EXPECT_EQ(writer.init(w.path.c_str(), 8, 4, 25, 1, compressed, video), 1);
    writer.first_riff_limit = first_limit;
    writer.riff_limit = riff_limit;
    Bytes frame(static_cast<std::size_t>(size) + avi_frame_room);
    for (int i = 0; i < frames; ++i) {
        std::fill(frame.begin(), frame.end(), static_cast<unsigned char>(i));
        if (writer.write_frame(frame.data(), size, i % 3 == 2 ? 0 : 0x10) != 1) {
            w.fault = writer.failure.fault;
            return w;
        }
        ++w.frames_written;
    }
    EXPECT_EQ(writer.flush(), 1);
    return w;
}

TEST(AviWriter, HeaderTemplateHeaderChunksAndIndexArePinned)
{
    // The empty header, the template coded at zero-run level 1: chunk and
    // list codes and sizes, the index flag, one stream, quality 10,000, the
    // 352 x 240 rectangle, 24 bits per pixel, one extended frame; every
    // other byte 0.
    Bytes header(avi_header_size);
    ASSERT_EQ(zero::deRLE(compact_empty, compact_empty_size, header.data(), avi_header_size, 1), compact_empty_size);
    EXPECT_EQ(test::fnv1a(header), 0x1e22407777d7a025u);

    // A 320 x 200 file of four frames: the template with its fields filled.
    const std::string path = test::temp_path("header.avi");
    AviWriter writer;
    ASSERT_EQ(writer.init(path.c_str(), 320, 200, 30000, 1001, 1), 1);
    for (Bytes frame : {Bytes{1, 2, 3, 4, 5}, Bytes{6, 7}, Bytes{}, Bytes(8, 9)}) {
        const int size = static_cast<int>(frame.size());
        frame.resize(frame.size() + avi_frame_room, 0xAA);
        ASSERT_EQ(writer.write_frame(frame.data(), size, 0x10), 1);
    }
    ASSERT_EQ(writer.flush(), 1);
    const Bytes file = test::read_file(path);
    const std::pair<std::size_t, std::uint32_t> filled[] = {
        {0x04, std::uint32_t(file.size() - 8)}, {0x20, 33366},  // 1,000,000 x 1001 / 30000, truncated
        {0x30, 4}, {0x40, 320}, {0x44, 200}, {0x70, 0x63767274}, {0x80, 1001}, {0x84, 30000}, {0x8C, 4},
        {0x90, 12},  // the largest chunk plus 4
        {0x9C, 0}, {0xA0, 200u << 16 | 320}, {0xB0, 320}, {0xB4, 200}, {0xBC, 0x43565254}, {0xC0, 320 * 200 * 3},
        {0x1108, 4}, {0x2004, 0x2040 - 0x2008}};
    Bytes expected(file.begin(), file.begin() + avi_header_size);
    ASSERT_EQ(zero::deRLE(compact_empty, compact_empty_size, expected.data(), avi_header_size, 1), compact_empty_size);
    for (auto [at, v] : filled) {
        put_le32(expected.data() + at, v);
    }
    const std::string credit = "reelpack " REELPACK_VERSION;
    std::copy(credit.begin(), credit.end() + 1, expected.begin() + 0x1208);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + avi_header_size), expected);
    // Chunks padded to four bytes with zeros, the idx1 entries, "JUNK" and
    // zeros to a multiple of 1,024.
    EXPECT_EQ(hex(file, 0x200C, 52), "30306463" "05000000" "0102030405000000" "30306463" "02000000" "06070000"
                                     "30306463" "00000000" "30306463" "08000000" "0909090909090909");
    EXPECT_EQ(hex(file, 0x2040, 8), "69647831" "40000000");
    const std::uint32_t offsets[] = {4, 0x14, 0x20, 0x28};
    const std::uint32_t lengths[] = {8, 4, 0, 8};
    for (int i = 0; i < 4; ++i) {
        const std::size_t e = 0x2048 + 16 * i;
        EXPECT_EQ(hex(file, e, 8), "3030646310000000");
        EXPECT_EQ(le32(file, e + 8), offsets[i]);
        EXPECT_EQ(le32(file, e + 12), lengths[i]);
    }
    EXPECT_EQ(hex(file, 0x2088, 8), "4a554e4b00000000");
    EXPECT_EQ(file.size(), 9216u);
    EXPECT_TRUE(std::all_of(file.begin() + 0x2088 + 4, file.end(), [](unsigned char b) { return b == 0; }));
    const Bytes plain = test::read_file(write_frames("plain.avi", 1, 0, 16384, 4096, 0).path);
    EXPECT_EQ(hex(plain, 0x70, 4) + hex(plain, 0xBC, 4), "44494220" "00000000");  // "DIB ", no compression
    AviWriter form;  // an uncompressed form of its own: its code as handler and compression, its bits and size
    ASSERT_EQ(form.init(path.c_str(), 3, 2, 25, 1, 0, AviVideo{16, 0x32595559, 16}) + form.flush(), 2);
    const Bytes yuy2 = test::read_file(path);
    EXPECT_EQ(hex(yuy2, 0x70, 4) + hex(yuy2, 0xB8, 12), "59555932" "01001000" "59555932" "10000000");
    // A Tarvic stream of planes: strf and the bitmap header of 56 bytes,
    // the uncompressed form's bits and size, the record, then the JUNK 16
    // bytes shorter up to where it always ends; the reader finds the record.
    ASSERT_EQ(form.init(path.c_str(), 3, 2, 25, 1, 1, AviVideo{16, 0x59565955, 16, {0x59565955, 0x79757632, 1, 8}}) +
                  form.flush(), 2);
    const Bytes planes = test::read_file(path);
    EXPECT_EQ(hex(planes, 0x70, 4) + hex(planes, 0xA4, 0x48),
              "74727663" "73747266" "38000000" "38000000" "03000000" "02000000" "0100" "1000" "54525643" "10000000"
              + std::string(32, '0') + "5452564c" "55595659" "32767579" "01080000" "4a554e4b" "08100000");
    EXPECT_EQ(0xEC + le32(planes, 0xE8), 0x10F4u);
    const AviLayout read = test::layout_of(planes);
    EXPECT_TRUE(read.has_record && hex(planes, 0xD4, 16) == hex(Bytes(read.record, read.record + 16), 0, 16));
}

TEST(AviWriter, ContinuesInAvixRiffsWithPinnedStandardAndSuperIndexes)
{
    // Chunks of 108 bytes. The first RIFF, finished plainly, stays below
    // 16,384 while 8,216 + 124 n < 15,360: 57 frames. Each AVIX takes 24
    // bytes of headers, 116 per frame with its ix00 entry, 32 of ix00 header
    // and room for the tail within 4,096: 25 frames.
    const Written w = write_frames("odml.avi", 120, 100);
    ASSERT_EQ(w.frames_written, 120);
    const test::AviStructure s = test::read_avi_structure(w.path);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    const std::size_t per_riff[] = {57, 25, 25, 13};
    ASSERT_EQ(s.riffs.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(s.riffs[i].frames.size(), per_riff[i]) << i;
    }
    EXPECT_EQ(s.riffs[0].size, 8204u + 57 * 108 + 488 + 920 - 8);
    EXPECT_EQ(s.file_size % 1024, 0u);
    const Bytes file = test::read_file(w.path);
    // ix00 of the first RIFF: 480 bytes after its header, 2 longs per entry,
    // sub-type 0, type 1, 57 entries, "00dc", base 0x2008; the first entry
    // points 12 bytes past the base (just past the first chunk's header),
    // the third has bit 31 set: not a key frame.
    const std::size_t ix = static_cast<std::size_t>(s.riffs[0].ix00);
    EXPECT_EQ(hex(file, ix, 32), "69783030" "e0010000" "02000001" "39000000" "30306463" "0820000000000000" "00000000");
    EXPECT_EQ(hex(file, ix + 32, 24), "0c000000" "64000000" "78000000" "64000000" "e4000000" "64000080");
    // The super index in place of the JUNK at 0x00D4: 4,120 bytes, 4 longs
    // per entry, an index of indexes, 4 entries, "00dc", then per RIFF the
    // 64-bit position of its ix00, the ix00's size and its frame count.
    EXPECT_EQ(hex(file, 0xD4, 32), "696e6478" "18100000" "04000000" "04000000" "30306463" "000000000000000000000000");
    EXPECT_EQ(le32(file, 0xD4 + 32), ix);
    EXPECT_EQ(le32(file, 0xD4 + 40), 32u + 8 * 57);
    EXPECT_EQ(le32(file, 0xD4 + 44), 57u);
    EXPECT_EQ(le32(file, 0xD4 + 32 + 3 * 16 + 12), 13u);
    EXPECT_EQ(hex(file, 0xD4 + 32 + 4 * 16, 16), std::string(32, '0'));
    EXPECT_EQ(le32(file, 0x30), 57u);  // the main header counts the first RIFF's frames

    // The reader finds every frame, in order.
    const AviLayout layout = test::layout_of(file);
    EXPECT_EQ(layout.riff_count, 4);
    EXPECT_FALSE(layout.damaged);
    ASSERT_EQ(layout.frames.size(), 120u);
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        ASSERT_EQ(layout.frames[i].size, 100u) << i;
        ASSERT_EQ(file[layout.frames[i].offset], i) << i;
        ASSERT_EQ(file[layout.frames[i].offset + 99], i) << i;
    }
}

TEST(AviWriter, RiffCountPredictsTheWriter)
{
    // Chunks of 12 bytes: finished plainly the first RIFF would hold 255,
    // closed with ix00 and idx1 it holds 226; 1,100 frames grow the idx1 past
    // 512 entries.
    for (auto [size, frames, riffs] : {std::tuple{4, 240, 2}, {4, 226, 1}, {3, 1100, 1}, {5000, 7, 7}, {0, 58, 1}}) {
        const std::uint64_t first = size == 3 ? 1u << 30 : 16384, later = size == 3 ? 1u << 30 : 4096;
        const Written w = write_frames("count.avi", frames, size, first, later);
        ASSERT_EQ(w.frames_written, frames) << size << " " << frames;
        const test::AviStructure s = test::read_avi_structure(w.path);
        ASSERT_TRUE(s.errors.empty()) << size << " " << frames << ": " << s.errors.front();
        EXPECT_EQ(s.riffs.size(), std::size_t(riffs)) << size << " " << frames;
        EXPECT_EQ(avi_riff_count(frames, size, first, later), std::uint64_t(riffs)) << size << " " << frames;
    }
    EXPECT_EQ(avi_riff_count(0, 100), 1u);
    EXPECT_EQ(avi_riff_count(1, 20000, 16384, 4096), 0u);

    // Frames of 1,000 bytes: 6 in the first RIFF, 2 in each AVIX; 256 RIFFs
    // hold 516 frames and the 517th is refused; so is a first frame that the
    // first RIFF cannot hold, and a frame longer than any chunk.
    const Written full = write_frames("full.avi", 600, 1000);
    EXPECT_EQ(full.fault, Fault::avi_too_many_riffs);
    EXPECT_EQ(full.frames_written, 516);
    EXPECT_EQ(avi_riff_count(516, 1000, 16384, 4096), 256u);
    EXPECT_EQ(write_frames("first.avi", 1, 9000).fault, Fault::avi_frame_too_large);
    // A stream of planes' super index has room for 255 RIFFs: 514 frames.
    const AviVideo planes{16, 0x59565955, 64, {0x59565955, 0x79757632, 1, 8}};
    const Written held = write_frames("planes.avi", 514, 1000, 16384, 4096, 1, planes);
    const test::AviStructure s = test::read_avi_structure(held.path);
    EXPECT_TRUE(held.fault == Fault::none && s.errors.empty() && s.riffs.size() == 255u) << held.frames_written;
    EXPECT_EQ(write_frames("planes-full.avi", 515, 1000, 16384, 4096, 1, planes).fault, Fault::avi_too_many_riffs);
    AviWriter writer;
    const std::string huge = test::temp_path("huge.avi");
    ASSERT_EQ(writer.init(huge.c_str(), 8, 4, 25, 1, 1), 1);
    unsigned char byte[4] = {};
    EXPECT_EQ(writer.write_frame(byte, INT_MAX, 0x10), 0);
    EXPECT_EQ(writer.write_frame(byte, static_cast<int>(avi_max_frame_size) + 1, 0x10), 0);
    EXPECT_EQ(failure_text(writer.failure), "The output file " + huge + " cannot hold a frame of more than 2147467263 bytes");
}

// Frames and sound over many RIFFs: every RIFF indexes its sound chunks in
// an "ix01" beside its "ix00", the sound's "indx" points at each with the
// sample frames it holds, "idx1" lists both streams in file order, and
// ffmpeg reads every sample.
TEST(AviWriter, SoundHasItsOwnIndexesInEveryRiff)
{
    const std::string path = test::temp_path("odml-sound.avi");
    AviSound sound;
    sound.rate = 8000;
    sound.channels = 1;
    sound.bits = 16;
    Bytes heard;
    {
        AviWriter writer;
        ASSERT_EQ(writer.init(path.c_str(), 8, 4, 25, 1, 0, {}, &sound), 1);
        writer.first_riff_limit = 16384;
        writer.riff_limit = 4096;
        for (int i = 0; i < 60; ++i) {
            Bytes frame = test::pattern_frame(8, 4, unsigned(i));
            frame.resize(frame.size() + avi_frame_room);
            ASSERT_EQ(writer.write_frame(frame.data(), 96, 0x10), 1);
            const Bytes chunk(std::size_t(2 * (320 + i % 3)), static_cast<unsigned char>(i));  // 320 to 322 samples
            heard.insert(heard.end(), chunk.begin(), chunk.end());
            ASSERT_EQ(writer.write_sound(chunk.data(), std::uint32_t(chunk.size())), 1);
        }
        ASSERT_EQ(writer.flush(), 1);
    }
    const Bytes f = test::read_file(path);
    auto u32 = [&](std::uint64_t at) { return le32(f, static_cast<std::size_t>(at)); };
    auto tag = [&](std::uint64_t at) { return std::string(f.begin() + std::ptrdiff_t(at), f.begin() + std::ptrdiff_t(at + 4)); };
    ASSERT_EQ(tag(avi_offset::sound_super_index), "indx");
    ASSERT_EQ(tag(avi_offset::sound_super_index + 16), "01wb");
    const std::uint32_t riffs = u32(avi_offset::sound_super_index + 12);
    ASSERT_GT(riffs, 3u);
    std::uint64_t samples = 0;
    std::size_t chunks = 0;
    for (std::uint32_t r = 0; r < riffs; ++r) {
        const std::uint64_t entry = avi_offset::sound_super_index + 32 + 16 * r;
        const std::uint64_t ix01 = get_le64(f.data() + entry);
        ASSERT_EQ(tag(ix01), "ix01") << r;
        EXPECT_EQ(tag(ix01 + 16), "01wb");
        std::uint64_t in_riff = 0;
        const std::uint64_t base = get_le64(f.data() + ix01 + 20);
        for (std::uint32_t k = 0; k < u32(ix01 + 12); ++k) {
            const std::uint64_t data = base + u32(ix01 + 32 + 8 * k);
            const std::uint32_t size = u32(ix01 + 36 + 8 * k);
            EXPECT_EQ(tag(data - 8), "01wb");
            EXPECT_EQ(u32(data - 4), size);
            EXPECT_TRUE(std::equal(f.begin() + std::ptrdiff_t(data), f.begin() + std::ptrdiff_t(data + size),
                                   heard.begin() + std::ptrdiff_t(2 * (samples + in_riff))));
            in_riff += size / 2;
            ++chunks;
        }
        EXPECT_EQ(u32(entry + 12), in_riff) << r;  // the sample frames it holds
        samples += in_riff;
    }
    EXPECT_EQ(chunks, 60u);
    EXPECT_EQ(samples, heard.size() / 2);
    EXPECT_EQ(u32(avi_offset::sound_stream_length), samples);
    // "idx1" lists the first RIFF's frames and sound chunks in turn.
    const std::uint64_t idx1 =
        avi_offset::movi_code + avi_offset::sound_movi_shift + u32(avi_offset::movi_size + avi_offset::sound_movi_shift);
    ASSERT_EQ(tag(idx1), "idx1");
    for (std::uint32_t e = 0; e < u32(idx1 + 4) / 16; ++e) {
        EXPECT_EQ(tag(idx1 + 8 + 16 * e), e % 2 == 0 ? "00dc" : "01wb") << e;
    }
    if (test::have_program("ffmpeg")) {
        EXPECT_TRUE(test::run("ffmpeg -v error -i " + path + " -map 0:a -f s16le -").out ==
                    std::string(heard.begin(), heard.end()));
    }
}

}  // namespace
