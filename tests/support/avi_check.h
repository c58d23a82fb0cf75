// An independent reader of the RIFF structure of a written AVI file, read by
// seeking so that files of gigabytes can be checked: every RIFF, its "movi"
// list and frame chunks, its "ix00", the first RIFF's "idx1", the "indx"
// super index and the counts of the header. check() lists every place where
// these disagree with one another.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace test {

inline std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

struct ChunkAt {
    std::uint64_t data;  // position of the chunk's bytes, after its header
    std::uint32_t size;
};

struct RiffInfo {
    std::uint64_t start = 0;
    std::uint32_t size = 0;
    std::string type;
    std::uint64_t movi_code = 0;  // position of the "movi" code
    std::uint32_t movi_size = 0;
    std::vector<ChunkAt> frames;  // the "00dc" chunks found in the movi list
    std::uint64_t ix00 = 0;       // position of its "ix00", 0 when there is none
    std::uint32_t ix00_size = 0;  // with its 8-byte header
    bool ix00_last = false;       // the "ix00" ends the movi list
};

struct AviStructure {
    std::uint64_t file_size = 0;
    std::vector<RiffInfo> riffs;
    std::uint32_t avih_total = 0;
    std::uint32_t strh_length = 0;
    std::uint32_t dmlh_total = 0;
    std::string indx_tag;  // "JUNK" or "indx"
    std::uint32_t indx_entries = 0;
    std::vector<std::string> errors;

    std::uint64_t total_frames() const
    {
        std::uint64_t n = 0;
        for (const RiffInfo& r : riffs) {
            n += r.frames.size();
        }
        return n;
    }
};

