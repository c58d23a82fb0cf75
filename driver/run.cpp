#include "driver/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "avi/avi_writer.h"
#include "codec/codec.h"
#include "driver/frame_queue.h"
#include "driver/frames.h"
#include "driver/progress.h"
#include "driver/sound_feed.h"
#include "driver/threads.h"
#include "common/blocks.h"
#include "common/failure.h"
#include "quicktime/movie.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int usage()
{
    std::puts("Usage: reelpack [-u] <.mov file> <output filename>");
    std::puts("Use -u if you want to produce an uncomressed avi instead of a\nTarvic compressed avi.");
    return exit_usage;
}

const char help_text[] =
    "\n"
    "Converts an uncompressed QuickTime movie (data format \"raw \" or \"WRLE\") into an\n"
    "AVI file, every frame compressed with the lossless Tarvic codec or, with -u,\n"
    "stored as a plain bitmap; a sound track of linear PCM goes in as it is. What\n"
    "it finds and writes goes to standard output; a progress line goes to standard\n"
    "error when that is a terminal.\n"
    "\n"
    "Options:\n"
    "  -u         write the frames uncompressed\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Environment:\n"
    "  REELPACK_THREADS  the number of threads that convert frames; unset or 0,\n"
    "                    one for each processor the process may run on\n"
    "\n"
    "Exit status: 0 after a complete conversion, 1 for any failure, 2 for a\n"
    "command line it cannot use.\n";

