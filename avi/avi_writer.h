// Writes the output file of a run: a RIFF "AVI " file with one video stream,
// every frame one "00dc" chunk of the "movi" list, then an "idx1" index and a
// "JUNK" tail that brings the length to a multiple of 1,024. A movie's sound
// goes in as a second stream, "01wb" chunks between the frames, each in the
// indexes beside them. The file is
// written in one forward pass; flush() then goes back once to complete the
// header and puts the finished file in place. Until then the output's name
// keeps what it held (see avi/output_file.h). Where it cannot go back (a
// pipe), the same calls made first on a writer whose output is a rehearsal
// let one whose output is a stream send the finished file from its start.
//
// A file that would reach 2 GiB continues as OpenDML: the first RIFF closes
// with an "ix00" standard index at the end of its "movi" list and the "idx1"
// of its own frames, and the frames go on in "AVIX" RIFFs of at most 1 GiB,
// each with its own "movi" list and "ix00". The "JUNK" chunk that the header
// keeps at 0x00D4 then becomes the "indx" super index pointing at every
// "ix00", and the last RIFF carries the tail. A file that stays below 2 GiB
// has none of this.
//
// A Tarvic stream of planes carries a record of 16 bytes after its bitmap
// header, inside "strf" (see AviPlanesRecord); the "JUNK" chunk after it,
// and so the super index, starts 16 bytes later and is 16 bytes shorter,
// so that everything after it keeps its place, and such a file holds one
// RIFF fewer.
//
// A file with sound has a second "strl" list after the video's, at 0x10F4:
// its "strh" and "strf" (the wave format in a 40-byte slot, a "JUNK" chunk
// after a shorter one) and a 4,120-byte "JUNK" chunk at 0x1170 that becomes
// the sound's "indx". Everything after moves on by that list's 4,252 bytes,
// the credit "JUNK" chunk shrinks, and "movi" starts at 0x3000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "avi/compact_empty.h"
#include "avi/output_file.h"
#include "common/failure.h"

// Where the fields that init() and flush() fill lie in the header.
namespace avi_offset {
constexpr int riff_size = 0x0004;
constexpr int micro_sec_per_frame = 0x0020;
constexpr int total_frames = 0x0030;
constexpr int main_suggested_buffer = 0x003C;
constexpr int main_width = 0x0040;
constexpr int main_height = 0x0044;
constexpr int stream_handler = 0x0070;
constexpr int stream_scale = 0x0080;
constexpr int stream_rate = 0x0084;
constexpr int stream_start = 0x0088;
constexpr int stream_length = 0x008C;
constexpr int stream_suggested_buffer = 0x0090;
constexpr int frame_rect = 0x009C;
constexpr int super_index = 0x00D4;  // "JUNK" until the file needs the "indx" there
constexpr int format_size = 0x00A8;  // of the "strf" chunk
constexpr int bitmap_size = 0x00AC;  // the bitmap header's own size field
constexpr int format_data = 0x00D4;  // a record after the bitmap header, where there is one
constexpr int bitmap_width = 0x00B0;
constexpr int bitmap_height = 0x00B4;
constexpr int bitmap_bit_count = 0x00BA;
constexpr int bitmap_compression = 0x00BC;
constexpr int bitmap_image_size = 0x00C0;
constexpr int dmlh_total_frames = 0x1108;
constexpr int credit_text = 0x1208;
constexpr int credit_area_size = 3576;
constexpr int movi_size = 0x2004;
constexpr int movi_code = 0x2008;  // index offsets count from here
constexpr int first_chunk = 0x200C;
// The sound's list, and how far a file with sound moves what follows it.
constexpr int sound_list = 0x10F4;
constexpr int sound_stream_header = 0x1108;  // the "strh" chunk's body
constexpr int sound_stream_length = 0x1128;
constexpr int sound_suggested_buffer = 0x112C;
constexpr int sound_format = 0x1140;         // the "strf" chunk
constexpr int sound_super_index = 0x1170;
constexpr int sound_shift = 0x109C;       // the list's size: "odml" and the credit move by it
constexpr int sound_movi_shift = 0x1000;  // "movi" and the first chunk move by it
}  // namespace avi_offset

// The sizes of the indexes' entries and of the headers the writer lays out.
namespace avi_size {
constexpr int idx1_entry = 16;             // an "idx1" entry
constexpr int standard_entry = 8;          // an "ix00" or "ix01" entry
constexpr int standard_index_header = 32;  // "ix00" and its fields before the entries
constexpr int extension_header = 24;       // "RIFF" size "AVIX" "LIST" size "movi"
}  // namespace avi_size