class AviFile {
public:
    explicit AviFile(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {}
    ~AviFile()
    {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    bool read(std::uint64_t at, void* into, std::size_t n)
    {
        return file != nullptr && ::fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0 &&
               std::fread(into, 1, n, file) == n;
    }
    std::uint32_t u32(std::uint64_t at)
    {
        unsigned char b[4] = {};
        read(at, b, 4);
        return b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
    }
    std::uint64_t u64(std::uint64_t at) { return u32(at) | (std::uint64_t(u32(at + 4)) << 32); }
    std::string tag(std::uint64_t at)
    {
        char b[4] = {};
        read(at, b, 4);
        return std::string(b, 4);
    }
    std::uint64_t size()
    {
        if (file == nullptr || ::fseeko(file, 0, SEEK_END) != 0) {
            return 0;
        }
        return static_cast<std::uint64_t>(::ftello(file));
    }

    std::FILE* file;
};

inline void read_movi(AviFile& f, RiffInfo& riff, std::uint64_t list_at, AviStructure& s)
{
    riff.movi_code = list_at + 8;
    riff.movi_size = f.u32(list_at + 4);
    const std::uint64_t end = riff.movi_code + riff.movi_size;
    std::uint64_t at = riff.movi_code + 4;
    while (at + 8 <= end) {
        const std::string id = f.tag(at);
        const std::uint32_t size = f.u32(at + 4);
        if (id == "00dc") {
            riff.frames.push_back(ChunkAt{at + 8, size});
            at += 8 + ((std::uint64_t(size) + 3) & ~std::uint64_t(3));
        } else if (id == "ix00") {
            riff.ix00 = at;
            riff.ix00_size = size + 8;
            at += 8 + size;
            riff.ix00_last = at == end;
        } else {
            s.errors.push_back("unexpected chunk \"" + id + "\" in a movi list at " + std::to_string(at));
            return;
        }
    }
    if (at != end) {
        s.errors.push_back("movi list of the RIFF at " + std::to_string(riff.start) + " does not end on a chunk");
    }
}

// Checks an "ix00" against the frame chunks of its RIFF (and against the
// key-frame flags given, when there are any).
inline void check_ix00(AviFile& f, const RiffInfo& riff, const std::vector<std::uint32_t>& key_flags,
                       AviStructure& s)
{
    const std::string where = " (RIFF at " + std::to_string(riff.start) + ")";
    const std::uint64_t at = riff.ix00;
    const std::uint32_t n = f.u32(at + 12);
    if (f.u32(at + 4) != 24 + 8 * n || (f.u32(at + 8) & 0xFFFF) != 2 || f.tag(at + 16) != "00dc" ||
        f.u64(at + 20) != riff.movi_code || f.u32(at + 28) != 0 || ((f.u32(at + 8) >> 16) & 0xFF) != 0 ||
        (f.u32(at + 8) >> 24) != 1) {
        s.errors.push_back("ix00 header" + where);
    }
    if (n != riff.frames.size()) {
        s.errors.push_back("ix00 holds " + std::to_string(n) + " entries for " + std::to_string(riff.frames.size()) +
                           " frames" + where);
        return;
    }
    std::vector<unsigned char> entries(std::size_t(n) * 8);
    f.read(at + 32, entries.data(), entries.size());
    for (std::uint32_t j = 0; j < n; ++j) {
        const unsigned char* e = entries.data() + std::size_t(j) * 8;
        const std::uint32_t offset = e[0] | (e[1] << 8) | (e[2] << 16) | (std::uint32_t(e[3]) << 24);
        const std::uint32_t size = e[4] | (e[5] << 8) | (e[6] << 16) | (std::uint32_t(e[7]) << 24);
        const bool key = (size & 0x80000000u) == 0;
        // The first RIFF's key frames are known from its idx1.
        const bool key_agrees = key_flags.empty() || key == ((key_flags[j] & 0x10) != 0);
        if (riff.movi_code + offset != riff.frames[j].data || (size & 0x7FFFFFFFu) != riff.frames[j].size ||
            !key_agrees) {
            s.errors.push_back("ix00 entry " + std::to_string(j) + where);
            return;
        }
    }
}

inline AviStructure read_avi_structure(const std::string& path)
{
    AviStructure s;
    AviFile f(path);
    s.file_size = f.size();
    std::vector<std::uint32_t> idx1_flags;
    std::uint64_t at = 0;
    while (at + 12 <= s.file_size) {
        RiffInfo riff;
        riff.start = at;
        riff.size = f.u32(at + 4);
        riff.type = f.tag(at + 8);
        if (f.tag(at) != "RIFF") {
            s.errors.push_back("no RIFF at " + std::to_string(at));
            return s;
        }
        const std::uint64_t end = at + 8 + riff.size;
        std::uint64_t c = at + 12;
        while (c + 8 <= end) {
            const std::string id = f.tag(c);
            const std::uint32_t size = f.u32(c + 4);
            if (id == "LIST" && f.tag(c + 8) == "movi") {
                read_movi(f, riff, c, s);
            } else if (id == "LIST" && f.tag(c + 8) == "hdrl") {
                s.avih_total = f.u32(0x30);
                s.strh_length = f.u32(0x8C);
                s.dmlh_total = f.u32(0x1108);
                s.indx_tag = f.tag(0xD4);
                s.indx_entries = f.u32(0xD4 + 12);
            } else if (id == "idx1") {
                for (std::uint32_t e = 0; e + 16 <= size; e += 16) {
                    const std::uint64_t chunk = 0x2008 + std::uint64_t(f.u32(c + 8 + e + 8));
                    const std::size_t k = idx1_flags.size();
                    if (k >= riff.frames.size() || chunk + 8 != riff.frames[k].data ||
                        f.u32(c + 8 + e + 12) != ((riff.frames[k].size + 3) & ~3u)) {
                        s.errors.push_back("idx1 entry " + std::to_string(k));
                        break;
                    }
                    idx1_flags.push_back(f.u32(c + 8 + e + 4));
                }
                if (idx1_flags.size() != riff.frames.size()) {
                    s.errors.push_back("idx1 does not cover the frames of the first RIFF");
                }
            }
            if (id == "JUNK" && riff.movi_code != 0) {
                // The tail: zero bytes to the end of the file, whose first
                // four read as a size of 0.
                c = end;
                break;
            }
            c += 8 + std::uint64_t(size) + (size & 1);
        }
        if (c != end) {
            s.errors.push_back("RIFF at " + std::to_string(at) + " does not end on a chunk");
        }
        s.riffs.push_back(riff);
        at = end;
    }
    if (at != s.file_size) {
        s.errors.push_back("the RIFFs do not end where the file does");
    }
    if (s.riffs.empty()) {
        s.errors.push_back("no RIFF");
        return s;
    }

    // The counts of the header, and the indexes of a file continued past
    // its first RIFF.
    const bool extended = s.riffs.size() > 1;
    if (s.avih_total != s.riffs[0].frames.size()) {
        s.errors.push_back("avih counts " + std::to_string(s.avih_total) + " frames, the first RIFF holds " +
                           std::to_string(s.riffs[0].frames.size()));
    }
    if (s.strh_length != s.total_frames() || s.dmlh_total != s.total_frames()) {
        s.errors.push_back("strh or dmlh does not count every frame");
    }
    if (!extended) {
        if (s.indx_tag != "JUNK" || s.riffs[0].ix00 != 0) {
            s.errors.push_back("a single RIFF has OpenDML indexes");
        }
        return s;
    }
    if (s.indx_tag != "indx" || s.indx_entries != s.riffs.size() || f.u32(0xD8) != 4120 ||
        (f.u32(0xDC) & 0xFFFF) != 4 || (f.u32(0xDC) >> 16) != 0 || f.tag(0xD4 + 16) != "00dc") {
        s.errors.push_back("indx header");
    }
    for (std::size_t i = 0; i < s.riffs.size(); ++i) {
        const RiffInfo& riff = s.riffs[i];
        if (riff.type != (i == 0 ? "AVI " : "AVIX")) {
            s.errors.push_back("RIFF " + std::to_string(i) + " is \"" + riff.type + "\"");
        }
        if (riff.ix00 == 0 || !riff.ix00_last) {
            s.errors.push_back("RIFF " + std::to_string(i) + " has no ix00 at the end of its movi list");
            continue;
        }
        const std::uint64_t entry = 0xD4 + 32 + 16 * i;
        if (f.u64(entry) != riff.ix00 || f.u32(entry + 8) != riff.ix00_size || f.u32(entry + 12) != riff.frames.size()) {
            s.errors.push_back("indx entry " + std::to_string(i));
        }
        check_ix00(f, riff, i == 0 ? idx1_flags : std::vector<std::uint32_t>{}, s);
    }
    return s;
}

}  // namespace test
