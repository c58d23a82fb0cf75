// Files continued past the first RIFF, with stand-in limits so that the
// switch points and index layouts are checked at the byte level without
// writing gigabytes: the first RIFF, the "AVIX" RIFFs, every "ix00", the
// "indx" super index and the counts, and what readers make of the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "support/avi_check.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

constexpr std::uint64_t small_first_riff = 16384;
constexpr std::uint64_t small_riff = 4096;

struct Written {
    std::string path;
    int frames_written = 0;
    AviError error = AviError::none;
};

// Frames of `size` bytes, frame i filled with i; every third frame is not a
// key frame. Stops at the first refused frame.
Written write_frames(const std::string& name, int frames, int size, std::uint64_t first_limit = small_first_riff,
                     std::uint64_t riff_limit = small_riff)
{
    Written w{test::temp_path(name)};
    AviWriter writer;
    EXPECT_EQ(writer.init(w.path.c_str(), 8, 4, 25, 1, 1), 1);
    writer.first_riff_limit = first_limit;
    writer.riff_limit = riff_limit;
    Bytes frame(static_cast<std::size_t>(size) + 3);
    for (int i = 0; i < frames; ++i) {
        std::fill(frame.begin(), frame.end(), static_cast<unsigned char>(i));
        if (writer.write_frame(frame.data(), size, i % 3 == 2 ? 0 : 0x10) != 1) {
            w.error = writer.error;
            return w;
        }
        ++w.frames_written;
    }
    EXPECT_EQ(writer.flush(), 1);
    return w;
}

std::vector<std::size_t> frames_per_riff(const test::AviStructure& s)
{
    std::vector<std::size_t> counts;
    for (const test::RiffInfo& r : s.riffs) {
        counts.push_back(r.frames.size());
    }
    return counts;
}

std::string hex(const Bytes& b, std::size_t at, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = at; i < at + n; ++i) {
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

TEST(OpenDml, ContinuesInAvixRiffsWithStandardAndSuperIndexes)
{
    // Chunks of 108 bytes. The first RIFF, finished plainly, stays below
    // 16,384 while 8,216 + 124 n < 15,360: 57 frames. Each AVIX takes 24
    // bytes of headers, 116 per frame with its ix00 entry, 32 of ix00 header
    // and room for the tail within 4,096: 25 frames.
    const Written w = write_frames("odml.avi", 120, 100);
    ASSERT_EQ(w.frames_written, 120);
    const test::AviStructure s = test::read_avi_structure(w.path);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    EXPECT_EQ(frames_per_riff(s), (std::vector<std::size_t>{57, 25, 25, 13}));
    EXPECT_EQ(avi_riff_count(120, 100, small_first_riff, small_riff), 4u);

    // The first RIFF: 57 chunks, ix00 (32 + 8 x 57), idx1 (8 + 16 x 57).
    EXPECT_EQ(s.riffs[0].size, 8204u + 57 * 108 + 488 + 920 - 8);
    EXPECT_EQ(s.riffs[0].movi_size, 4u + 57 * 108 + 488);
    for (std::size_t i = 1; i < s.riffs.size(); ++i) {
        EXPECT_LE(s.riffs[i].size + 8u, small_riff) << i;
        EXPECT_EQ(s.riffs[i].movi_code, s.riffs[i].start + 20) << i;
    }
    EXPECT_EQ(s.file_size % 1024, 0u);
    EXPECT_EQ(s.avih_total, 57u);
    EXPECT_EQ(s.strh_length, 120u);
    EXPECT_EQ(s.dmlh_total, 120u);

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
    EXPECT_EQ(test::le32(file, 0xD4 + 32), ix);
    EXPECT_EQ(test::le32(file, 0xD4 + 40), 32u + 8 * 57);
    EXPECT_EQ(test::le32(file, 0xD4 + 44), 57u);
    EXPECT_EQ(test::le32(file, 0xD4 + 32 + 3 * 16 + 12), 13u);
    EXPECT_EQ(hex(file, 0xD4 + 32 + 4 * 16, 16), std::string(32, '0'));

    // The reader finds every frame, in order, with its bytes.
    AviLayout layout;
    ASSERT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    EXPECT_EQ(layout.riff_count, 4);
    EXPECT_FALSE(layout.damaged);
    ASSERT_EQ(layout.frames.size(), 120u);
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        ASSERT_EQ(layout.frames[i].size, 100u) << i;
        ASSERT_EQ(file[layout.frames[i].offset], i) << i;
        ASSERT_EQ(file[layout.frames[i].offset + 99], i) << i;
    }

    // Told how far the reader has gone: every frame chunk, within the file,
    // and the layout the same as without being told.
    std::vector<std::uint64_t> positions;
    const AviReadProgress progress{
        [](void* into, std::uint64_t position) { static_cast<std::vector<std::uint64_t>*>(into)->push_back(position); },
        &positions};
    AviLayout told;
    ASSERT_EQ(read_avi_layout(file.data(), file.size(), told, &progress), AviReadResult::ok);
    ASSERT_EQ(told.frames.size(), layout.frames.size());
    for (std::size_t i = 0; i < told.frames.size(); ++i) {
        EXPECT_EQ(told.frames[i].offset, layout.frames[i].offset);
        EXPECT_TRUE(std::find(positions.begin(), positions.end(), told.frames[i].offset - 8) != positions.end()) << i;
    }
    for (const std::uint64_t at : positions) {
        EXPECT_LT(at, file.size());
    }
}

