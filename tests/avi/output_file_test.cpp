// Outputs appear whole or not at all: both tools write aside and rename, so
// an interrupted or killed run never leaves a partial file at the output's
// name nor harms what it held; a finished file has the mode a direct write
// would give, devices are written in place, links are followed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

// A 640 x 480 movie that lists `frames` times one of three stored smooth
// frames: small to store and quick to code, yet long to write with -u.
std::string smooth_movie(const std::string& name, int frames)
{
    test::MovieParams p;
    p.width = 640;
    p.height = 480;
    for (int k = 0; k < 3; ++k) {
        Bytes f(std::size_t(p.width) * std::size_t(p.height) * 3);
        for (std::size_t i = 0; i < f.size(); ++i) {
            f[i] = static_cast<unsigned char>(i / 3 % 640 + std::size_t(k) * 7 + i % 3 * 40);
        }
        p.frames.push_back(f);
    }
    for (int i = 0; i < frames; ++i) {
        p.chunk_order.push_back(static_cast<std::uint32_t>(i % 3));
    }
    const std::string path = test::temp_path(name);
    test::write_file(path, test::make_movie(p));
    return path;
}

// Runs of both tools, each stopped by a signal once its temporary file
// holds some bytes: the earlier file is left as it was, and only a killed
// run, which cannot clean up, leaves its ".part" file beside it.
TEST(Output, InterruptedOrKilledRunsLeaveTheEarlierFile)
{
    const std::string movie = smooth_movie("smooth-1000.mov", 1000);  // long to write
    const std::string coded = test::temp_path("smooth-30.avi");
    ASSERT_EQ(test::reelpack(smooth_movie("smooth-30.mov", 30) + " " + coded + " >/dev/null").status, 0);
    const std::string pack = test::quoted(test::reelpack_bin()) + " ";
    const std::string unpack = test::quoted(test::reelunpack_bin()) + " " + coded;
    const struct {
        const char* name;
        const char* signal;
        std::string command;  // writing out.avi in the case's folder
        long bytes;           // the temporary file's size when the signal is sent
        const char* threads;
    } cases[] = {
        {"kill-u", "KILL", pack + "-u " + movie, 8 << 20, "1"},
        {"kill-coded", "KILL", pack + movie, 64 << 10, "1"},
        {"int-u", "INT", pack + "-u " + movie, 8 << 20, "1"},
        {"term-coded", "TERM", pack + movie, 64 << 10, "1"},
        {"hup-u", "HUP", pack + "-u " + movie, 1 << 20, "1"},
        {"int-unpack", "INT", unpack, 4 << 20, "1"},
        {"kill-unpack", "KILL", unpack, 4 << 20, "1"},
        // Workers coding or decoding while the writer is stopped.
        {"int-coded-threads", "INT", pack + movie, 64 << 10, "3"},
        {"term-coded-threads", "TERM", pack + movie, 1 << 20, "2"},
        {"term-unpack-threads", "TERM", unpack, 4 << 20, "2"},
    };
    for (const auto& c : cases) {
        const std::string folder = test::quoted(test::temp_path(c.name));
        const std::string script =
            "export LC_ALL=C; rm -rf " + folder + "; mkdir " + folder + " && cd " + folder +
            " && echo earlier >out.avi && { REELPACK_THREADS=" + c.threads + " " + c.command +
            " out.avi >/dev/null 2>&1 & pid=$!; } && until [ \"$(stat -c %s .out.avi.*.part 2>/dev/null)\" -ge " +
            std::to_string(c.bytes) + " ] 2>/dev/null; do kill -0 $pid || break; sleep 0.001; done; kill -" +
            c.signal + " $pid; wait $pid; echo $? $(ls -A | sed 's/^[.]out[.]avi[.].*[.]part$/part/') $(cat out.avi)";
        const int status = std::string(c.signal) == "KILL" ? 137 : std::string(c.signal) == "INT" ? 130
                           : std::string(c.signal) == "TERM" ? 143 : 129;
        const std::string left = std::string(c.signal) == "KILL" ? " part" : "";
        EXPECT_EQ(test::run(script).out, std::to_string(status) + left + " out.avi earlier\n") << c.name;
        test::run("rm -rf " + folder);
    }
}

TEST(OutputKinds, ModesLinksAndDevices)
{
    const test::MovieParams p = test::pattern_movie(8, 6, 3);
    const std::string movie = test::temp_path("kinds.mov");
    test::write_file(movie, test::make_movie(p));
    const std::string reference = test::temp_path("kinds-reference.avi");
    ASSERT_EQ(test::reelpack("-u " + movie + " " + reference).status, 0);

    // The file that holds the result, its mode, and the links left beside
    // it (nothing else is).
    const struct {
        const char* name;
        const char* umask;
        const char* prepare;  // shell commands in the case's folder
        const char* output;   // in the case's folder
        const char* left;     // the file that holds the result, its mode and the links
    } cases[] = {
        {"umask-022", "022", "true", "out.avi", "out.avi -rw-r--r--"},
        {"umask-077", "077", "true", "out.avi", "out.avi -rw-------"},
        // A file replaced keeps its permissions, as one written over would.
        {"replaced", "022", "echo old >out.avi; chmod 662 out.avi", "out.avi", "out.avi -rw-rw--w-"},
        {"link", "022", "echo old >target.avi; ln -s target.avi out.avi", "out.avi", "target.avi -rw-r--r-- ./out.avi"},
        {"dangling-link", "022", "mkdir d; ln -s d/target.avi out.avi", "out.avi", "d/target.avi -rw-r--r-- ./out.avi"},
        {"through-a-folder-link", "022", "mkdir d; ln -s d e", "e/out.avi", "d/out.avi -rw-r--r-- ./e"},
    };
    for (const auto& c : cases) {
        const std::string folder = test::quoted(test::temp_path(std::string("kinds-") + c.name));
        const std::string file = std::string(c.left).substr(0, std::string(c.left).find(' '));
        const auto r = test::run("rm -rf " + folder + "; mkdir " + folder + " && cd " + folder + " && umask " +
                                 c.umask + " && " + c.prepare + " && " + test::quoted(test::reelpack_bin()) + " -u " +
                                 movie + " " + c.output + " >/dev/null && cmp " + file + " " + reference +
                                 " && echo " + file + " $(stat -c %A " + file +
                                 ") $(find . \\( -name '*.part' -o -type l \\) -print)");
        EXPECT_EQ(r.out, std::string(c.left) + "\n") << c.name;
        test::run("rm -rf " + folder);
    }
    // A device is written in place, never replaced.
    EXPECT_EQ(test::run(test::quoted(test::reelpack_bin()) + " -u " + movie + " /dev/null >/dev/null && " +
                        test::quoted(test::reelunpack_bin()) + " " + reference +
                        " /dev/null && test -c /dev/null && echo device")
                  .out,
              "device\n");
}

}  // namespace
