// reelunpack: gets the pixels back out of an AVI file that reelpack wrote
// (or any AVI file with one 24-bit or 32-bit Tarvic or uncompressed video
// stream).
//
//   reelunpack <input.avi> <output.avi>   an uncompressed AVI file
//   reelunpack --avi <input.avi> -        that file on standard output
//   reelunpack <input.avi> -              raw top-down bgr24 (or bgra) frames on standard output
//   reelunpack --info <input.avi>         the stream's size, rate, frames, codec
//
// A sound stream of linear PCM goes into the AVI file as it is, chunk for
// chunk between the same frames, so that the file is the one reelpack -u
// writes; raw output is the video alone. On standard output the AVI file
// goes out in one forward pass, with every size and count right from its
// first byte (see avi/output_file.h), so that a reader of a pipe needs to
// be told nothing about it.
//
// Messages go to standard error, since standard output may carry pixels.
// Exit status: 0 when every frame decoded, 1 for a failure or a damaged
// frame, 2 for a command line it cannot use.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "codec/codec.h"
#include "codec/decoder.h"
#include "cli/command_line.h"
#include "cli/frame_queue.h"
#include "cli/input_file.h"
#include "cli/output_signals.h"
#include "cli/progress.h"
#include "cli/threads.h"
#include "common/blocks.h"
#include "common/byte_order.h"
#include "tools/unpack_avi.h"

