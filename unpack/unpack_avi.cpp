#include "unpack/unpack_avi.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "avi/output_file.h"
#include "cli/output_signals.h"

namespace {

int begin_avi(AviWriter& writer, const char* path, const AviLayout& layout, const AviVideo& video,
              const AviSound* sound)
{
    return writer.init(path, layout.width, layout.height, static_cast<int>(layout.rate),
                       static_cast<int>(layout.scale), 0, video, sound);
}

}  // namespace

bool write_sound_before(AviWriter& writer, const unsigned char* input, const AviLayout& layout, std::size_t& next,
                        std::size_t frame)
{
    for (; writer.has_sound && next < layout.sound.size() && layout.sound[next].after_frames <= frame; ++next) {
        if (writer.write_sound(input + layout.sound[next].offset, layout.sound[next].size) == 0) {
            return false;
        }
    }
    return true;
}

bool open_avi_output(AviWriter& writer, const char* path, const unsigned char* input, const AviLayout& layout,
                     const AviSound* sound, unsigned char* picture, const AviVideo& video)
{
    if (std::strcmp(path, "-") != 0) {
        remove_output_on_signals();
        return begin_avi(writer, path, layout, video, sound) != 0;  // the writer says why not
    }
    AviWriter rehearsal;
    rehearse_output(rehearsal.output);
    begin_avi(rehearsal, nullptr, layout, video, sound);
    std::size_t next_sound = 0;
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        if (!write_sound_before(rehearsal, input, layout, next_sound, i) ||
            rehearsal.write_frame(picture, static_cast<int>(video.image_size), AVIIF_KEYFRAME) == 0) {
            break;
        }
    }
    const bool rehearsed = write_sound_before(rehearsal, input, layout, next_sound, layout.frames.size()) &&
                           rehearsal.flush() == 1 &&
                           !stream_output(writer.output, STDOUT_FILENO, rehearsal.output).failed();
    if (!rehearsed) {
        std::fprintf(stderr, "reelunpack: unable to write to standard output\n");
        return false;
    }
    return begin_avi(writer, nullptr, layout, video, sound) != 0;
}
