#include "driver/run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "avi/avi_writer.h"
#include "cli/command_line.h"
#include "cli/input_file.h"
#include "cli/output_signals.h"
#include "cli/threads.h"
#include "common/byte_order.h"
#include "common/failure.h"
#include "driver/coded_pass.h"
#include "driver/conversion.h"
#include "driver/plain_pass.h"
#include "quicktime/atoms.h"
#include "quicktime/deep_planes.h"
#include "quicktime/ycbcr_rows.h"

namespace {

const char usage_text[] =
    "Usage: reelpack [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nTarvic compressed avi.\n";

const char help_text[] =
    "\n"
    "Converts an uncompressed QuickTime movie into an AVI file, every frame\n"
    "compressed with the lossless Tarvic codec or, with -u, stored as a plain\n"
    "frame. It reads RGB of data format \"raw \", \"WRLE\", \"24BG\", \"BGRA\", \"RGBA\",\n"
    "\"ABGR\" or \"B565\", and Y'CbCr of \"2vuy\", \"yuvs\", \"yuv2\", \"v308\" or \"v408\",\n"
    "sample for sample. A sound track of linear PCM goes in as it is.\n"
    "What it finds and writes goes to standard output; a progress line goes to\n"
    "standard error when that is a terminal. A compressed movie is refused, with\n"
    "the ffmpeg command that makes an uncompressed one of it.\n"
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

const ToolHelp help{"reelpack", usage_text, help_text, nullptr};

int usage()
{
    std::fputs(usage_text, stdout);
    return exit_usage;
}

// Reads the options, the paths and the thread count. Returns the exit
// status of a command line that ends the run here, or -1 to go on.
int read_command_line(int argc, char** argv, Conversion& run)
{
    const int answered = answer_help_or_version(argc, argv, help);
    if (answered >= 0) {
        return answered;
    }
    const int arguments = argc - 1;
    if (arguments != 2 && arguments != 3) {
        return usage();
    }
    run.input_path = argv[1];
    run.output_path = argv[2];
    if (argv[1][0] == '-') {
        if (argv[1][1] != 'u' && argv[1][1] != 'U') {
            std::printf("Unknown option: \"%s\"\n", argv[1]);
            return exit_usage;
        }
        if (arguments == 2) {
            return usage();  // the option and one file name: no output named
        }
        run.compressed = false;
        run.input_path = argv[2];
        run.output_path = argv[3];
    }
    return frame_threads("reelpack", run.threads) ? -1 : exit_usage;
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

// Reads the movie's structure into the frame table, saying what it finds;
// false after saying why the movie cannot be converted.
bool index_input(Conversion& run)
{
    Stream input{std::fopen(run.input_path, "rb")};
    struct stat input_stat;
    if (input.file == nullptr || ::fstat(fileno(input.file), &input_stat) != 0 || !S_ISREG(input_stat.st_mode)) {
        std::puts("Unable to open the input file.");
        return false;
    }
    if (same_file(input_stat, run.output_path)) {
        std::puts("Output file must differ from the input file.");
        return false;
    }
    MovieSource source;
    source.file = input.file;
    source.file_size = static_cast<std::uint64_t>(input_stat.st_size);
    source.path = run.input_path;
    if (const Failure failure = index_movie(source, run.info, run.table, stdout); failure.failed()) {
        std::puts(failure_text(failure).c_str());
        return false;
    }
    return true;
}

// Opens the movie's frames. Frames to be coded are read into their coder's
// buffer: using them in a mapping of the movie costs a page fault every few
// pages and giving the pages back afterwards, which is more than the copy
// (three times as much on a virtual machine). The frames of -u are
// converted or written from the mapping.
bool open_frames(Conversion& run)
{
    const PixelLayout& layout = run.info.layout;
    run.stored_size = layout.frame_bytes;
    run.row_bytes = layout.row_bytes;
    run.frame_size = run.row_bytes * std::size_t(run.info.height);
    run.as_stored = layout.as_stored();
    if (layout.format->planes != nullptr) {
        run.plane_layout = layout.format->planes->layout;
        run.plane_bits = 8;
    } else if (const DeepLayout deep = deep_layout(*layout.format); deep.bits != 0) {
        run.plane_layout = deep.layout;
        run.plane_bits = deep.bits;
    }
    if (!run.movie.open(run.input_path, run.stored_size, nullptr, !run.compressed)) {
        std::puts("Unable to open the input file.");
        return false;
    }
    run.movie.black = layout.format->black;
    run.movie.black_size = packed_row(*layout.format, 1);
    run.movie.row_stride = layout.stride;
    return true;
}

// Prepares the sound that goes in between the frames, where there is one.
bool begin_sound(Conversion& run)
{
    const MovieInfo& info = run.info;
    if (info.sound.carried && !run.feed.begin(info.sound, run.movie.file.fd, info.frame_period,
                                              std::uint32_t(info.time_scale), std::uint64_t(info.avi_frames))) {
        std::puts("Not enough memory for the movie's sound.");
        return false;
    }
    return true;
}

bool open_output(Conversion& run)
{
    const AviSound sound = avi_sound(run.info.sound);
    const PixelLayout& layout = run.info.layout;
    AviVideo video{layout.bit_count, layout.format->plain_code, static_cast<std::uint32_t>(run.frame_size)};
    if (run.compressed && run.plane_bits != 0) {
        // A Tarvic stream of planes says which uncompressed form it
        // unpacks to and the movie's own packing.
        const unsigned char* data_format = reinterpret_cast<const unsigned char*>(run.info.data_format);
        video.planes = {layout.format->plain_code, get_le32(data_format), int(run.plane_layout), run.plane_bits};
    }
    remove_output_on_signals();
    if (!run.writer.init(run.output_path, run.info.width, run.info.height, run.info.time_scale,
                         static_cast<int>(run.info.frame_period), run.compressed ? 1 : 0, video,
                         run.info.sound.carried ? &sound : nullptr)) {
        return false;  // it has said why
    }
    std::printf("Writing %s, this may take a while...\n", run.output_path);
    return true;
}

int output_failure(Conversion& run)
{
    run.writer.abandon();
    const Failure failure =
        run.writer.failure.failed() ? run.writer.failure : make_failure(Fault::output_write, run.output_path);
    std::printf("%s\n", failure_text(failure).c_str());
    return exit_failure;
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
    Conversion run;
    const int ended = read_command_line(argc, argv, run);
    if (ended >= 0) {
        return ended;
    }
    if (!index_input(run) || !open_frames(run)) {
        return exit_failure;
    }
    CodedPass coded;
    PlainPass plain;
    const bool prepared = run.compressed ? CodedPass::fits(run) && begin_sound(run) && coded.begin(run)
                                         : begin_sound(run) && PlainPass::fits(run) && plain.begin(run);
    if (!prepared || !open_output(run)) {
        return exit_failure;
    }
    if (!(run.compressed ? coded.run(run) : plain.run(run))) {
        return output_failure(run);
    }
    if ((run.info.sound.carried && !run.feed.write_rest(run.writer)) || !run.writer.flush()) {
        return output_failure(run);
    }
    std::printf("Finished writing file %s\n", run.output_path);
    return warn_of_losses(run.info, run.incomplete, run.info.sound.lost + run.feed.missing);
}