// A chunk's body as the file holds it: padded to a multiple of four bytes,
// so that every chunk starts on one.
constexpr std::uint32_t avi_padded(std::uint32_t size) { return (size + 3u) & ~3u; }

// The sound stream of a file that carries one: linear PCM, little-endian,
// as a wave format describes it.
struct AviSound {
    std::uint32_t rate = 0;  // sample frames a second
    int channels = 0;        // 1 to 8
    int bits = 0;            // 8 (unsigned), 16, 24, 32; 32 or 64 for floats
    bool is_float = false;
    int block() const { return channels * bits / 8; }
};

// The "strf" chunk's body for `sound`: a plain wave format of 18 bytes, or
// the extensible one of 40 where more than two channels or integers of more
// than 16 bits call for it. Returns its length.
int avi_sound_format(const AviSound& sound, unsigned char* out);

// The record that tells a Tarvic stream of planes from one of RGB pictures:
// "TRVL", the compression code of the stream's uncompressed form, the
// movie's data format, the plane layout's number and the bits of a sample,
// then two zero bytes.
struct AviPlanesRecord {
    std::uint32_t plain_code = 0;   // as a little-endian field holds it
    std::uint32_t data_format = 0;  // the same
    int layout = 0;                 // 0: no record, an RGB stream
    int bits = 8;
};
constexpr int avi_record_size = 16;

// Writes `record` as a stream's format data holds it.
void avi_planes_record(const AviPlanesRecord& record, unsigned char* out);

// What the video stream's bitmap header says of its frames.
struct AviVideo {
    int bit_count = 24;            // of an uncompressed frame's pixels
    std::uint32_t plain_code = 0;  // the compression code, and handler, of -u frames; 0: a plain bitmap ("DIB ")
    std::uint32_t image_size = 0;  // an uncompressed frame's bytes; 0: width x height x bit_count / 8
    AviPlanesRecord planes{};      // of a Tarvic stream of planes
};

// The index flag of a chunk that stands alone: every sound chunk, and every
// frame but a null one.
constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;

// The bytes after a frame that write_frame() sets to 0, padding the chunk
// to four bytes: a buffer handed to it holds this many more than the frame.
constexpr std::size_t avi_frame_room = 3;

// The first RIFF stays below 2 GiB, as readers of plain AVI files expect;
// each "AVIX" RIFF after it holds at most 1 GiB.
constexpr std::uint64_t avi_first_riff_limit = 0x80000000u;
constexpr std::uint64_t avi_riff_limit = 0x40000000u;
// The super index has room for 256 "ix00" entries, one per RIFF.
constexpr int avi_max_riffs = 256;
// A chunk's size is 31 bits in an "ix00" entry; the largest frame that fits
// leaves room for the header and the first RIFF's indexes below 2 GiB, so
// every frame of this size or less can be written.
constexpr std::uint32_t avi_max_frame_size = 0x7FFFFFFFu - 0x4000u;

// Where an "AVIX" RIFF lies and the sizes that flush() writes into it.
struct AviExtension {
    std::uint64_t riff_start;  // position of its "RIFF"
    std::uint32_t riff_size;
    std::uint32_t movi_size;
};

class AviWriter {
public:
    unsigned char header[avi_header_size + avi_offset::sound_movi_shift];  // the file header, in file byte order
    int header_size = avi_header_size;
    std::int32_t frame_count = 0;           // frames written
    std::int32_t index_count = 0;           // "idx1" entries in use: frames and sound chunks
    unsigned char* index = nullptr;         // "idx1" entries, 16 bytes each, in file byte order
    std::int32_t index_capacity = 0;
    OutputFile output;                      // the file being written
    std::int32_t max_chunk_size = 0;        // the largest frame written, plus 4
    std::uint64_t position = 0;             // the current write position
    std::uint64_t first_riff_limit = avi_first_riff_limit;
    std::uint64_t riff_limit = avi_riff_limit;
    Failure failure;                        // the first failure, after which every call fails at once

