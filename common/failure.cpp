#include "common/failure.h"

#include <cstdarg>
#include <cstdio>

namespace {

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

long long number(const Failure& failure, int which) { return static_cast<long long>(failure.numbers[which]); }

// A four-character code held as a number, its bytes in reading order.
std::string four_bytes(std::int64_t code)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[std::size_t(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    }
    return text;
}

// A path as a shell reads it back, and as ffmpeg takes it for a file
// rather than an option: as it is when it holds nothing a shell treats
// specially, otherwise in single quotes.
std::string shell_word(std::string path)
{
    if (path.rfind('-', 0) == 0) {
        path = "./" + path;
    }
    const char plain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+:,./-";
    if (!path.empty() && path.find_first_not_of(plain) == std::string::npos) {
        return path;
    }
    std::string word = "'";
    for (const char c : path) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

// The uncompressed copy of `movie` beside it: its name without the
// extension, then "-uncompressed.mov".
std::string uncompressed_copy(const std::string& movie)
{
    const std::size_t name = movie.rfind('/') == std::string::npos ? 0 : movie.rfind('/') + 1;
    const std::size_t dot = movie.rfind('.');
    const bool extension = dot != std::string::npos && dot > name;
    return movie.substr(0, extension ? dot : movie.size()) + "-uncompressed.mov";
}

// The second line of the refusal of a movie whose data format has no
// layout: what its video is and, for compressed video, the ffmpeg command
// that makes an uncompressed movie of it, with the movie's path where the
// reader was told it.
std::string unread_video_text(const Failure& failure)
{
    const std::string format = "Data format \"" + four_bytes(failure.numbers[0]) + "\" is ";
    switch (static_cast<UnreadVideo>(failure.numbers[1])) {
    case UnreadVideo::compressed:
        break;
    case UnreadVideo::uncompressed:
        return format + "uncompressed video in a layout that reelpack does not read yet.";
    case UnreadVideo::unknown:
        return format + "not a video format that reelpack knows.";
    }
    const bool named = !failure.name.empty();
    const std::string movie = named ? shell_word(failure.name) : "<movie>";
    const std::string copy = named ? shell_word(uncompressed_copy(failure.name)) : "<new movie>.mov";
    return format + "compressed video, which reelpack does not read; ffmpeg makes an uncompressed movie of it: "
                    "ffmpeg -i " + movie + " -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le " + copy;
}

}  // namespace

std::string failure_text(const Failure& failure)
{
    const char* name = failure.name.c_str();
    switch (failure.fault) {
    case Fault::none:
        return "no failure";
        // The movie reader.
    case Fault::movie_tag_missing:
        return formatted("Unable to find tag \"%s\"", name);
    case Fault::movie_atom_too_short:
        return formatted("The \"%s\" atom is too short for what it says it holds.", name);
    case Fault::movie_atom_header_cut:
        return formatted("The \"%s\" atom is cut off in its header.", name);
    case Fault::movie_atom_below_header:
        return formatted("The \"%s\" atom has a size of %llu bytes, less than its header.", name,
                         static_cast<unsigned long long>(failure.numbers[0]));
    case Fault::movie_atom_past_file:
        return formatted("The \"%s\" atom runs past the end of the movie file.", name);
    case Fault::movie_atom_past_holder:
        return formatted("The \"%s\" atom is larger than the \"%s\" atom that holds it.", name,
                         four_bytes(failure.numbers[0]).c_str());
    case Fault::movie_header_memory:
        return "Not enough memory to read the movie header.";
    case Fault::movie_fragment_memory:
        return "Not enough memory to read a movie fragment.";
    case Fault::movie_no_video:
        return "The movie has no video track.";
    case Fault::movie_picture_size:
        return formatted("Unsupported picture size %lldx%lld", number(failure, 0), number(failure, 1));
    case Fault::movie_data_format:
        return "Unsupported data format, please select \"BMP\" or \"none\" as the video compression when saving a "
               ".mov file\n" + unread_video_text(failure);
    case Fault::movie_depth_without_table:
        return "Unsupported pixel depth 8 without a colour table in the movie";
    case Fault::movie_depth:
        return formatted("Unsupported pixel depth %lld for data format \"%s\"", number(failure, 0), name);
    case Fault::movie_frame_fits_nothing:
        return formatted("The movie's frames of %lld bytes fit no %lldx%lld picture of depth %lld", number(failure, 0),
                         number(failure, 1), number(failure, 2), number(failure, 3));
    case Fault::movie_frame_sizes_differ:
        return formatted("The movie's frames are of different sizes (%lld and %lld bytes)", number(failure, 0),
                         number(failure, 1));
    case Fault::movie_too_few_sizes:
        return formatted("The \"stsz\" atom lists %lld sample sizes for %lld frames.", number(failure, 0),
                         number(failure, 1));
    case Fault::movie_too_many_frames:
        return formatted("The movie describes %lld frames, more than an AVI file can hold (%lld).", number(failure, 0),
                         number(failure, 1));
    case Fault::movie_edits_too_many_frames:
        return formatted("The movie's edit list shows more frames than an AVI file can hold (%lld).",
                         number(failure, 0));
    case Fault::movie_edits_too_many_runs:
        return "The movie's edit list repeats its frames more often than reelpack can follow.";
    case Fault::movie_too_many_avi_frames:
        return formatted("The movie's frames at their times make %lld AVI frames, more than an AVI file can hold "
                         "(%lld).",
                         number(failure, 0), number(failure, 1));
        // The AVI reader.
    case Fault::avi_not_avi:
        return "not an AVI file";
    case Fault::avi_no_stream:
        return "no video stream format";
    case Fault::avi_no_movi:
        return "no movi list";

        // The AVI writer and the output file.
    case Fault::output_open:
        return "Unable to open output file " + failure.name;
    case Fault::output_write:
        return "Unable to write output file " + failure.name;
    case Fault::avi_frame_too_large:
        return "The output file " + failure.name + " cannot hold a frame of more than " +
               std::to_string(failure.numbers[0]) + " bytes";
    case Fault::avi_too_many_riffs:
        return "The output file " + failure.name + " would need more than " + std::to_string(failure.numbers[0]) +
               " RIFF lists of up to 1 GiB, more than its index can point to";
    }
    return "unknown failure";
}
