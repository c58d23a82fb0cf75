#include "avi/avi_writer.h"
#include "entropy/zero.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"

namespace {

using test::Bytes;

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}
unsigned le16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::string tag(const Bytes& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

Bytes write_avi(const std::string& name, const std::vector<Bytes>& frames, int compressed = 0, int width = 352,
                int height = 240, int rate = 30000, int scale = 1001)
{
    const std::string path = test::temp_path(name);
    AviWriter writer;
    EXPECT_EQ(writer.init(path.c_str(), width, height, rate, scale, compressed), 1);
    for (Bytes frame : frames) {
        const int size = static_cast<int>(frame.size());
        frame.resize(frame.size() + 3, 0xAA);
        EXPECT_EQ(writer.write_frame(frame.data(), size, 0x10), 1);
    }
    EXPECT_EQ(writer.flush(), 1);
    return test::read_file(path);
}

TEST(AviWriter, EmptyFileHasHeaderIndexAndTail)
{
    const Bytes file = write_avi("empty.avi", {});
    ASSERT_EQ(file.size(), 9216u);
    EXPECT_EQ(tag(file, 0), "RIFF");
    EXPECT_EQ(le32(file, 4), 9208u);
    EXPECT_EQ(tag(file, 8), "AVI ");
    EXPECT_EQ(le32(file, avi_offset::total_frames), 0u);
    EXPECT_EQ(le32(file, avi_offset::stream_length), 0u);
    EXPECT_EQ(le32(file, avi_offset::movi_size), 4u);
    EXPECT_EQ(tag(file, 0x2000), "LIST");
    EXPECT_EQ(tag(file, 0x2008), "movi");
    EXPECT_EQ(tag(file, 0x200C), "idx1");
    EXPECT_EQ(le32(file, 0x2010), 0u);
    EXPECT_EQ(tag(file, 0x2014), "JUNK");
    for (std::size_t i = 0x2018; i < file.size(); ++i) {
        ASSERT_EQ(file[i], 0) << i;
    }
}

TEST(AviWriter, HeaderIsTheTemplateWithTheFilledFields)
{
    const Bytes file = write_avi("header.avi", {Bytes(7, 1)}, 1, 320, 200, 30000, 1001);
    Bytes expected(avi_header_size);
    ASSERT_EQ(zero::deRLE(compact_empty, compact_empty_size, expected.data(), avi_header_size, 1), compact_empty_size);
    // Every byte that init and flush leave alone is the template's.
    const std::vector<std::pair<std::size_t, std::size_t>> filled = {
        {0x04, 4}, {0x20, 4}, {0x30, 4}, {0x40, 8}, {0x70, 4}, {0x80, 8}, {0x8C, 8},
        {0x9C, 8}, {0xB0, 8}, {0xBC, 8}, {0x1108, 4}, {0x1208, 3576}, {0x2004, 4}};
    Bytes masked = file;
    masked.resize(avi_header_size);
    for (auto [at, n] : filled) {
        std::memset(masked.data() + at, 0, n);
        std::memset(expected.data() + at, 0, n);
    }
    EXPECT_EQ(masked, expected);

    EXPECT_EQ(le32(file, 0x20), 33366u);  // 1,000,000 x 1001 / 30000, truncated
    EXPECT_EQ(le32(file, 0x40), 320u);
    EXPECT_EQ(le32(file, 0x44), 200u);
    EXPECT_EQ(tag(file, 0x70), "trvc");
    EXPECT_EQ(le32(file, 0x80), 1001u);
    EXPECT_EQ(le32(file, 0x84), 30000u);
    EXPECT_EQ(le32(file, 0x8C), 1u);
    EXPECT_EQ(le32(file, 0x90), 11u);  // the largest frame plus 4
    EXPECT_EQ(le16(file, 0x9C), 0u);
    EXPECT_EQ(le16(file, 0x9E), 0u);
    EXPECT_EQ(le16(file, 0xA0), 320u);
    EXPECT_EQ(le16(file, 0xA2), 200u);
    EXPECT_EQ(le32(file, 0xB0), 320u);
    EXPECT_EQ(le32(file, 0xB4), 200u);
    EXPECT_EQ(le16(file, 0xBA), 24u);
    EXPECT_EQ(tag(file, 0xBC), "TRVC");
    EXPECT_EQ(le32(file, 0xC0), 320u * 200u * 3u);
    EXPECT_EQ(le32(file, 0x1108), 1u);
    const std::string credit = avi_credit_text();
    EXPECT_EQ(credit.rfind("reelpack ", 0), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 0x1208)), credit);

    const Bytes plain = write_avi("header-plain.avi", {}, 0, 320, 200, 600, 20);
    EXPECT_EQ(tag(plain, 0x70), "DIB ");
    EXPECT_EQ(le32(plain, 0xBC), 0u);
    EXPECT_EQ(le32(plain, 0x20), 33333u);
    EXPECT_EQ(le32(plain, 0x1108), 0u);
}

