// VLC plays Tarvic AVI files through the plug-in, a frame at a time so that
// no picture is dropped for being late on a busy machine: 24- and 32-bit
// files with null frames, each picture exactly the movie's as ffmpeg decodes
// it, also where VLC converts the plug-in's pictures to the format asked for
// (how the plug-in describes its pixels then decides the colours). The -u
// file, through VLC's own reader, shows the same. Y'CbCr files show what
// VLC's own decoders show of the same samples. A 10- or 16-bit file shows
// the movie's colours, and gives its samples in the plug-in's own format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quicktime/ycbcr_rows.h"
#include "support/files.h"
#include "support/mov_builder.h"

#ifdef REELPACK_HAVE_LIBVLC
#include <vlc/vlc.h>

#include <chrono>
#include <mutex>
#include <thread>
#endif

namespace {

using test::Bytes;

constexpr int width = 52;
constexpr int height = 36;

#ifdef REELPACK_HAVE_LIBVLC

// The pictures that VLC shows, as the video callbacks receive them.
struct Screen {
    Bytes buffer;  // the picture's planes one after the other
    std::size_t plane_bytes = 0;
    std::size_t planes = 1;
    std::mutex lock;
    std::vector<Bytes> shown;
    std::size_t displays = 0;
};

void* lock_picture(void* opaque, void** planes)
{
    Screen* screen = static_cast<Screen*>(opaque);
    screen->lock.lock();
    for (std::size_t p = 0; p < 4; ++p) {
        planes[p] = screen->buffer.data() + std::min(p, screen->planes - 1) * screen->plane_bytes;
    }
    return nullptr;
}

void unlock_picture(void* opaque, void*, void* const*) { static_cast<Screen*>(opaque)->lock.unlock(); }

void display_picture(void* opaque, void*)
{
    Screen* screen = static_cast<Screen*>(opaque);
    std::lock_guard<std::mutex> hold(screen->lock);
    ++screen->displays;
    // VLC shows a picture again when no new one comes for a while.
    if (screen->shown.empty() || screen->buffer != screen->shown.back()) {
        screen->shown.push_back(screen->buffer);
    }
}

// Waits until `done` holds, or for `seconds`.
template <typename Done>
bool wait_for(Done done, int seconds)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// Plays `path` with the plug-in of this build a frame at a time, each
// picture top row first in `chroma`, until `pictures` different ones have
// been shown, or a few steps past the file's `frames` have not brought them.
// A chroma of planes has each plane at the first's pitch.
std::vector<Bytes> play_once(const std::string& path, const char* chroma, int bytes_per_pixel, std::size_t frames,
                             std::size_t pictures, std::size_t planes)
{
    ::setenv("VLC_PLUGIN_PATH", TARVIC_VLC_PLUGIN_DIR, 1);
    const char* const arguments[] = {"--intf=dummy",          "--no-audio",       "--aout=adummy",
                                     "--no-plugins-cache",    "--start-paused",   "--no-drop-late-frames",
                                     "--no-skip-frames",      "--no-video-title-show"};
    libvlc_instance_t* vlc = libvlc_new(sizeof arguments / sizeof arguments[0], arguments);
    EXPECT_NE(vlc, nullptr);
    if (vlc == nullptr) {
        return {};
    }
    Screen screen;
    screen.plane_bytes = std::size_t(width) * height * bytes_per_pixel;
    screen.planes = planes;
    screen.buffer.assign(planes * screen.plane_bytes, 0);
    libvlc_media_t* media = libvlc_media_new_path(vlc, path.c_str());
    libvlc_media_player_t* player = libvlc_media_player_new_from_media(media);
    libvlc_media_release(media);
    libvlc_video_set_callbacks(player, lock_picture, unlock_picture, display_picture, &screen);
    libvlc_video_set_format(player, chroma, width, height, unsigned(width * bytes_per_pixel));
    libvlc_media_player_play(player);
    EXPECT_TRUE(wait_for([&] { return libvlc_media_player_get_state(player) == libvlc_Paused; }, 30));

    const auto counts = [&] {
        std::lock_guard<std::mutex> hold(screen.lock);
        return std::make_pair(screen.displays, screen.shown.size());
    };
    // Each step waits for a display: VLC may not have the next picture yet.
    for (std::size_t step = 0; step < frames + 4 && counts().second < pictures; ++step) {
        const std::size_t before = counts().first;
        libvlc_media_player_next_frame(player);
        wait_for([&] { return counts().first > before; }, 5);
    }
    libvlc_media_player_stop(player);
    libvlc_media_player_release(player);
    libvlc_release(vlc);
    return screen.shown;
}

// The same, played again (up to three times) while fewer pictures come:
// on a loaded machine VLC's steps now and then pass a picture by, whatever
// decoder made it. A picture wrong or missing every time still shows.
std::vector<Bytes> play(const std::string& path, const char* chroma, int bytes_per_pixel, std::size_t frames,
                        std::size_t pictures, std::size_t planes = 1)
{
    std::vector<Bytes> shown;
    for (int attempt = 0; attempt < 3 && shown.size() < pictures; ++attempt) {
        shown = play_once(path, chroma, bytes_per_pixel, frames, pictures, planes);
    }
    return shown;
}

#endif

// The frames of the movie at `path` as ffmpeg decodes them to `pixels`
// (top row first), as a screen shows them: each change once.
std::vector<Bytes> movie_pictures(const std::string& path, const char* pixels, int bytes_per_pixel)
{
    const std::string bytes = test::run("ffmpeg -v error -i " + test::quoted(path) + " -map 0:v -pix_fmt " +
                                        pixels + " -f rawvideo -").out;
    const std::size_t frame_bytes = std::size_t(width) * height * bytes_per_pixel;
    std::vector<Bytes> shown;
    for (std::size_t at = 0; at + frame_bytes <= bytes.size(); at += frame_bytes) {
        const Bytes frame(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + frame_bytes));
        if (shown.empty() || shown.back() != frame) {
            shown.push_back(frame);
        }
    }
    return shown;
}