// An owned block.
struct Block {
    unsigned char* bytes = nullptr;
    explicit Block(std::size_t size) : bytes(acquire_block(size)) {}
    ~Block() { std::free(bytes); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
};

// One worker's codec, the buffer for the frames it must read, and the one
// for frames converted before they are coded.
struct Coder {
    CodecInst codec;
    unsigned char* frame = nullptr;
    unsigned char* converted = nullptr;
    ~Coder()
    {
        std::free(frame);
        std::free(converted);
    }
};

// A frame between its coder and the writer.
struct CodedFrame {
    std::uint64_t offset = 0;
    std::uint32_t duration = 0;  // in the track's time units
    unsigned char* bytes = nullptr;  // tarvic_frame_bound() bytes
    ICCOMPRESS block{};
    bool complete = false;
    ~CodedFrame() { std::free(bytes); }
};

// Codes the frame at `offset` into `coded`, reading it into the coder's
// buffer when the mapping does not hold it, and converting it first unless
// the codec takes it as stored. Any number of frames may be coded at once,
// each with a coder of its own.
void code_frame(MovieFrames& movie, const PixelLayout& layout, bool as_stored, std::size_t frame_size, Coder& coder,
                CodedFrame& coded)
{
    coded.complete = movie.use_frame(coded.offset, coder.frame, [&](const unsigned char* pixels) {
        if (!as_stored) {
            movie_rows_to_frame(layout, pixels, coder.converted, 0, layout.height);
            pixels = coder.converted;
        }
        coded.block.dwFlags = 0;
        coded.block.dwSize = static_cast<std::uint32_t>(frame_size);
        coded.block.lpInput = pixels;
        coded.block.lpOutput = coded.bytes;
        coder.codec.CompressContinue(&coded.block, 0);
    });
    movie.drop(coded.offset);
}

struct Stream {
    std::FILE* file = nullptr;
    ~Stream()
    {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

// Converts a frame a piece of rows at a time and writes each piece as it is
// made. Returns whether the movie held the whole frame; a failed write shows
// in the writer's error.
bool write_converted(MovieFrames& movie, std::uint64_t offset, AviWriter& writer, unsigned char* piece,
                     int piece_rows, const PixelLayout& layout)
{
    const std::size_t row_bytes = std::size_t(layout.width) * std::size_t(layout.bit_count / 8);
    const int height = layout.height;
    bool complete = true;
    const unsigned char* pixels = movie.mapped(offset);
    if (pixels == nullptr) {
        complete = movie.read(offset);
        pixels = movie.buffer;
    }
    if (!writer.begin_frame(static_cast<int>(row_bytes * std::size_t(height)), AVIIF_KEYFRAME)) {
        return complete;
    }
    for (int row = 0; row < height; row += piece_rows) {
        const int rows = std::min(piece_rows, height - row);
        if (pixels != movie.buffer &&
            !movie.guarded([&] { movie_rows_to_frame(layout, pixels, piece, row, rows); })) {
            // The movie was cut short while it was read: the rest of the
            // frame comes from reading it.
            complete = movie.read(offset);
            pixels = movie.buffer;
        }
        if (pixels == movie.buffer) {
            movie_rows_to_frame(layout, pixels, piece, row, rows);
        }
        if (!writer.write_frame_part(piece, row_bytes * std::size_t(rows))) {
            return complete;
        }
    }
    writer.end_frame();
    if (pixels != movie.buffer) {
        movie.release(offset);
    }
    return complete;
}

void report_too_many_riffs(const char* path)
{
    std::printf("The output file %s would need more than %d RIFF lists of up to 1 GiB, more than its index can "
                "point to\n",
                path, avi_max_riffs);
}

int output_failure(AviWriter& writer, const char* path)
{
    writer.abandon();
    if (writer.error == AviError::too_many_riffs) {
        report_too_many_riffs(path);
    } else if (writer.error == AviError::frame_too_large) {
        std::printf("The output file %s cannot hold a frame of more than %u bytes\n", path, avi_max_frame_size);
    } else {
        std::printf("Unable to write output file %s\n", path);
    }
    return exit_failure;
}

bool same_file(const struct stat& input, const char* output_path)
{
    struct stat out;
    return ::stat(output_path, &out) == 0 && out.st_dev == input.st_dev && out.st_ino == input.st_ino;
}

// Says what the movie did not hold, once the file is written: frames past
// the end of its file, frames it held only in part, and sound written as
// silence. Returns the exit status: a failure when anything was missing.
int warn_of_losses(const MovieInfo& info, std::int32_t incomplete, std::uint64_t silenced)
{
    int status = exit_ok;
    if (info.frames_lost > 0) {
        std::printf("Warning: %lld frames lay past the end of the movie file; the AVI file ends before them\n",
                    static_cast<long long>(info.frames_lost));
        status = exit_failure;
    } else if (info.fragment_cut) {
        std::puts("Warning: the movie file ends inside a movie fragment; the AVI file ends where it does");
        status = exit_failure;
    }
    if (incomplete > 0) {
        std::printf("Warning: %d frames were incomplete in the movie; their missing bytes were written as black\n",
                    incomplete);
        status = exit_failure;
    }
    if (silenced > 0) {
        std::printf("Warning: %llu sample frames of sound were missing in the movie; they were written as silence\n",
                    static_cast<unsigned long long>(silenced));
        status = exit_failure;
    }
    return status;
}

}  // namespace

int reelpack_run(int argc, char** argv)
{
    const int arguments = argc - 1;
    if (arguments == 1 && std::strcmp(argv[1], "--help") == 0) {
        usage();
        std::fputs(help_text, stdout);
        return exit_ok;
    }
    if (arguments == 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("reelpack %s\n", REELPACK_VERSION);
        return exit_ok;
    }
    if (arguments != 2 && arguments != 3) {
        return usage();
    }
    bool compressed = true;
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    if (argv[1][0] == '-') {
        if (argv[1][1] != 'u' && argv[1][1] != 'U') {
            std::printf("Unknown option: \"%s\"\n", argv[1]);
            return exit_usage;
        }
        if (arguments == 2) {
            return usage();  // the option and one file name: no output named
        }
        compressed = false;
        input_path = argv[2];
        output_path = argv[3];
    }
    int threads = 1;
    if (!frame_threads("reelpack", threads)) {
        return exit_usage;
    }

    Stream input{std::fopen(input_path, "rb")};
    struct stat input_stat;
    if (input.file == nullptr || ::fstat(fileno(input.file), &input_stat) != 0 || !S_ISREG(input_stat.st_mode)) {
        std::puts("Unable to open the input file.");
        return exit_failure;
    }
    if (same_file(input_stat, output_path)) {
        std::puts("Output file must differ from the input file.");
        return exit_failure;
    }

    MovieInfo info;
    FrameTable table;
    {
        MovieSource source;
        source.file = input.file;
        source.file_size = static_cast<std::uint64_t>(input_stat.st_size);
        if (const Failure failure = index_movie(source, info, table, stdout); failure.failed()) {
            std::puts(failure_text(failure).c_str());
            return exit_failure;
        }
    }
    std::fclose(input.file);
    input.file = nullptr;

    const PixelLayout& layout = info.layout;
    const int width = info.width;
    const int height = info.height;
    const int bit_count = layout.bit_count;
    // A frame as the movie stores it, and as the AVI file holds it.
    const std::size_t stored_size = layout.frame_bytes;
    const std::size_t row_bytes = std::size_t(width) * std::size_t(bit_count / 8);
    const std::size_t frame_size = row_bytes * std::size_t(height);
    // Packed 24-bit frames go on as they are stored ("WRLE") or as the codec
    // reads a "raw " movie's; every other layout is converted first.
    const bool as_stored = layout.as_stored();
    // The writer sets three bytes after the frame it is given.
    Block frame(stored_size + 1024);
    // Frames to be coded are read into their coder's buffer: using them in
    // a mapping of the movie costs a page fault every few pages and giving
    // the pages back afterwards, which is more than the copy (three times
    // as much on a virtual machine). The frames of -u are converted or
    // written from the mapping.
    MovieFrames movie;
    if (!movie.open(input_path, stored_size, frame.bytes, !compressed)) {
        std::puts("Unable to open the input file.");
        return exit_failure;
    }
    // Frames that are converted for -u are converted and written a piece of
    // rows at a time, through a buffer small enough to stay in the
    // processor's cache; in compressed mode they are converted whole.
    const int piece_rows =
        static_cast<int>(std::max<std::size_t>(1, (std::size_t(512) << 10) / std::max<std::size_t>(row_bytes, 1)));
    const bool pieces = !compressed && !layout.avi_holds_stored();
    Block work(pieces ? row_bytes * std::size_t(piece_rows) : 0);

    // The codec is begun in both modes; only the compressed mode needs it.
    const std::size_t coded_bound = tarvic_frame_bound(width, height, bit_count);
    if (compressed && (coded_bound == 0 || coded_bound > avi_max_frame_size)) {
        std::printf("Unable to prepare the compressor for %dx%d frames: %s\n", width, height,
                    "a coded frame could take more bytes than an AVI chunk can hold");
        return exit_failure;
    }
    // The sound goes in between the frames.
    const MovieSound& sound = info.sound;
    const AviSound sound_format = avi_sound(sound);
    SoundFeed feed;
    if (sound.carried &&
        !feed.begin(sound, movie.fd, info.frame_period, std::uint32_t(info.time_scale), std::uint64_t(info.avi_frames))) {
        std::puts("Not enough memory for the movie's sound.");
        return exit_failure;
    }
    // Uncompressed frames all have one size, so a file that the super index
    // could not describe is known before anything is written (with sound,
    // each frame's share of it is counted at its most). Coded frames are as
    // long as their content makes them; the writer refuses the RIFF that
    // does not fit.
    const std::uint64_t frame_and_sound = frame_size + (sound.carried ? feed.bytes_per_frame() : 0);
    if (!compressed && avi_riff_count(std::uint64_t(info.avi_frames), std::uint32_t(std::min<std::uint64_t>(
                                                                          frame_and_sound, avi_max_frame_size))) >
                           std::uint64_t(avi_max_riffs)) {
        report_too_many_riffs(output_path);
        return exit_failure;
    }
    // Frames are coded on every worker at once, one more in flight than
    // there are workers so that a worker done with its frame can go on with
    // the next while the one before is written; uncompressed frames are
    // copies, as fast on one thread.
    const int workers = compressed ? std::max(1, std::min(threads, int(table.total_frames))) : 1;
    const std::size_t slots = workers == 1 ? 1 : std::size_t(workers) + 1;
    std::unique_ptr<Coder[]> coders(new (std::nothrow) Coder[std::size_t(workers)]);
    std::unique_ptr<CodedFrame[]> coded(new (std::nothrow) CodedFrame[slots]);
    if (coders == nullptr || coded == nullptr) {
        std::printf("Not enough memory for frames of %dx%d pixels.\n", width, height);
        return exit_failure;
    }
    bool acquired = frame.bytes != nullptr && work.bytes != nullptr;
    for (int w = 0; w < workers; ++w) {
        CodecInst& codec = coders[w].codec;
        // The codec reads a packed "raw " movie's frames as they come, so
        // that the compressed mode does not convert them first; 32-bit
        // frames keep their alpha.
        codec.input_order = layout.codec_order();
        codec.keep_alpha = bit_count == 32 ? 1 : 0;
        const Status begun = codec.CompressBegin(width, height, bit_count);
        if (compressed && begun != Status::ok) {
            std::printf("Unable to prepare the compressor for %dx%d frames: %s\n", width, height,
                        status_text(begun));
            return exit_failure;
        }
        if (compressed) {
            coders[w].frame = acquire_block(stored_size);
            acquired = acquired && coders[w].frame != nullptr;
        }
        if (compressed && !as_stored) {
            coders[w].converted = acquire_block(frame_size);
            acquired = acquired && coders[w].converted != nullptr;
        }
    }
    for (std::size_t slot = 0; compressed && slot < slots; ++slot) {
        coded[slot].bytes = static_cast<unsigned char*>(std::malloc(coded_bound));
        acquired = acquired && coded[slot].bytes != nullptr;
    }
    if (!acquired) {
        std::printf("Not enough memory for frames of %dx%d pixels.\n", width, height);
        return exit_failure;
    }

    AviWriter writer;
    remove_output_on_signals();
    if (!writer.init(output_path, width, height, info.time_scale, static_cast<int>(info.frame_period), compressed ? 1 : 0,
                     bit_count, sound.carried ? &sound_format : nullptr)) {
        return exit_failure;
    }
    std::printf("Writing %s, this may take a while...\n", output_path);

    std::int32_t incomplete = 0;
    Progress progress("reelpack", std::uint64_t(table.total_frames), frame_size);
    FrameCursor cursor{table};
    // Frames that last several periods are followed by repeats: in coded
    // files the codec's null frame, which every decoder takes as the frame
    // before; in uncompressed ones the frame again. The sound heard by the
    // end of each follows it.
    FrameClock clock{info.frame_period};
    auto sound_due = [&] { return !sound.carried || feed.write_due(writer, std::uint64_t(writer.frame_count)); };
    if (compressed) {
        const bool written = run_in_order(
            workers, std::size_t(table.total_frames), slots,
            [&](std::size_t i) {
                coded[i % slots].offset = cursor.next();
                coded[i % slots].duration = cursor.duration();
            },
            [&](std::size_t w, std::size_t i) {
                code_frame(movie, layout, as_stored, frame_size, coders[w], coded[i % slots]);
            },
            [&](std::size_t i) {
                const CodedFrame& frame_coded = coded[i % slots];
                if (!frame_coded.complete) {
                    ++incomplete;
                }
                movie.release(frame_coded.offset);
                const std::uint64_t periods = clock.frames_for(frame_coded.duration);
                if (periods > 0 && (writer.write_frame(frame_coded.bytes, static_cast<int>(frame_coded.block.dwSize),
                                                       static_cast<int>(frame_coded.block.dwFlags)) == 0 ||
                                    !sound_due())) {
                    return false;
                }
                for (std::uint64_t repeat = 1; repeat < periods; ++repeat) {
                    if (writer.write_frame(frame_coded.bytes, 0, 0) == 0 || !sound_due()) {
                        return false;
                    }
                }
                progress.update(std::uint64_t(i) + 1);
                return true;
            });
        if (!written) {
            progress.clear();
            return output_failure(writer, output_path);
        }
    }
    for (std::int32_t i = 0; !compressed && i < table.total_frames; ++i) {
        const std::uint64_t offset = cursor.next();
        const std::uint64_t periods = clock.frames_for(cursor.duration());
        int written = 1;
        bool complete = true;
        if (!pieces && periods > 0) {
            // Read once, however often written: the writer sets bytes only
            // after the frame it is given, so the frame goes out from the
            // buffer as it stands.
            complete = movie.read(offset);
        }
        for (std::uint64_t period = 0; period < periods && written; ++period) {
            if (pieces) {
                complete = write_converted(movie, offset, writer, work.bytes, piece_rows, layout);
                written = writer.error == AviError::none;
            } else {
                written = writer.write_frame(frame.bytes, static_cast<int>(frame_size), AVIIF_KEYFRAME);
            }
            written = written && sound_due();
        }
        if (!complete) {
            ++incomplete;
        }
        if (!written) {
            progress.clear();
            return output_failure(writer, output_path);
        }
        progress.update(std::uint64_t(i) + 1);
    }
    progress.clear();
    if ((sound.carried && !feed.write_rest(writer)) || !writer.flush()) {
        return output_failure(writer, output_path);
    }
    std::printf("Finished writing file %s\n", output_path);
    return warn_of_losses(info, incomplete, sound.lost + feed.missing);
}