TEST(OpenDml, AFileThatStaysBelowTheLimitIsUnchanged)
{
    // 57 frames still fit the first RIFF of the stand-in limit; the file is
    // the one the writer makes with no limit in sight.
    const Bytes below = test::read_file(write_frames("below.avi", 57, 100).path);
    const Bytes plain = test::read_file(write_frames("plain.avi", 57, 100, avi_first_riff_limit, avi_riff_limit).path);
    EXPECT_EQ(below, plain);
    EXPECT_EQ(std::string(below.begin() + 0xD4, below.begin() + 0xD8), "JUNK");
    EXPECT_EQ(test::read_avi_structure(write_frames("over.avi", 58, 100).path).riffs.size(), 2u);
}

TEST(OpenDml, TheStandardIndexCanDecideTheSwitch)
{
    // Chunks of 12 bytes: finished plainly the first RIFF would hold 255,
    // but closed with ix00 and idx1 (36 bytes a frame) it holds 226.
    const test::AviStructure s = test::read_avi_structure(write_frames("small.avi", 240, 4).path);
    EXPECT_TRUE(s.errors.empty()) << s.errors.front();
    EXPECT_EQ(frames_per_riff(s), (std::vector<std::size_t>{226, 14}));
}

TEST(OpenDml, RiffCountPredictsTheWriter)
{
    // Frames of 0 bytes, of sizes around the stand-in limits, and larger
    // than a whole AVIX (one frame each).
    for (int size : {0, 4, 5, 100, 1000, 3000, 5000}) {
        for (int frames : {1, 2, 7, 40, 300}) {
            const Written w = write_frames("count.avi", frames, size);
            const std::uint64_t predicted = avi_riff_count(frames, size, small_first_riff, small_riff);
            if (predicted > avi_max_riffs) {
                EXPECT_EQ(w.error, AviError::too_many_riffs) << size << " " << frames;
                continue;
            }
            ASSERT_EQ(w.frames_written, frames) << size << " " << frames;
            const test::AviStructure s = test::read_avi_structure(w.path);
            ASSERT_TRUE(s.errors.empty()) << size << " " << frames << ": " << s.errors.front();
            EXPECT_EQ(s.total_frames(), std::uint64_t(frames));
            EXPECT_EQ(predicted, s.riffs.size()) << size << " " << frames;
        }
    }
    EXPECT_EQ(avi_riff_count(0, 100), 1u);
    EXPECT_EQ(avi_riff_count(1, 20000, small_first_riff, small_riff), 0u);
}