TEST(VlcPlayback, ShowsEveryFrameOfTarvicFiles)
{
#ifndef REELPACK_HAVE_LIBVLC
    GTEST_SKIP() << "VLC is not installed (libvlc-dev, libvlccore-dev, vlc-bin, vlc-plugin-base): the plug-in "
                    "was not built and cannot be played";
#else
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    // VLC hands a picture over unconverted only where its chroma and colour
    // masks are those asked for; an RV24 request has red in the first byte,
    // so all but "32 to BGRA" convert. A Y'CbCr movie's Tarvic file is
    // written here; it shows what VLC's own decoder shows of ffmpeg's planes
    // of the -u file. (VLC converts packed 4:2:2 by another route, whose
    // colours differ by a step or two.)
    struct Case {
        const char* name;
        const char* format;   // the movie's data format
        int depth;
        const char* options;  // reelpack's
        const char* chroma;   // asked of VLC
        const char* pixels;   // ffmpeg's name for it; null: a Y'CbCr movie
        const char* planes;   // ffmpeg's options turning the -u file into one of planes that VLC decodes
    };
    const Case cases[] = {
        {"24 to RV32", "raw ", 24, "", "RV32", "bgra", ""},
        {"24 to RV24", "raw ", 24, "", "RV24", "rgb24", ""},
        {"24 -u to RV32", "raw ", 24, "-u", "RV32", "bgra", ""},
        {"24 -u to RV24", "raw ", 24, "-u", "RV24", "rgb24", ""},
        {"32 to RV32", "raw ", 32, "", "RV32", "bgra", ""},
        {"32 to BGRA", "raw ", 32, "", "BGRA", "bgra", ""},
        {"32 to RV24", "raw ", 32, "", "RV24", "rgb24", ""},
        {"2vuy to RV32", "2vuy", 24, "", "RV32", nullptr, "-pix_fmt yuv422p -tag:v I422"},
        {"yuvs to RV24", "yuvs", 24, "", "RV24", nullptr, "-pix_fmt yuv422p -tag:v I422"},
        {"yuv2 to RV32", "yuv2", 24, "", "RV32", nullptr, "-pix_fmt yuv422p -tag:v I422"},
        {"v308 to RV32", "v308", 24, "", "RV32", nullptr, "-pix_fmt yuv444p -tag:v I444"},
        {"v408 to RGBA", "v408", 32, "", "RGBA", nullptr, "-pix_fmt yuva444p -tag:v YUVA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::MovieParams movie;
        movie.width = width;
        movie.height = height;
        movie.format = c.format;
        movie.depth = c.depth;
        // 5 frames a second: through a short file at 25 VLC 3 can end after
        // one step.
        movie.sample_duration = 120;
        const PixelFormat& format = *find_pixel_format(c.format, c.depth);
        movie.sample_size = std::uint32_t(packed_row(format, width) * height);
        movie.handler = "vide";  // ffmpeg finds no video track without it
        for (unsigned i = 0; i < 9; ++i) {
            Bytes frame = test::pattern_frame(width, height * 2, i + 1);
            frame.resize(movie.sample_size);
            movie.frames.push_back(i == 1 || i == 2 || i == 5 ? movie.frames.back() : frame);
        }
        if (c.depth == 24 && c.pixels != nullptr) {
            // Interleaved with sound (1.8 s at 8,000 a second).
            movie.sound_chunk.assign(3200, 0x40);
            movie.sound_chunks = 9;
        }
        const std::string movie_path = test::temp_path("vlc.mov");
        const std::string path = test::temp_path("vlc.avi");
        test::write_file(movie_path, test::make_movie(movie));
        const std::string files = test::quoted(movie_path) + " " + test::quoted(path);
        const bool ycbcr = c.pixels == nullptr;
        ASSERT_EQ(test::reelpack((ycbcr ? "-u " : std::string(c.options) + " ") + files + " >/dev/null").status, 0);
        const int shown_bytes = std::string(c.chroma) == "RV24" ? 3 : 4;
        std::vector<Bytes> expected;
        if (!ycbcr) {
            expected = movie_pictures(movie_path, c.pixels, shown_bytes);
        } else {
            const std::string planes_path = test::temp_path("vlc-planes.avi");
            ASSERT_EQ(test::run("ffmpeg -v error -y -i " + test::quoted(path) + " -c:v rawvideo " + c.planes + " " +
                                test::quoted(planes_path)).status, 0);
            expected = play(planes_path, c.chroma, shown_bytes, movie.frames.size(), 6);
            ASSERT_EQ(test::reelpack(files + " >/dev/null").status, 0);
        }
        ASSERT_EQ(expected.size(), 6u);
        const std::vector<Bytes> shown = play(path, c.chroma, shown_bytes, movie.frames.size(), expected.size());
        EXPECT_TRUE(shown == expected) << shown.size() << " pictures shown";
    }
#endif
}

TEST(VlcPlayback, ShowsTheSamplesOfDeepTarvicFiles)
{
#ifndef REELPACK_HAVE_LIBVLC
    GTEST_SKIP() << "VLC is not installed: the plug-in was not built and cannot be played";
#else
    if (!test::have_program("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    // ffmpeg's options making the movie; VLC's format of its samples and
    // ffmpeg's name for it, with the bytes of a pixel and of a sample.
    struct Case {
        const char* options;
        const char* chroma;
        const char* samples;
        int pixel_bytes;
        int sample_bytes;
        int planes;
    };
    const Case cases[] = {
        {"-c:v v210 -pix_fmt yuv422p10le", "I2AL", "yuv422p10le", 4, 2, 3},
        {"-c:v v410 -pix_fmt yuv444p10le", "I4AL", "yuv444p10le", 6, 2, 3},
        {"-c:v r210 -pix_fmt gbrp10le", "GBAL", "gbrp10le", 6, 2, 3},
        {"-c:v r10k -pix_fmt gbrp10le", "GBAL", "gbrp10le", 6, 2, 3},
        {"-c:v avrp -pix_fmt gbrp10le", "GBAL", "gbrp10le", 6, 2, 3},
        {"-c:v rawvideo -pix_fmt rgb48be", "GBFL", "gbrp16le", 6, 2, 3},
        {"-c:v rawvideo -pix_fmt rgba64be -tag:v b64a", "RGA4", "rgba64le", 8, 8, 1},
        {"-c:v rawvideo -pix_fmt gray16be", "GRFL", "gray16le", 2, 2, 1},
    };
    // Six pictures, each twice (a null frame), with alpha of their own.
    const std::string source = "-f lavfi -i 'testsrc2=s=52x36:r=2.5:d=2.4,fps=5[c];testsrc=s=52x36:r=2.5:d=2.4,"
                               "fps=5,format=gray[a];[c][a]alphamerge' ";
    const std::string movie = test::temp_path("vlc-deep.mov"), path = test::temp_path("vlc-deep.avi");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_EQ(test::run("ffmpeg -v error -y " + source + c.options + " " + test::quoted(movie)).status, 0);
        ASSERT_EQ(test::reelpack(test::quoted(movie) + " " + test::quoted(path) + " >/dev/null").status, 0);
        const std::vector<Bytes> seen = movie_pictures(movie, "bgra", 4);
        ASSERT_EQ(seen.size(), 6u);
        EXPECT_TRUE(play(path, "RV32", 4, 12, seen.size()) == seen);
        std::vector<Bytes> shown = play(path, c.chroma, c.sample_bytes, 12, seen.size(), std::size_t(c.planes));
        // The rest of a pixel's bytes lie in the planes after the first.
        const std::size_t row = std::size_t(width) * c.sample_bytes;
        const std::size_t others = std::size_t(std::max(c.planes, 2) - 1);
        const std::size_t chroma_row = (std::size_t(width) * c.pixel_bytes - row) / others;
        for (Bytes& picture : shown) {  // their rows packed
            for (std::size_t from = row * height, to = from; from < picture.size(); from += row, to += chroma_row) {
                std::copy_n(picture.begin() + std::ptrdiff_t(from), chroma_row, picture.begin() + std::ptrdiff_t(to));
            }
            picture.resize(std::size_t(width) * height * c.pixel_bytes);
        }
        EXPECT_TRUE(shown == movie_pictures(movie, c.samples, c.pixel_bytes)) << shown.size() << " pictures shown";
    }
#endif
}

}  // namespace
