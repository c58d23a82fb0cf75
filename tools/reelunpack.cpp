// reelunpack: decodes an AVI file that reelpack wrote back into an
// uncompressed AVI file, frame for frame.
//   reelunpack <input.avi> <output.avi>
// Messages go to standard error. Exit status: 0 when every frame decoded, 1
// for a failure or a damaged frame, 2 for a command line it cannot use.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "codec/decoder.h"

namespace {

struct MappedFile {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    ~MappedFile()
    {
        if (data != nullptr && size != 0) {
            ::munmap(const_cast<unsigned char*>(data), size);
        }
    }
};

bool map_file(const char* path, MappedFile& file, struct stat& st)
{
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && st.st_size > 0) {
        void* mapped = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            file.data = static_cast<const unsigned char*>(mapped);
            file.size = static_cast<std::size_t>(st.st_size);
        }
    }
    ::close(fd);
    return regular && file.data != nullptr;
}

bool is_code(const unsigned char* code, const char* text) { return std::memcmp(code, text, 4) == 0; }

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Usage: reelunpack <input.avi> <output.avi>\n");
        return 2;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    MappedFile input;
    struct stat input_stat;
    if (!map_file(input_path, input, input_stat)) {
        std::fprintf(stderr, "reelunpack: cannot read %s\n", input_path);
        return 1;
    }
    struct stat output_stat;
    if (::stat(output_path, &output_stat) == 0 && output_stat.st_dev == input_stat.st_dev &&
        output_stat.st_ino == input_stat.st_ino) {
        std::fprintf(stderr, "reelunpack: the output file must differ from the input file\n");
        return 1;
    }
    AviLayout layout;
    const AviReadResult read = read_avi_layout(input.data, input.size, layout);
    if (read != AviReadResult::ok) {
        std::fprintf(stderr, "reelunpack: %s: %s\n", input_path, avi_read_text(read));
        return 1;
    }
    const bool tarvic = is_code(layout.compression, "TRVC");
    const bool plain = is_code(layout.compression, "\0\0\0\0");
    if ((!tarvic && !plain) || layout.bit_count != 24 || layout.width <= 0 || layout.height <= 0) {
        std::fprintf(stderr, "reelunpack: %s holds no 24-bit Tarvic or uncompressed video stream\n", input_path);
        return 1;
    }
    const int width = layout.width;
    const int height = layout.height;
    TarvicDecoder decoder;
    const Status begun = decoder.DecompressBegin(width, height, 24);
    if (begun != Status::ok) {
        std::fprintf(stderr, "reelunpack: cannot decode %dx%d frames: %s\n", width, height, status_text(begun));
        return 1;
    }
    const std::size_t frame_size = decoder.picture_bytes;
    std::vector<unsigned char> picture(frame_size + 3, 0);  // black until the first frame

    AviWriter writer;
    if (!writer.init(output_path, width, height, static_cast<int>(layout.rate), static_cast<int>(layout.scale), 0)) {
        return 1;  // the writer has said why
    }
    int damaged = 0;
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        const AviFrameRef& frame = layout.frames[i];
        const unsigned char* bytes = input.data + frame.offset;
        Status status = Status::ok;
        if (tarvic) {
            status = decoder.Decompress(bytes, frame.size, picture.data());
        } else if (frame.size == frame_size) {
            std::memcpy(picture.data(), bytes, frame_size);
        } else {
            status = Status::truncated;
        }
        if (status != Status::ok) {
            // The previous good frame stands in for a damaged one.
            std::fprintf(stderr, "reelunpack: frame %zu is damaged (%s)\n", i, status_text(status));
            ++damaged;
        }
        if (!writer.write_frame(picture.data(), static_cast<int>(frame_size), 0x10)) {
            writer.abandon();
            std::fprintf(stderr, "reelunpack: unable to write %s\n", output_path);
            std::remove(output_path);
            return 1;
        }
    }
    if (!writer.flush()) {
        std::fprintf(stderr, "reelunpack: unable to write %s\n", output_path);
        std::remove(output_path);
        return 1;
    }
    return damaged == 0 ? 0 : 1;
}