TEST(AviWriter, FrameChunksArePaddedToFourAndIndexed)
{
    const Bytes file = write_avi("frames.avi", {Bytes{1, 2, 3, 4, 5}, Bytes{6, 7}, Bytes{}, Bytes(8, 9)});
    // 5 bytes: chunk of 16 at 0x200C, size field 5, three zero bytes.
    EXPECT_EQ(tag(file, 0x200C), "00dc");
    EXPECT_EQ(le32(file, 0x2010), 5u);
    EXPECT_EQ(Bytes(file.begin() + 0x2014, file.begin() + 0x201C), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
    // 2 bytes: size 2, two zeros, the next chunk 12 bytes later.
    EXPECT_EQ(le32(file, 0x2020), 2u);
    EXPECT_EQ(Bytes(file.begin() + 0x2024, file.begin() + 0x2028), (Bytes{6, 7, 0, 0}));
    // 0 bytes: header only.
    EXPECT_EQ(tag(file, 0x2028), "00dc");
    EXPECT_EQ(le32(file, 0x202C), 0u);
    // 8 bytes: no padding.
    EXPECT_EQ(tag(file, 0x2030), "00dc");
    EXPECT_EQ(le32(file, 0x2034), 8u);
    const std::size_t idx1 = 0x2040;
    EXPECT_EQ(le32(file, avi_offset::movi_size), idx1 - 0x2008);
    EXPECT_EQ(tag(file, idx1), "idx1");
    EXPECT_EQ(le32(file, idx1 + 4), 64u);
    const std::uint32_t offsets[] = {4, 0x14, 0x20, 0x28};
    const std::uint32_t lengths[] = {8, 4, 0, 8};
    for (int i = 0; i < 4; ++i) {
        const std::size_t e = idx1 + 8 + 16 * i;
        EXPECT_EQ(tag(file, e), "00dc");
        EXPECT_EQ(le32(file, e + 4), 0x10u);
        EXPECT_EQ(le32(file, e + 8), offsets[i]);
        EXPECT_EQ(le32(file, e + 12), lengths[i]);
    }
    EXPECT_EQ(le32(file, 0x90), 12u);
    EXPECT_EQ(file.size() % 1024, 0u);
    EXPECT_EQ(le32(file, 4), file.size() - 8);
}

TEST(AviWriter, OneFiveByteFrameGivesTheSmallestFile)
{
    const Bytes file = write_avi("one.avi", {Bytes{1, 2, 3, 4, 5}});
    EXPECT_EQ(file.size(), 9216u);
    EXPECT_EQ(le32(file, avi_offset::movi_size), 20u);
    EXPECT_EQ(le32(file, 0x90), 9u);
    EXPECT_EQ(tag(file, 0x201C), "idx1");
    EXPECT_EQ(tag(file, 0x2034), "JUNK");  // 968 tail bytes follow it
}

TEST(AviWriter, IndexGrowsPast512EntriesKeepingItsEntries)
{
    std::vector<Bytes> frames;
    for (int i = 0; i < 1100; ++i) {
        frames.push_back(Bytes(static_cast<std::size_t>(i % 7), static_cast<unsigned char>(i)));
    }
    const Bytes file = write_avi("many.avi", frames);
    const std::size_t idx1 = 0x2008 + le32(file, avi_offset::movi_size);
    ASSERT_EQ(tag(file, idx1), "idx1");
    ASSERT_EQ(le32(file, idx1 + 4), 1100u * 16u);
    std::uint32_t offset = 4;
    for (int i = 0; i < 1100; ++i) {
        const std::size_t e = idx1 + 8 + 16 * static_cast<std::size_t>(i);
        ASSERT_EQ(le32(file, e + 8), offset) << i;
        ASSERT_EQ(le32(file, 0x2008 + offset + 4), static_cast<std::uint32_t>(i % 7)) << i;
        offset += 8 + ((i % 7 + 3) & ~3);
    }
    EXPECT_EQ(le32(file, avi_offset::total_frames), 1100u);
    EXPECT_EQ(le32(file, avi_offset::dmlh_total_frames), 1100u);
}

TEST(AviWriter, ReportsFailures)
{
    testing::internal::CaptureStdout();
    AviWriter missing;
    EXPECT_EQ(missing.init("/nonexistent-dir/out.avi", 4, 4, 25, 1, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open output file /nonexistent-dir/out.avi\n");

    AviWriter full;
    ASSERT_EQ(full.init("/dev/full", 4, 4, 25, 1, 0), 1);
    Bytes frame(48 + 3, 0);
    full.write_frame(frame.data(), 48, 0x10);
    EXPECT_EQ(full.flush(), 0);
    EXPECT_EQ(full.error, AviError::write_failed);
}

TEST(AviWriter, AFrameWrittenInPartsIsTheFrameWrittenWhole)
{
    std::vector<Bytes> frames;
    for (int i = 0; i < 9; ++i) {
        Bytes f(static_cast<std::size_t>(37 * i + i % 4));
        for (std::size_t k = 0; k < f.size(); ++k) {
            f[k] = static_cast<unsigned char>(k + i);
        }
        frames.push_back(f);
    }
    const Bytes whole = write_avi("whole.avi", frames);
    const std::string path = test::temp_path("parts.avi");
    AviWriter writer;
    ASSERT_EQ(writer.init(path.c_str(), 352, 240, 30000, 1001, 0), 1);
    for (const Bytes& f : frames) {
        ASSERT_EQ(writer.begin_frame(static_cast<int>(f.size()), 0x10), 1);
        for (std::size_t at = 0; at < f.size(); at += 10) {
            ASSERT_EQ(writer.write_frame_part(f.data() + at, std::min<std::size_t>(10, f.size() - at)), 1);
        }
        ASSERT_EQ(writer.end_frame(), 1);
    }
    ASSERT_EQ(writer.flush(), 1);
    EXPECT_EQ(test::read_file(path), whole);

    // Parts that do not add up to the frame begun are refused.
    AviWriter short_frame;
    ASSERT_EQ(short_frame.init(path.c_str(), 4, 4, 25, 1, 0), 1);
    ASSERT_EQ(short_frame.begin_frame(8, 0x10), 1);
    ASSERT_EQ(short_frame.write_frame_part(frames[1].data(), 5), 1);
    EXPECT_EQ(short_frame.end_frame(), 0);
    AviWriter long_frame;
    ASSERT_EQ(long_frame.init(path.c_str(), 4, 4, 25, 1, 0), 1);
    ASSERT_EQ(long_frame.begin_frame(4, 0x10), 1);
    EXPECT_EQ(long_frame.write_frame_part(frames[1].data(), 5), 0);
}

}  // namespace
