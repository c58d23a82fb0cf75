// An independent reader of a written AVI file's RIFF structure, read by
// seeking so that files of gigabytes can be checked: every RIFF with its
// frame chunks, its "ix00", the first RIFF's "idx1", the "indx" super index
// and the header's counts. `errors` lists every place where they disagree.
// Beside it, the frames of a small file as the converter's own reader finds
// them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "avi/avi_reader.h"

namespace test {

inline AviLayout layout_of(const std::vector<unsigned char>& file)
{
    AviLayout layout;
    EXPECT_FALSE(read_avi_layout(file.data(), file.size(), layout).failed());
    return layout;
}

inline std::vector<std::vector<unsigned char>> frames_of(const std::vector<unsigned char>& file)
{
    std::vector<std::vector<unsigned char>> frames;
    for (const AviFrameRef& f : layout_of(file).frames) {
        frames.emplace_back(file.begin() + long(f.offset), file.begin() + long(f.offset + f.size));
    }
    return frames;
}

struct RiffInfo {
    std::uint64_t start = 0, movi_code = 0, ix00 = 0;  // ix00: 0 when there is none
    std::uint32_t size = 0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> frames;  // each chunk's data and size
};

struct AviStructure {
    std::uint64_t file_size = 0;
    std::vector<RiffInfo> riffs;
    std::uint32_t avih_total = 0, strh_length = 0, dmlh_total = 0;
    std::vector<std::string> errors;
};

inline AviStructure read_avi_structure(const std::string& path)
{
    AviStructure s;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    auto u32 = [file](std::uint64_t at) {
        unsigned char b[4] = {};
        if (::fseeko(file, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(b, 1, 4, file) != 4) {
            return 0xFFFFFFFFu;
        }
        return b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
    };
    auto tag = [&](std::uint64_t at) {
        const std::uint32_t v = u32(at);
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto fail = [&](const std::string& what, std::uint64_t at) { s.errors.push_back(what + " at " + std::to_string(at)); };
    if (file == nullptr || ::fseeko(file, 0, SEEK_END) != 0) {
        s.errors.push_back("no file");
        return s;
    }
    s.file_size = static_cast<std::uint64_t>(::ftello(file));
    s.avih_total = u32(0x30);
    s.strh_length = u32(0x8C);
    s.dmlh_total = u32(0x1108);
    std::vector<std::uint32_t> key_flags;  // of the first RIFF, from its idx1
    std::uint64_t at = 0;
    for (; at + 12 <= s.file_size && s.errors.empty(); at += 8 + std::uint64_t(s.riffs.back().size)) {
        RiffInfo r;
        r.start = at;
        r.size = u32(at + 4);
        if (tag(at) != "RIFF" || tag(at + 8) != (s.riffs.empty() ? "AVI " : "AVIX")) {
            fail("no RIFF of the right type", at);
        }
        const std::uint64_t end = at + 8 + r.size;
        std::uint64_t c = at + 12;
        for (; c + 8 <= end; c += 8 + std::uint64_t(u32(c + 4))) {
            if (tag(c) == "LIST" && tag(c + 8) == "movi") {
                r.movi_code = c + 8;
                std::uint64_t k = c + 12;
                for (; k < c + 8 + u32(c + 4); k += 8 + ((std::uint64_t(u32(k + 4)) + 3) & ~std::uint64_t(3))) {
                    if (tag(k) == "00dc") {
                        r.frames.push_back({k + 8, u32(k + 4)});
                    } else if (tag(k) == "ix00" && r.ix00 == 0) {
                        r.ix00 = k;
                    } else {
                        fail("an unexpected chunk or one after ix00", k);
                    }
                }
                if (k != c + 8 + u32(c + 4) || (r.ix00 != 0 && r.ix00 + 8 + u32(r.ix00 + 4) != k)) {
                    fail("a movi list that does not end on its chunks and ix00", c);
                }
            } else if (tag(c) == "idx1") {
                for (std::uint32_t e = 0; e < u32(c + 4) / 16; ++e) {
                    const std::uint64_t entry = c + 8 + 16 * std::uint64_t(e);
                    if (e >= r.frames.size() || 0x2008 + u32(entry + 8) + 8 != r.frames[e].first ||
                        u32(entry + 12) != ((r.frames[e].second + 3) & ~3u) || tag(entry) != "00dc") {
                        fail("idx1 entry " + std::to_string(e), entry);
                        break;
                    }
                    key_flags.push_back(u32(entry + 4));
                }
                if (key_flags.size() != r.frames.size()) {
                    fail("an idx1 that does not cover its RIFF", c);
                }
            } else if (tag(c) == "JUNK" && r.movi_code != 0) {
                c = end;  // the tail: zero bytes to the end
                break;
            }
        }
        if (c != end) {
            fail("a RIFF that does not end on a chunk", at);
        }
        s.riffs.push_back(r);
    }
    if (at != s.file_size || s.riffs.empty()) {
        s.errors.push_back("the RIFFs do not end where the file does");
        std::fclose(file);
        return s;
    }
    std::uint64_t total = 0;
    for (const RiffInfo& r : s.riffs) {
        total += r.frames.size();
    }
    if (s.avih_total != s.riffs[0].frames.size() || s.strh_length != total || s.dmlh_total != total) {
        s.errors.push_back("the header's counts");
    }
    // The super index follows the video's strf, which a record of planes
    // makes 16 bytes longer, and ends where the video's strl does.
    const std::uint64_t indx = 0xAC + u32(0xA8);
    if (s.riffs.size() == 1) {
        if (tag(indx) != "JUNK" || s.riffs[0].ix00 != 0) {
            s.errors.push_back("a single RIFF has OpenDML indexes");
        }
    } else if (tag(indx) != "indx" || u32(indx + 4) != 0x10F4 - indx - 8 || u32(indx + 8) != 4 ||
               u32(indx + 12) != s.riffs.size() || tag(indx + 16) != "00dc") {
        s.errors.push_back("the indx header");
    }
    for (std::size_t i = 0; s.riffs.size() > 1 && i < s.riffs.size(); ++i) {
        // Its indx entry, and its ix00 against its chunks (and the idx1's key
        // frames in the first RIFF).
        const RiffInfo& r = s.riffs[i];
        const std::uint64_t entry = indx + 32 + 16 * i;
        const std::uint64_t ix = r.ix00;
        const std::uint32_t n = u32(ix + 12);
        if (ix == 0 || u32(entry) != std::uint32_t(ix) || u32(entry + 4) != (ix >> 32) || u32(entry + 8) != 32 + 8 * n ||
            u32(entry + 12) != n || n != r.frames.size() || u32(ix + 4) != 24 + 8 * n || u32(ix + 8) != 0x01000002u ||
            tag(ix + 16) != "00dc" || u32(ix + 20) != r.movi_code || u32(ix + 24) != (r.movi_code >> 32)) {
            fail("an ix00 or its indx entry", ix);
            continue;
        }
        for (std::uint32_t j = 0; j < n; ++j) {
            const std::uint32_t size = u32(ix + 36 + 8 * j);
            const bool key = (size & 0x80000000u) == 0;
            if (r.movi_code + u32(ix + 32 + 8 * j) != r.frames[j].first || (size & 0x7FFFFFFFu) != r.frames[j].second ||
                (i == 0 && key != ((key_flags[j] & 0x10) != 0))) {
                fail("ix00 entry " + std::to_string(j), ix);
                break;
            }
        }
    }
    std::fclose(file);
    return s;
}

}  // namespace test
