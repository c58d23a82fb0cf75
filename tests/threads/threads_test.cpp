// Both modes end to end, on one thread and on several: reelunpack gives
// back byte for byte the file that `reelpack -u` writes, and its pixels; the
// files and messages are those of one thread, whatever the number (the
// frame queue's order and slots held to); failures end every thread; a
// movie cut short while workers read its mapping is read instead.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/frames.h"
#include "support/avi_check.h"
#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

std::string with_threads(const std::string& threads) { return "REELPACK_THREADS='" + threads + "' "; }

// A run of reelpack (or reelunpack) on `threads` threads, its messages in `out`.
test::RunResult run(const std::string& threads, const std::string& arguments, bool unpack = false)
{
    const std::string tool = unpack ? test::reelunpack_bin() : test::reelpack_bin();
    return test::run(with_threads(threads) + test::quoted(tool) + " " + arguments + " 2>&1");
}

// What a run of a tool leaves: its messages, exit status and output file.
struct Outcome {
    int status;
    std::string messages;
    Bytes file;
    bool operator==(const Outcome& o) const
    {
        return status == o.status && messages == o.messages && file == o.file;
    }
};

// Every frame type (noise, smooth, grey, a repeat, one colour) in movies of
// every pixel kind, some cut short: the coded file unpacks to the
// uncompressed one byte for byte, both give the movie's pixels, and what
// every tool leaves is that of one thread, whatever the number.
TEST(Threads, FilesAndMessagesAreThoseOfOneThread)
{
    struct Movie {
        const char* name;
        int width, height, frames;
        const char* format;
        std::size_t cut;  // bytes cut off the end: the last frame incomplete
        int depth;
        bool sound = false;  // with a sound track between the frames
    };
    const Movie movies[] = {
        {"photo", 33, 17, 9, "raw ", 0, 24},     {"wrle", 40, 30, 6, "WRLE", 0, 24},
        {"one", 64, 48, 1, "raw ", 0, 24},       {"pixel", 1, 1, 5, "raw ", 0, 24},
        {"tiny", 2, 3, 5, "WRLE", 0, 24},        {"cut", 31, 9, 6, "raw ", 100, 24},
        {"large", 640, 400, 3, "raw ", 5000, 24}, {"large-wrle", 640, 400, 3, "WRLE", 5000, 24},
        {"alpha", 19, 11, 5, "raw ", 0, 32},     {"rgb555", 21, 7, 5, "raw ", 0, 16},
        {"sound", 24, 10, 7, "raw ", 0, 24, true},
        {"cut-sound", 24, 10, 7, "raw ", 1100 + 2 * 720 + 300, 24, true},  // the sound and two frames past the end
    };
    for (const Movie& m : movies) {
        const std::size_t frame_bytes = std::size_t(m.width) * std::size_t(m.height) * std::size_t(m.depth / 8);
        test::MovieParams p = test::pattern_movie(m.width * 2, m.height, m.frames, m.format, 1);
        p.width = m.width;
        p.depth = m.depth;
        p.sample_size = static_cast<std::uint32_t>(frame_bytes);
        for (std::size_t i = 0; i < p.frames.size(); ++i) {
            p.frames[i].resize(frame_bytes);
            for (std::size_t k = 0; i % 2 == 1 && k < frame_bytes; ++k) {
                p.frames[i][k] = static_cast<unsigned char>(k / 3 % std::size_t(m.width) + i);
            }
        }
        if (m.sound) {
            p.sound_chunk.assign(1100, 0x21);
            p.sound_chunks = 3;
        }
        if (m.frames > 4) {
            p.frames[2] = Bytes(frame_bytes, 77);
            p.frames[3] = p.frames[1];
            for (std::size_t k = 0; k < frame_bytes; ++k) {
                p.frames[4][k] = static_cast<unsigned char>(k % 3 + 1);
            }
        }
        Bytes bytes = test::make_movie(p);
        bytes.resize(bytes.size() - m.cut);
        const std::string movie = test::temp_path(std::string("threads-") + m.name + ".mov");
        test::write_file(movie, bytes);
        const std::string avi = test::temp_path(std::string("threads-") + m.name + ".avi");
        const std::string coded = avi + ".coded";
        const std::string plain_file = avi + ".plain";
        ASSERT_EQ(test::reelpack(movie + " " + coded).status, m.cut == 0 ? 0 : 1) << m.name;
        ASSERT_EQ(test::reelpack("-u " + movie + " " + plain_file).status, m.cut == 0 ? 0 : 1) << m.name;

        // Each run's output under one name, so that the messages match too.
        auto pack = [&](const std::string& threads, const std::string& mode) {
            const auto r = run(threads, mode + movie + " " + avi);
            return Outcome{r.status, r.out, test::read_file(avi)};
        };
        auto unpack = [&](const std::string& threads, const std::string& from, const std::string& to) {
            const std::string pipe = to == "-" ? " > " + avi : "";
            const auto r = run(threads, from + " " + to + pipe, true);
            return Outcome{r.status, r.out, test::read_file(avi)};
        };
        const Outcome packed = pack("1", "");
        const Outcome plain = pack("1", "-u ");
        const Outcome unpacked = unpack("1", coded, avi);
        const Outcome piped = unpack("1", coded, "-");
        ASSERT_EQ(packed.file, test::read_file(coded)) << m.name;
        EXPECT_TRUE(unpacked == (Outcome{0, "", plain.file})) << m.name << ": " << unpacked.messages;
        EXPECT_TRUE(unpack("1", plain_file, avi) == unpacked) << m.name;  // passed through
        EXPECT_TRUE(unpack("1", plain_file, "-").file == piped.file) << m.name;
        // Raw frames: the uncompressed file's (which hold the movie's, as
        // the command-line table checks), top row first.
        Bytes expected;
        for (const Bytes& f : test::frames_of(plain.file)) {
            const std::size_t row = f.size() / std::size_t(m.height);
            for (std::size_t y = std::size_t(m.height); y-- > 0;) {
                expected.insert(expected.end(), f.begin() + long(y * row), f.begin() + long(y * row + row));
            }
        }
        EXPECT_TRUE(piped.file == expected) << m.name;
        for (const std::string threads : {"2", "3", "8", "40", "0"}) {
            const std::string what = std::string(m.name) + " on " + threads + " threads";
            EXPECT_TRUE(pack(threads, "") == packed) << what;
            EXPECT_TRUE(pack(threads, "-u ") == plain) << what;
            EXPECT_TRUE(unpack(threads, coded, avi) == unpacked) << what;
            EXPECT_TRUE(unpack(threads, coded, "-") == piped) << what;
        }
    }
}

