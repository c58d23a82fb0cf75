#include "unpack/run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "cli/command_line.h"
#include "cli/input_file.h"
#include "cli/output_signals.h"
#include "cli/threads.h"
#include "unpack/frame_pass.h"
#include "unpack/stream.h"
#include "unpack/unpack_avi.h"

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

struct CommandLine {
    bool info = false;
    bool avi = false;                   // an AVI file, also on standard output
    const char* input_path = nullptr;
    const char* output_path = nullptr;  // "-" for standard output; none for --info
    bool to_stdout = false;
    bool raw = false;                   // raw frames on standard output, not an AVI file
    int threads = 1;
};

// Returns the exit status of a command line that ends the run here (help,
// version, usage, a thread count it cannot use), or -1 for one to go on with.
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
    line.to_stdout = line.output_path != nullptr && std::strcmp(line.output_path, "-") == 0;
    line.raw = line.to_stdout && !line.avi;
    return frame_threads("reelunpack", line.threads) ? -1 : exit_usage;
}

// The file read, its layout and its video stream.
struct Input {
    InputFile file;
    AviLayout layout;
    VideoStream stream;
};

// Four bytes of a code as text, those that are not printable as '?'.
std::string code_text(const unsigned char* code)
{
    std::string text(reinterpret_cast<const char*>(code), 4);
    for (char& c : text) {
        c = c >= ' ' && c <= '~' ? c : '?';
    }
    return text;
}

void refuse_record(const char* path, const AviLayout& layout)
{
    const unsigned char* record = layout.record;
    std::fprintf(stderr,
                 "reelunpack: %s: the record of its Tarvic stream of planes (form \"%s\", data format \"%s\", "
                 "layout %u, %u bits a sample, %d bits a pixel) is not one reelunpack knows\n",
                 path, code_text(record + 4).c_str(), code_text(record + 8).c_str(), unsigned(record[12]),
                 unsigned(record[13]), layout.bit_count);
}

bool read_input(const char* path, Input& input)
{
    if (!input.file.open(path) || !input.file.map()) {
        std::fprintf(stderr, "reelunpack: cannot read %s: %s\n", path,
                     errno != 0 ? std::strerror(errno) : "not a regular file");
        return false;
    }
    // The pages that reading the layout touches are given back as it goes.
    const AviReadProgress reading{
        [](void* file, std::uint64_t position) {
            static_cast<InputFile*>(file)->give_back(position, position, std::uint64_t(1) << 20);
        },
        &input.file};
    const Failure read = read_avi_layout(input.file.data, input.file.size, input.layout, &reading);
    if (read.failed()) {
        std::fprintf(stderr, "reelunpack: %s: %s\n", path, failure_text(read).c_str());
        return false;
    }
    if (!describe_stream(input.layout, input.stream)) {
        if (input.stream.bad_record) {
            refuse_record(path, input.layout);
        } else {
            std::fprintf(stderr, "reelunpack: %s holds no 24-bit or 32-bit Tarvic or uncompressed video stream\n",
                         path);
        }
        return false;
    }
    return true;
}

// Refuses an output that cannot take the frames; notes a damaged input.
bool check_output(const CommandLine& line, const Input& input)
{
    if (line.to_stdout && ::isatty(STDOUT_FILENO) == 1) {
        std::fprintf(stderr, "reelunpack: standard output is a terminal; refusing to write %s to it\n",
                     line.raw ? "pixels" : "an AVI file");
        return false;
    }
    if (!line.to_stdout && same_file(input.file.st, line.output_path)) {
        std::fprintf(stderr, "reelunpack: the output file must differ from the input file\n");
        return false;
    }
    if (input.layout.damaged) {
        std::fprintf(stderr, "reelunpack: %s is damaged; decoding the frames that can be found\n", line.input_path);
    }
    return true;
}

// Opens where the frames go: standard output for raw frames, or the AVI
// file with the sound it carries. False after saying why.
bool open_sink(const CommandLine& line, const Input& input, FramePass& pass, AviWriter& writer, OutputFile& raw,
               FrameSink& sink)
{
    writer.report = stderr;
    AviSound sound;
    const bool with_sound = !line.raw && carried_sound(input.layout, sound);
    if (!line.raw && input.layout.has_sound && !with_sound) {
        std::fprintf(stderr, "reelunpack: the sound stream of %s is not linear PCM and is not carried\n",
                     line.input_path);
    }
    if (line.to_stdout) {
        report_broken_pipes();
    }
    sink.input = input.file.data;
    if (line.raw) {
        stream_output(raw, STDOUT_FILENO);
        sink.raw = &raw;
        return true;
    }
    sink.writer = &writer;
    return open_avi_output(writer, line.output_path, input.file.data, input.layout, with_sound ? &sound : nullptr,
                           pass.spare_picture(), plain_video(input.stream));
}

int write_failed(const CommandLine& line)
{
    std::fprintf(stderr, "reelunpack: unable to write %s\n", line.to_stdout ? "to standard output" : line.output_path);
    return exit_failure;
}

}  // namespace

int reelunpack_run(int argc, char** argv)
{
    CommandLine line;
    const int ended = read_command_line(argc, argv, line);
    if (ended >= 0) {
        return ended;
    }
    Input input;
    if (!read_input(line.input_path, input)) {
        return exit_failure;
    }
    if (line.info) {
        print_info(line.input_path, input.layout, input.stream);
        return exit_ok;
    }
    FramePass pass;
    if (!check_output(line, input) || !pass.begin(input.layout, input.stream, line.threads, line.raw)) {
        return exit_failure;
    }
    // The pages that reading the layout left mapped go back before the
    // frames are read from the start.
    input.file.give_back_all();
    AviWriter writer;
    OutputFile raw;
    FrameSink sink;
    if (!open_sink(line, input, pass, writer, raw, sink)) {
        return exit_failure;  // it has said why
    }
    if (!pass.run(input.file, input.layout, input.stream, sink)) {
        write_failed(line);
        writer.abandon();
        return exit_failure;
    }
    if (!line.raw && (!write_sound_before(writer, input.file.data, input.layout, sink.next_sound,
                                          input.layout.frames.size()) ||
                      !writer.flush())) {
        return write_failed(line);
    }
    const std::size_t total = input.layout.frames.size();
    if (pass.damaged > 0) {
        std::fprintf(stderr, "reelunpack: %zu of %zu frames were damaged\n", pass.damaged, total);
        return exit_failure;
    }
    return input.layout.damaged ? exit_failure : exit_ok;
}