TEST(OpenDml, RefusesWhatNoRiffOrSuperIndexCanHold)
{
    // Frames of 1,000 bytes: 6 in the first RIFF, 2 in each AVIX; 256 RIFFs
    // hold 516 frames and the 517th is refused.
    const Written full = write_frames("full.avi", 600, 1000);
    EXPECT_EQ(full.error, AviError::too_many_riffs);
    EXPECT_EQ(full.frames_written, 516);
    EXPECT_EQ(avi_riff_count(516, 1000, small_first_riff, small_riff), 256u);
    EXPECT_EQ(avi_riff_count(517, 1000, small_first_riff, small_riff), 257u);

    // A first frame that the first RIFF cannot hold, and a frame longer than
    // any chunk (refused before its bytes are touched).
    EXPECT_EQ(write_frames("first.avi", 1, 9000).error, AviError::frame_too_large);
    AviWriter writer;
    const std::string path = test::temp_path("huge.avi");
    ASSERT_EQ(writer.init(path.c_str(), 8, 4, 25, 1, 1), 1);
    unsigned char byte[4] = {};
    EXPECT_EQ(writer.write_frame(byte, INT_MAX, 0x10), 0);
    EXPECT_EQ(writer.error, AviError::frame_too_large);
    EXPECT_EQ(writer.write_frame(byte, static_cast<int>(avi_max_frame_size) + 1, 0x10), 0);
}

// Frames of an 8 x 4 picture, 96 bytes each, in a file continued over
// several RIFFs and in a plain one.
struct PicturePair {
    std::string continued;
    std::string plain;
};

PicturePair write_pictures(const std::string& name, int frames, int compressed, const std::vector<Bytes>& pictures)
{
    PicturePair pair{test::temp_path(name + "-odml.avi"), test::temp_path(name + "-plain.avi")};
    for (const std::string& path : {pair.continued, pair.plain}) {
        AviWriter writer;
        EXPECT_EQ(writer.init(path.c_str(), 8, 4, 25, 1, compressed), 1);
        if (path == pair.continued) {
            writer.first_riff_limit = small_first_riff;
            writer.riff_limit = small_riff;
        }
        for (int i = 0; i < frames; ++i) {
            Bytes frame = pictures[static_cast<std::size_t>(i) % pictures.size()];
            const int size = static_cast<int>(frame.size());
            frame.resize(frame.size() + 3);
            EXPECT_EQ(writer.write_frame(frame.data(), size, 0x10), 1);
        }
        EXPECT_EQ(writer.flush(), 1);
    }
    return pair;
}

TEST(OpenDml, FfmpegReadsEveryFrameOfEveryRiff)
{
    if (!test::have_program("ffmpeg") || !test::have_program("ffprobe")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::vector<Bytes> pictures;
    for (unsigned k = 0; k < 7; ++k) {
        pictures.push_back(test::pattern_frame(8, 4, k));
    }
    const PicturePair pair = write_pictures("ffmpeg", 150, 0, pictures);
    const test::AviStructure s = test::read_avi_structure(pair.continued);
    ASSERT_TRUE(s.errors.empty()) << s.errors.front();
    ASSERT_GT(s.riffs.size(), 3u);

    const std::string frames = " -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames,duration"
                               " -of csv=p=0 ";
    EXPECT_EQ(test::run("ffprobe" + frames + pair.continued).out, "6.000000,150\n");
    auto md5 = [](const std::string& path) {
        return test::run("ffmpeg -v error -i " + path + " -f framemd5 - | grep -v '^#' | cut -d, -f5,6").out;
    };
    const std::string expected = md5(pair.plain);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 150);
    EXPECT_EQ(md5(pair.continued), expected);
}