TEST(Threads, ACountThatIsNotOneIsRefusedBeforeTheMovieIsRead)
{
    const std::string missing = test::temp_path("threads-missing.mov");
    const std::string out = test::temp_path("threads-refused.avi");
    for (const char* value : {"-1", "two", "1025", "99999999999999999999", "2 ", "+2", "0x4", "1.5"}) {
        for (const auto& r : {run(value, missing + " " + out), run(value, "-u " + missing + " " + out),
                              run(value, missing + " " + out, true), run(value, "--info " + missing, true)}) {
            EXPECT_EQ(r.status, 2) << value << ": " << r.out;
            EXPECT_NE(r.out.find("REELPACK_THREADS is \"" + std::string(value) + "\""), std::string::npos) << r.out;
        }
        EXPECT_FALSE(test::file_exists(out)) << value;
    }
    // The largest count is taken: the run goes on to the missing movie.
    EXPECT_EQ(run("1024", missing + " " + out).out, "Unable to open the input file.\n");
    const auto help = test::reelunpack("--help");
    EXPECT_NE(help.out.find("REELPACK_THREADS"), std::string::npos);
}

TEST(Threads, FailuresEndTheRunCleanly)
{
    const test::MovieParams p = test::pattern_movie(96, 64, 40);
    const std::string movie = test::temp_path("threads-failures.mov");
    test::write_file(movie, test::make_movie(p));
    const std::string coded = test::temp_path("threads-failures.avi");
    ASSERT_EQ(test::reelpack(movie + " " + coded).status, 0);
    const std::string out = test::temp_path("threads-failed.avi");
    // A file size limit makes the writes fail part of the way through.
    const std::string limited = "trap \"\" XFSZ; ulimit -f 100; ";
    struct Case {
        std::string command;
        std::string message;
    };
    const std::vector<Case> cases = {
        {test::quoted(test::reelpack_bin()) + " " + movie + " /dev/full", "Unable to write output file /dev/full"},
        {limited + test::quoted(test::reelpack_bin()) + " " + movie + " " + out, "Unable to write output file"},
        {test::quoted(test::reelunpack_bin()) + " " + coded + " - >/dev/full", "unable to write to standard output"},
        {limited + test::quoted(test::reelunpack_bin()) + " " + coded + " " + out, "unable to write " + out},
        {limited + test::quoted(test::reelunpack_bin()) + " " + coded + " - >" + out, "unable to write to standard"},
    };
    for (const char* threads : {"1", "3"}) {
        for (const Case& c : cases) {
            const auto r = test::run(with_threads(threads) + "sh -c " + test::quoted(c.command) + " 2>&1");
            EXPECT_EQ(r.status, 1) << c.command << ": " << r.out;
            EXPECT_NE(r.out.find(c.message), std::string::npos) << c.command << ": " << r.out;
            if (c.command.find(" - >") == std::string::npos) {
                EXPECT_FALSE(test::file_exists(out)) << c.command;
            }
            std::remove(out.c_str());
        }
    }
}

TEST(MovieFrames, AMovieCutShortIsReadInsteadByTheWorkersThatFault)
{
    // Two workers at once on the lost end, each with its own buffer.
    const std::size_t frame = 3 * 4096 * 4;
    const std::string path = test::temp_path("threads-cut.bin");
    const Bytes movie = test::pattern_frame(4 * 4096, 4, 9);
    test::write_file(path, movie);
    MovieFrames frames;
    ASSERT_TRUE(frames.open(path.c_str(), frame, nullptr));
    ASSERT_NE(frames.mapped(3 * frame), nullptr);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(2 * frame + 4096)), 0);
    Bytes seen[2] = {Bytes(frame), Bytes(frame)};
    Bytes buffers[2] = {Bytes(frame), Bytes(frame)};
    bool complete[2] = {true, true};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w) {
        workers.emplace_back([&, w] {
            complete[w] = frames.use_frame((2 + std::size_t(w)) * frame, buffers[w].data(),
                                           [&](const unsigned char* pixels) { std::memcpy(seen[w].data(), pixels, frame); });
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    Bytes expected(movie.begin() + static_cast<long>(2 * frame), movie.begin() + static_cast<long>(2 * frame + 4096));
    expected.resize(frame, 0);
    EXPECT_FALSE(complete[0] || complete[1]);
    EXPECT_EQ(seen[0], expected);
    EXPECT_EQ(seen[1], Bytes(frame, 0));
    EXPECT_EQ(frames.mapped(0), nullptr);  // the mapping is given up
    std::remove(path.c_str());
}

}  // namespace
