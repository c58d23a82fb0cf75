// The AVI header template is the empty file header coded at zero-run level 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "avi/compact_empty.h"
#include "entropy/zero.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(HeaderTemplate, IsTheEmptyHeaderAtLevelOne)
{
    // The empty AVI header: chunk and list codes and sizes, the index flag,
    // one stream, quality 10,000, the 352 x 240 rectangle, 24 bits per pixel,
    // one extended frame; every other byte 0.
    Bytes header(avi_header_size, 0);
    auto tag = [&](std::size_t at, const char* t) { std::copy(t, t + 4, header.begin() + static_cast<long>(at)); };
    auto le32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            header[at + i] = static_cast<unsigned char>(v >> (8 * i));
        }
    };
    tag(0x0000, "RIFF");
    tag(0x0008, "AVI ");
    tag(0x000C, "LIST");
    le32(0x0010, 4588);
    tag(0x0014, "hdrl");
    tag(0x0018, "avih");
    le32(0x001C, 56);
    le32(0x002C, 0x10);
    le32(0x0038, 1);
    tag(0x0058, "LIST");
    le32(0x005C, 4244);
    tag(0x0060, "strl");
    tag(0x0064, "strh");
    le32(0x0068, 56);
    tag(0x006C, "vids");
    le32(0x0094, 10000);
    header[0x00A0] = 0x60;
    header[0x00A1] = 0x01;
    header[0x00A2] = 0xF0;
    tag(0x00A4, "strf");
    le32(0x00A8, 40);
    le32(0x00AC, 40);
    header[0x00B8] = 1;
    header[0x00BA] = 24;
    tag(0x00D4, "JUNK");
    le32(0x00D8, 4120);
    tag(0x10F4, "LIST");
    le32(0x10F8, 260);
    tag(0x10FC, "odml");
    tag(0x1100, "dmlh");
    le32(0x1104, 248);
    le32(0x1108, 1);
    tag(0x1200, "JUNK");
    le32(0x1204, 3576);
    tag(0x2000, "LIST");
    tag(0x2008, "movi");

    Bytes coded(avi_header_size);
    coded.resize(static_cast<std::size_t>(zero::RLE(header.data(), coded.data(), avi_header_size, 1)));
    EXPECT_EQ(coded, Bytes(compact_empty, compact_empty + compact_empty_size));
    Bytes expanded(avi_header_size);
    EXPECT_EQ(zero::deRLE(compact_empty, compact_empty_size, expanded.data(), avi_header_size, 1), compact_empty_size);
    EXPECT_EQ(expanded, header);
}

}  // namespace