TEST(OpenDml, ReelunpackReadsEveryRiff)
{
    // Coded frames taken from a file that reelpack made, written again over
    // many RIFFs: decoding them gives the -u file of the movie.
    test::MovieParams p;
    p.width = 8;
    p.height = 4;
    for (unsigned i = 0; i < 40; ++i) {
        p.frames.push_back(test::pattern_frame(8, 4, i % 5 == 4 ? i - 1 : i));  // some frames repeat: null frames
    }
    const std::string movie = test::temp_path("odml.mov");
    const std::string coded = test::temp_path("odml-coded.avi");
    const std::string plain = test::temp_path("odml-u.avi");
    test::write_file(movie, test::make_movie(p));
    ASSERT_EQ(test::reelpack(movie + " " + coded).status, 0);
    ASSERT_EQ(test::reelpack("-u " + movie + " " + plain).status, 0);

    const Bytes file = test::read_file(coded);
    AviLayout layout;
    ASSERT_EQ(read_avi_layout(file.data(), file.size(), layout), AviReadResult::ok);
    const std::string continued = test::temp_path("odml-coded-continued.avi");
    {
        AviWriter writer;
        ASSERT_EQ(writer.init(continued.c_str(), 8, 4, int(layout.rate), int(layout.scale), 1), 1);
        writer.first_riff_limit = 9216 + 1024;
        writer.riff_limit = 2048;
        for (const AviFrameRef& f : layout.frames) {
            Bytes frame(file.begin() + static_cast<std::ptrdiff_t>(f.offset),
                        file.begin() + static_cast<std::ptrdiff_t>(f.offset + f.size));
            frame.resize(frame.size() + 3);
            ASSERT_EQ(writer.write_frame(frame.data(), int(f.size), int(f.flags)), 1);
        }
        ASSERT_EQ(writer.flush(), 1);
    }
    const test::AviStructure s = test::read_avi_structure(continued);
    ASSERT_TRUE(s.errors.empty()) << s.errors.front();
    ASSERT_GT(s.riffs.size(), 3u);

    const std::string unpacked = test::temp_path("odml-unpacked.avi");
    EXPECT_EQ(test::reelunpack(continued + " " + unpacked).status, 0);
    EXPECT_EQ(test::read_file(unpacked), test::read_file(plain));
}

// Frames and sound over many RIFFs: every RIFF indexes its sound chunks in
// an "ix01" beside its "ix00", the sound's "indx" points at each with the
// sample frames it holds, "idx1" lists both streams in file order, and
// ffmpeg reads every sample.
TEST(OpenDml, SoundHasItsOwnIndexesInEveryRiff)
{
    const std::string path = test::temp_path("odml-sound.avi");
    AviSound sound;
    sound.rate = 8000;
    sound.channels = 1;
    sound.bits = 16;
    Bytes heard;
    {
        AviWriter writer;
        ASSERT_EQ(writer.init(path.c_str(), 8, 4, 25, 1, 0, 24, &sound), 1);
        writer.first_riff_limit = small_first_riff;
        writer.riff_limit = small_riff;
        for (int i = 0; i < 60; ++i) {
            Bytes frame = test::pattern_frame(8, 4, unsigned(i));
            frame.resize(frame.size() + 3);
            ASSERT_EQ(writer.write_frame(frame.data(), 96, 0x10), 1);
            const Bytes chunk(std::size_t(2 * (320 + i % 3)), static_cast<unsigned char>(i));  // 320 to 322 samples
            heard.insert(heard.end(), chunk.begin(), chunk.end());
            ASSERT_EQ(writer.write_sound(chunk.data(), std::uint32_t(chunk.size())), 1);
        }
        ASSERT_EQ(writer.flush(), 1);
    }
    const Bytes f = test::read_file(path);
    auto u32 = [&](std::uint64_t at) { return test::le32(f, static_cast<std::size_t>(at)); };
    auto tag = [&](std::uint64_t at) { return std::string(f.begin() + std::ptrdiff_t(at), f.begin() + std::ptrdiff_t(at + 4)); };
    ASSERT_EQ(tag(avi_offset::sound_super_index), "indx");
    ASSERT_EQ(tag(avi_offset::sound_super_index + 16), "01wb");
    const std::uint32_t riffs = u32(avi_offset::sound_super_index + 12);
    ASSERT_GT(riffs, 3u);
    std::uint64_t samples = 0;
    std::size_t chunks = 0;
    for (std::uint32_t r = 0; r < riffs; ++r) {
        const std::uint64_t entry = avi_offset::sound_super_index + 32 + 16 * r;
        const std::uint64_t ix01 = test::le32(f, std::size_t(entry)) | (std::uint64_t(u32(entry + 4)) << 32);
        ASSERT_EQ(tag(ix01), "ix01") << r;
        EXPECT_EQ(tag(ix01 + 16), "01wb");
        std::uint64_t in_riff = 0;
        const std::uint64_t base = test::le32(f, std::size_t(ix01 + 20)) | (std::uint64_t(u32(ix01 + 24)) << 32);
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