    // The open RIFF: its frames as "ix00" entries of 8 bytes in file byte
    // order, where it starts and the position of its "movi" code, from which
    // the entries count.
    unsigned char* riff_index = nullptr;
    std::int32_t riff_index_capacity = 0;
    std::int32_t riff_frames = 0;
    std::uint64_t riff_start = 0;
    std::uint64_t movi_base = avi_offset::movi_code;
    int riff_count = 1;                     // RIFFs begun, the first included
    std::int32_t first_riff_frames = 0;     // frames in "idx1", once the first RIFF is closed
    std::uint64_t movi_code = avi_offset::movi_code;  // of the first RIFF; "idx1" counts from it
    // The sound: its format, its chunks in the open RIFF as "ix01" entries,
    // the sample frames they hold, and the totals.
    bool has_sound = false;
    AviSound sound;
    unsigned char* sound_riff_index = nullptr;
    std::int32_t sound_riff_capacity = 0;
    std::int32_t sound_riff_chunks = 0;
    std::uint64_t sound_riff_samples = 0;
    std::uint64_t sound_samples = 0;
    std::uint32_t max_sound_chunk = 0;
    AviExtension extensions[avi_max_riffs - 1];
    // The chunk being written.
    std::uint64_t chunk_position = 0;
    std::uint32_t chunk_length = 0;
    unsigned char chunk_header[8] = {};     // its "00dc" and length
    std::uint32_t chunk_written = 0;
    int chunk_flags = 0;
    bool chunk_sound = false;
    std::FILE* report = stdout;             // where init() says that the file cannot be opened
    // Where the video's super index lies and the RIFFs it can point to:
    // one fewer where a record of planes comes before it.
    int super_index_at = avi_offset::super_index;
    int max_riffs = avi_max_riffs;

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Opens the output and writes its header; 0 (after printing "Unable to
    // open output file") when it cannot be opened. Frames are as `video`
    // says: plain bitmaps of 24 bits a pixel, or 32 with alpha, unless it
    // gives the code of another uncompressed form. With `with_sound` the
    // file has a sound stream of that format. A null `filename` keeps the
    // output already set up in `output`, a rehearsal or a stream.
    int init(const char* filename, int width, int height, int rate, int scale, int compressed,
             const AviVideo& video = {}, const AviSound* with_sound = nullptr);

    // Appends one frame chunk and its index entry, the flags those of the
    // "idx1" entry (AVIIF_KEYFRAME, or 0 for a null frame). Sets the
    // avi_frame_room bytes after the frame to 0: the buffer holds them.
    // Returns 1, or 0 with `failure` set.
    int write_frame(unsigned char* data, int size, int flags);

    // The same for a frame whose bytes come in parts, so that a frame made
    // piece by piece goes out from a small buffer: begin_frame, then parts
    // that add up to `size` bytes, then end_frame. Each returns 1, or 0 with
    // `failure` set.
    int begin_frame(int size, int flags);
    int write_frame_part(const unsigned char* part, std::size_t size);
    int end_frame();

    // Appends one chunk of sound, whole sample frames in the stream's
    // format, and its index entries. Returns 1, or 0 with `failure` set.
    int write_sound(const unsigned char* data, std::uint32_t size);

    // Writes the index and tail, completes the header, then makes the file
    // durable and puts it in place under its name. Returns 1, or 0 with
    // `failure` set (and the output's name untouched).
    int flush();

    // Closes the file without completing it and removes its temporary file;
    // the output's name keeps what it held. The destructor does the same for
    // a file that flush() did not finish.
    void abandon();

private:
    // The chunks and the file (avi/avi_writer.cpp).
    bool begin_chunk(int size, bool is_sound);
    bool end_chunk(int flags);
    bool write(const void* data, std::size_t size);
    bool write2(const void* first, std::size_t first_size, const void* second, std::size_t second_size);
    bool write_at(const void* data, std::size_t size, std::uint64_t at);
    bool keep(const Failure& cause);
    bool fail(Fault fault);
    void add_planes_record(const AviPlanesRecord& record);
    bool write_idx1();
    bool write_tail();
    void fill_counts();
    // The sound's header (avi/sound_header.cpp).
    void add_sound_list();
    // The RIFFs past the first (avi/odml_riffs.cpp).
    bool make_room(std::uint64_t chunk_bytes, bool is_sound);
    bool write_standard_index(bool of_sound);
    bool write_standard_indexes();
    bool close_first_riff();
    bool close_extension();
    bool begin_extension();
    bool close_last_riff();
    bool write_back_extensions();
};

// The number of RIFFs that the writer makes for `frames` frames of
// `frame_size` bytes each, so that a run can refuse a file that the super
// index cannot describe before it writes anything; 0 when not even the first
// frame fits.
std::uint64_t avi_riff_count(std::uint64_t frames, std::uint32_t frame_size,
                             std::uint64_t first_limit = avi_first_riff_limit,
                             std::uint64_t extension_limit = avi_riff_limit);

// The credit text that init() stores in the header.
const char* avi_credit_text();