namespace {

const char usage_text[] =
    "Usage: reelunpack <input.avi> <output.avi>   write an uncompressed AVI file\n"
    "       reelunpack --avi <input.avi> -        write that AVI file, sound included, to standard output\n"
    "       reelunpack <input.avi> -              write raw bgr24 (bgra for 32-bit files) frames, top row first,\n"
    "                                             to standard output\n"
    "       reelunpack --info <input.avi>         describe the video stream\n"
    "       reelunpack --help | --version\n"
    "Frames are decoded on as many threads as the processors it may run on; the environment variable\n"
    "REELPACK_THREADS sets the number (1: no thread besides the one that writes; 0: one for each processor).\n";

const ToolHelp help{"reelunpack", usage_text, "", "-h"};

bool is_code(const unsigned char* code, const char* text) { return std::memcmp(code, text, 4) == 0; }

// How the stream's frames are stored.
struct Stream {
    bool tarvic = false;
    std::size_t frame_bytes = 0;   // decoded: width x height x 3 (or 4), rows packed
    std::size_t stored_row = 0;    // bytes a row of an uncompressed frame takes in the file
};

bool describe_stream(const AviLayout& layout, Stream& stream)
{
    stream.tarvic = is_code(layout.compression, "TRVC");
    const bool plain = is_code(layout.compression, "\0\0\0\0");
    if ((!stream.tarvic && !plain) || (layout.bit_count != 24 && layout.bit_count != 32) || layout.width <= 0 ||
        layout.height <= 0 || tarvic_frame_bound(layout.width, layout.height, layout.bit_count) == 0) {
        return false;
    }
    stream.stored_row = std::size_t(layout.width) * std::size_t(layout.bit_count / 8);
    stream.frame_bytes = stream.stored_row * std::size_t(layout.height);
    return true;
}

// An uncompressed frame: rows packed (as reelpack writes them) or padded to
// four bytes (as bitmaps usually are), bottom row first unless the format
// says top-down. It comes out packed and bottom row first.
bool unpack_plain(const AviLayout& layout, const Stream& stream, const unsigned char* bytes, std::size_t size,
                  unsigned char* picture, bool top_down)
{
    const std::size_t row = stream.stored_row;
    const std::size_t padded = (row + 3) & ~std::size_t(3);
    const std::size_t rows = static_cast<std::size_t>(layout.height);
    std::size_t stride;
    if (size == row * rows) {
        stride = row;
    } else if (size == padded * rows) {
        stride = padded;
    } else {
        return false;
    }
    for (std::size_t y = 0; y < rows; ++y) {
        const std::size_t from = layout.top_down != top_down ? rows - 1 - y : y;
        std::memcpy(picture + y * row, bytes + from * stride, row);
    }
    return true;
}

bool write_all(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The sound stream's format where the AVI file written can carry it: linear
// PCM whose wave format is the one the writer makes for it, byte for byte.
bool carried_sound(const AviLayout& layout, AviSound& sound)
{
    if (!layout.has_sound || layout.sound_format_size < 16) {
        return false;
    }
    const unsigned char* f = layout.sound_format;
    const unsigned tag = f[0] | (f[1] << 8);
    sound.channels = f[2] | (f[3] << 8);
    sound.rate = get_le32(f + 4);
    sound.bits = f[14] | (f[15] << 8);
    sound.is_float = tag == 3 || (tag == 0xFFFE && layout.sound_format_size >= 26 && f[24] == 3);
    if (sound.channels < 1 || sound.channels > 8 || sound.bits < 8 || sound.bits % 8 != 0 || sound.bits > 64) {
        return false;
    }
    unsigned char made[40];
    const int size = avi_sound_format(sound, made);
    return std::uint32_t(size) == layout.sound_format_size && std::memcmp(made, f, std::size_t(size)) == 0;
}

int print_info(const char* path, const AviLayout& layout, const Stream& stream)
{
    std::printf("file: %s\n", path);
    std::printf("width: %d\nheight: %d\n", layout.width, layout.height);
    std::printf("frame rate: %u/%u", layout.rate, layout.scale);
    if (layout.scale != 0) {
        std::printf(" (%.3f frames per second)", double(layout.rate) / double(layout.scale));
    }
    std::printf("\nframes: %zu\n", layout.frames.size());
    const bool alpha = layout.bit_count == 32;
    std::printf("codec: %s\n", stream.tarvic ? (alpha ? "Tarvic (TRVC), 32-bit with alpha" : "Tarvic (TRVC)")
                                              : (alpha ? "uncompressed 32-bit RGB with alpha" : "uncompressed 24-bit RGB"));
    std::printf("ffmpeg input options: -f rawvideo -pix_fmt %s -video_size %dx%d -framerate %u/%u -i -\n",
                alpha ? "bgra" : "bgr24", layout.width, layout.height, layout.rate, layout.scale == 0 ? 1u : layout.scale);
    AviSound sound;
    if (carried_sound(layout, sound)) {
        std::printf("sound: %u Hz, %d channels, %d-bit %s, %u sample frames in %zu chunks\n", sound.rate,
                    sound.channels, sound.bits, sound.is_float ? "floating point" : "linear PCM", layout.sound_length,
                    layout.sound.size());
    } else if (layout.has_sound) {
        std::printf("sound: a stream reelunpack does not carry (wave format 0x%04X)\n",
                    unsigned(layout.sound_format[0] | (layout.sound_format[1] << 8)));
    }
    return exit_ok;
}

struct CommandLine {
    bool info = false;
    bool avi = false;                  // an AVI file, also on standard output
    const char* input_path = nullptr;
    const char* output_path = nullptr;  // "-" for standard output; none for --info
};

// Returns the exit status of a command line that ends the run here (help,
// version, usage), or -1 for one to go on with.
int read_command_line(int argc, char** argv, CommandLine& line)
{
    const int answered = answer_help_or_version(argc, argv, help);
    if (answered >= 0) {
        return answered;
    }
    line.info = argc == 3 && std::strcmp(argv[1], "--info") == 0;
    line.avi = argc == 4 && std::strcmp(argv[1], "--avi") == 0;
    char* const* names = argv + (line.info || line.avi ? 2 : 1);
    if (argc != (line.avi ? 4 : 3) || (!line.info && names[0][0] == '-' && names[0][1] != '\0')) {
        std::fputs(usage_text, stderr);
        return exit_usage;
    }
    line.input_path = names[0];
    line.output_path = line.info ? nullptr : names[1];
    return -1;
}

// A frame between its decoder and the writer.
struct UnpackedFrame {
    unsigned char* picture = nullptr;  // the frame, when it decoded
    Status status = Status::ok;
    bool repeat = false;  // a frame of no bytes: the picture before it again
};

// Decodes frame i of the file into the slot's picture, which is written
// only when the frame decodes. Any number of frames may be decoded at once,
// each with a decoder and a buffer (`room` bytes) of its own. A frame that
// fits the buffer is read into it: decoding it in the mapping would cost a
// page fault every few pages and giving the pages back afterwards, which
// is more than the copy.
void unpack_frame(const InputFile& input, const AviLayout& layout, const Stream& stream, TarvicDecoder& decoder,
                  unsigned char* buffer, std::size_t room, std::size_t i, UnpackedFrame& out)
{
    const AviFrameRef& frame = layout.frames[i];
    const unsigned char* bytes = input.data + frame.offset;
    out.status = Status::ok;
    out.repeat = stream.tarvic && frame.size == 0;
    if (frame.size <= room) {
        if (read_at(input.fd, buffer, frame.size, frame.offset) != frame.size) {
            out.status = Status::truncated;  // the file was cut short since its index was read
            return;
        }
        bytes = buffer;
    }
    if (stream.tarvic) {
        out.status = decoder.Decompress(bytes, frame.size, out.picture);
    } else if (!unpack_plain(layout, stream, bytes, frame.size, out.picture, decoder.top_down)) {
        out.status = Status::truncated;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    const int ended = read_command_line(argc, argv, line);
    int threads = 1;
    if (ended >= 0 || !frame_threads("reelunpack", threads)) {
        return ended >= 0 ? ended : exit_usage;
    }
    const char* input_path = line.input_path;
    const char* output_path = line.output_path;
    const bool to_stdout = output_path != nullptr && std::strcmp(output_path, "-") == 0;
    const bool raw = to_stdout && !line.avi;  // raw frames, not an AVI file
    const char* output_name = to_stdout ? "to standard output" : output_path;

    InputFile input;
    if (!input.open(input_path) || !input.map()) {
        std::fprintf(stderr, "reelunpack: cannot read %s: %s\n", input_path,
                     errno != 0 ? std::strerror(errno) : "not a regular file");
        return exit_failure;
    }
    AviLayout layout;
    // The pages that reading the layout touches are given back as it goes.
    const AviReadProgress reading{
        [](void* file, std::uint64_t position) {
            static_cast<InputFile*>(file)->give_back(position, position, std::uint64_t(1) << 20);
        },
        &input};
    const Failure read = read_avi_layout(input.data, input.size, layout, &reading);
    if (read.failed()) {
        std::fprintf(stderr, "reelunpack: %s: %s\n", input_path, failure_text(read).c_str());
        return exit_failure;
    }
    Stream stream;
    if (!describe_stream(layout, stream)) {
        std::fprintf(stderr, "reelunpack: %s holds no 24-bit or 32-bit Tarvic or uncompressed video stream\n",
                     input_path);
        return exit_failure;
    }
    if (line.info) {
        return print_info(input_path, layout, stream);
    }
    if (to_stdout && ::isatty(STDOUT_FILENO) == 1) {
        std::fprintf(stderr, "reelunpack: standard output is a terminal; refusing to write %s to it\n",
                     raw ? "pixels" : "an AVI file");
        return exit_failure;
    }
    if (!to_stdout && same_file(input.st, output_path)) {
        std::fprintf(stderr, "reelunpack: the output file must differ from the input file\n");
        return exit_failure;
    }
    if (layout.damaged) {
        std::fprintf(stderr, "reelunpack: %s is damaged; decoding the frames that can be found\n", input_path);
    }

    const std::size_t total = layout.frames.size();
    const int workers = std::max(1, static_cast<int>(std::min<std::size_t>(std::size_t(threads), total)));
    // One more frame in flight than workers, so that a worker done with its
    // frame can go on with the next while the one before is written.
    const std::size_t slots = workers == 1 ? 1 : std::size_t(workers) + 1;
    std::unique_ptr<TarvicDecoder[]> decoders(new (std::nothrow) TarvicDecoder[std::size_t(workers)]);
    std::unique_ptr<UnpackedFrame[]> unpacked(new (std::nothrow) UnpackedFrame[slots]);
    const auto out_of_memory = [&] {
        std::fprintf(stderr, "reelunpack: not enough memory for %dx%d frames\n", layout.width, layout.height);
        return exit_failure;
    };
    if (decoders == nullptr || unpacked == nullptr) {
        return out_of_memory();
    }
    // Each worker's buffer holds the largest frame of the file, up to a
    // decoded frame's size; larger ones are decoded in the mapping.
    std::size_t room = 0;
    for (const AviFrameRef& frame : layout.frames) {
        room = std::max<std::size_t>(room, frame.size);
    }
    room = std::min(room, stream.frame_bytes);
    for (int w = 0; w < workers; ++w) {
        TarvicDecoder& decoder = decoders[w];
        const Status begun = decoder.DecompressBegin(layout.width, layout.height, layout.bit_count);
        if (begun != Status::ok) {
            std::fprintf(stderr, "reelunpack: cannot decode %dx%d frames: %s\n", layout.width, layout.height,
                         status_text(begun));
            return exit_failure;
        }
        // Raw frames go out top row first: the decoder turns 24-bit
        // pictures top down itself; 32-bit ones are turned on the way out.
        decoder.top_down = raw && layout.bit_count == 24;
    }
    const bool turn_rows = raw && layout.bit_count == 32;
    std::vector<unsigned char> turned(turn_rows ? stream.frame_bytes : 0);
    // The last good frame, black before the first, stands in for a damaged
    // one: on one thread it is the one picture that every frame is decoded
    // into (a frame is written there only when it decodes); on several, a
    // picture of its own, which trades places with each good frame written.
    // The writer sets bytes after a frame.
    struct Pictures {
        std::vector<unsigned char*> held;
        ~Pictures()
        {
            for (unsigned char* picture : held) {
                std::free(picture);
            }
        }
    } pictures;
    for (std::size_t slot = 0; slot < slots + (workers == 1 ? 0 : 1); ++slot) {
        pictures.held.push_back(acquire_block(stream.frame_bytes + avi_frame_room));
        if (pictures.held.back() == nullptr) {
            return out_of_memory();
        }
        std::memset(pictures.held.back(), 0, stream.frame_bytes + avi_frame_room);
    }
    for (std::size_t slot = 0; slot < slots; ++slot) {
        unpacked[slot].picture = pictures.held[slot];
    }
    unsigned char* last_good = pictures.held.back();
    for (int w = 0; w < workers; ++w) {
        pictures.held.push_back(acquire_block(room));
        if (pictures.held.back() == nullptr) {
            return out_of_memory();
        }
    }
    unsigned char* const* frame_buffers = pictures.held.data() + pictures.held.size() - std::size_t(workers);
    // The pages that reading the layout left mapped go back before the
    // frames are read from the start.
    input.give_back_all();

    AviWriter writer;
    writer.report = stderr;
    AviSound sound;
    const bool with_sound = !raw && carried_sound(layout, sound);
    if (!raw && layout.has_sound && !with_sound) {
        std::fprintf(stderr, "reelunpack: the sound stream of %s is not linear PCM and is not carried\n", input_path);
    }
    std::size_t next_sound = 0;
    if (to_stdout) {
        report_broken_pipes();
    }
    if (!raw && !open_avi_output(writer, output_path, input.data, layout, with_sound ? &sound : nullptr,
                                 pictures.held.front(), stream.frame_bytes)) {
        return exit_failure;  // it has said why
    }

    std::size_t damaged = 0;
    Progress progress("reelunpack", total, stream.frame_bytes);
    const bool written = run_in_order(
        workers, total, slots, [](std::size_t) {},
        [&](std::size_t w, std::size_t i) {
            unpack_frame(input, layout, stream, decoders[w], frame_buffers[w], room, i, unpacked[i % slots]);
        },
        [&](std::size_t i) {
            UnpackedFrame& frame = unpacked[i % slots];
            const AviFrameRef& ref = layout.frames[i];
            input.give_back(ref.offset + ref.size, ref.offset + ref.size, std::uint64_t(1) << 20);
            if (frame.status != Status::ok) {
                progress.clear();
                std::fprintf(stderr, "reelunpack: frame %zu is damaged (%s); the previous frame stands in for it\n", i,
                             status_text(frame.status));
                ++damaged;
            } else if (!frame.repeat) {
                std::swap(frame.picture, last_good);
            }
            bool ok;
            if (turn_rows) {
                const std::size_t rows = static_cast<std::size_t>(layout.height);
                for (std::size_t y = 0; y < rows; ++y) {
                    std::memcpy(turned.data() + y * stream.stored_row, last_good + (rows - 1 - y) * stream.stored_row,
                                stream.stored_row);
                }
                ok = write_all(STDOUT_FILENO, turned.data(), stream.frame_bytes);
            } else if (raw) {
                ok = write_all(STDOUT_FILENO, last_good, stream.frame_bytes);
            } else {
                ok = write_sound_before(writer, input.data, layout, next_sound, i) &&
                     writer.write_frame(last_good, static_cast<int>(stream.frame_bytes), AVIIF_KEYFRAME) == 1;
            }
            if (ok) {
                progress.update(i + 1);
            }
            return ok;
        });
    if (!written) {
        progress.clear();
        std::fprintf(stderr, "reelunpack: unable to write %s\n", output_name);
        writer.abandon();
        return exit_failure;
    }
    progress.clear();
    if (!raw && (!write_sound_before(writer, input.data, layout, next_sound, total) || !writer.flush())) {
        std::fprintf(stderr, "reelunpack: unable to write %s\n", output_name);
        return exit_failure;
    }
    if (damaged > 0) {
        std::fprintf(stderr, "reelunpack: %zu of %zu frames were damaged\n", damaged, total);
        return exit_failure;
    }
    return layout.damaged ? exit_failure : exit_ok;
}
