// Outputs appear whole or not at all: both tools write aside and rename, so
// an interrupted, killed, failed or racing run never leaves a partial file at
// the output's name nor harms what it held; a finished file has the mode a
// direct write would give, devices are written in place, links are followed.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/mov_builder.h"

namespace {

using test::Bytes;

const Bytes earlier = {'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'f', 'i', 'l', 'e'};

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

// A fresh folder holding only an earlier "out.avi".
std::string folder_with_earlier_file(const std::string& name)
{
    const std::string folder = test::temp_path(name);
    test::run("rm -rf " + test::quoted(folder));
    EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
    test::write_file(folder + "/out.avi", earlier);
    return folder;
}

std::set<std::string> names_in(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.insert(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

bool is_part_of_out(const std::string& name)
{
    return name.rfind(".out.avi.", 0) == 0 && name.size() > 14 && name.substr(name.size() - 5) == ".part";
}

// Starts a tool on `threads` threads with its output thrown away.
pid_t start(const char* threads, const std::vector<std::string>& arguments)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("REELPACK_THREADS", threads, 1);
        std::vector<char*> argv;
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits until the run's temporary file in `folder` holds `bytes` or more;
// false when the run ends first or nothing comes in 30 seconds.
bool wait_for_part(pid_t pid, const std::string& folder, off_t bytes)
{
    for (int i = 0; i < 30000; ++i) {
        for (const std::string& name : names_in(folder)) {
            struct stat st;
            if (is_part_of_out(name) && ::stat((folder + "/" + name).c_str(), &st) == 0 && st.st_size >= bytes) {
                return true;
            }
        }
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class Output : public testing::Test {
protected:
    static std::string movie;  // 1,000 frames, for runs that are interrupted
    static std::string short_movie;  // 30 frames
    static std::string coded;  // the short movie, compressed

    static void SetUpTestSuite()
    {
        movie = smooth_movie("smooth-1000.mov", 1000);
        short_movie = smooth_movie("smooth-30.mov", 30);
        coded = test::temp_path("smooth-30.avi");
        EXPECT_EQ(test::reelpack(short_movie + " " + coded + " >/dev/null").status, 0);
    }
    static void TearDownTestSuite()
    {
        for (const std::string& path : {movie, short_movie, coded}) {
            std::remove(path.c_str());
        }
    }
};

std::string Output::movie;
std::string Output::short_movie;
std::string Output::coded;

TEST_F(Output, InterruptedOrKilledRunsLeaveTheEarlierFile)
{
    struct Case {
        const char* name;
        int signal_number;
        bool unpack;
        const char* option;  // reelpack's
        off_t bytes;         // the temporary file's size when the signal is sent
        const char* threads;
    };
    const Case cases[] = {
        {"kill-u", SIGKILL, false, "-u", 8 << 20, "1"},
        {"kill-coded", SIGKILL, false, "", 64 << 10, "1"},
        {"int-u", SIGINT, false, "-u", 8 << 20, "1"},
        {"term-coded", SIGTERM, false, "", 64 << 10, "1"},
        {"hup-u", SIGHUP, false, "-u", 1 << 20, "1"},
        {"int-unpack", SIGINT, true, "", 4 << 20, "1"},
        {"kill-unpack", SIGKILL, true, "", 4 << 20, "1"},
        // Workers coding or decoding while the writer is stopped.
        {"int-coded-threads", SIGINT, false, "", 64 << 10, "3"},
        {"term-coded-threads", SIGTERM, false, "", 1 << 20, "2"},
        {"term-unpack-threads", SIGTERM, true, "", 4 << 20, "2"},
        {"int-unpack-threads", SIGINT, true, "", 2 << 20, "3"},
    };
    for (const Case& c : cases) {
        const std::string folder = folder_with_earlier_file(c.name);
        const std::string out = folder + "/out.avi";
        const pid_t pid = c.unpack                    ? start(c.threads, {test::reelunpack_bin(), coded, out})
                          : std::string(c.option).empty() ? start(c.threads, {test::reelpack_bin(), movie, out})
                                                          : start(c.threads, {test::reelpack_bin(), c.option, movie, out});
        ASSERT_GT(pid, 0);
        const bool midway = wait_for_part(pid, folder, c.bytes);
        ::kill(pid, midway ? c.signal_number : SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(midway) << c.name << ": the run did not write its temporary file";
        if (c.signal_number == SIGKILL) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << c.name;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + c.signal_number) << c.name;
        }
        EXPECT_EQ(test::read_file(out), earlier) << c.name;
        std::set<std::string> names = names_in(folder);
        names.erase("out.avi");
        // Only a killed run, which cannot clean up, leaves its ".part" file.
        EXPECT_EQ(names.size(), c.signal_number == SIGKILL ? 1u : 0u) << c.name;
        for (const std::string& name : names) {
            EXPECT_TRUE(is_part_of_out(name)) << c.name << ": " << name;
        }
        test::run("rm -rf " + test::quoted(folder));
    }
}

TEST_F(Output, AFullDiskLeavesTheEarlierFile)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    const std::string folder = folder_with_earlier_file("full-disk");
    if (test::run("mount -t tmpfs -o size=4m tmpfs " + test::quoted(folder) + " 2>&1").status != 0) {
        ::rmdir(folder.c_str());
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    const std::string out = folder + "/out.avi";
    test::write_file(out, earlier);
    const std::string unpack = test::quoted(test::reelunpack_bin()) + " " + coded + " " + out;
    const auto packed = test::reelpack("-u " + movie + " " + out);
    const auto unpacked = test::run(unpack + " 2>&1");
    EXPECT_EQ(packed.status, 1);
    EXPECT_NE(packed.out.find("Unable to write output file " + out + "\n"), std::string::npos) << packed.out;
    EXPECT_EQ(unpacked.status, 1);
    EXPECT_EQ(unpacked.out, "reelunpack: unable to write " + out + "\n");
    EXPECT_EQ(test::read_file(out), earlier);
    EXPECT_EQ(names_in(folder), std::set<std::string>{"out.avi"});
    test::run("umount " + test::quoted(folder));
    test::run("rm -rf " + test::quoted(folder));
}

TEST(OutputKinds, ModesLinksAndDevices)
{
    const test::MovieParams p = test::pattern_movie(8, 6, 3);
    const std::string movie = test::temp_path("kinds.mov");
    test::write_file(movie, test::make_movie(p));
    const std::string reference = test::temp_path("kinds-reference.avi");
    ASSERT_EQ(test::reelpack("-u " + movie + " " + reference).status, 0);
    const Bytes expected = test::read_file(reference);

    struct Case {
        const char* name;
        const char* umask;
        const char* prepare;  // shell commands in the case's folder
        const char* output;   // in the case's folder
        const char* file;     // the file that holds the result, in the case's folder
        mode_t mode;
        const char* links;    // the links in the folder afterwards
    };
    const Case cases[] = {
        {"umask-022", "022", "true", "out.avi", "out.avi", 0644, ""},
        {"umask-077", "077", "true", "out.avi", "out.avi", 0600, ""},
        // A file replaced keeps its permissions, as one written over would.
        {"replaced", "022", "echo old >out.avi; chmod 662 out.avi", "out.avi", "out.avi", 0662, ""},
        {"link", "022", "echo old >target.avi; ln -s target.avi out.avi", "out.avi", "target.avi", 0644, "./out.avi "},
        {"dangling-link", "022", "mkdir d; ln -s d/target.avi out.avi", "out.avi", "d/target.avi", 0644, "./out.avi "},
        {"through-a-folder-link", "022", "mkdir d; ln -s d e", "e/out.avi", "d/out.avi", 0644, "./e "},
    };
    for (const Case& c : cases) {
        const std::string folder = test::quoted(test::temp_path(std::string("kinds-") + c.name));
        ASSERT_EQ(test::run("rm -rf " + folder + "; mkdir " + folder + " && cd " + folder + " && " + c.prepare).status, 0);
        const auto r = test::run("umask " + std::string(c.umask) + "; cd " + folder + " && " +
                                 test::quoted(test::reelpack_bin()) + " -u " + movie + " " + c.output + " >/dev/null");
        EXPECT_EQ(r.status, 0) << c.name;
        const std::string file = test::temp_path(std::string("kinds-") + c.name + "/" + c.file);
        EXPECT_EQ(test::read_file(file), expected) << c.name;
        struct stat st;
        ASSERT_EQ(::lstat(file.c_str(), &st), 0) << c.name;
        EXPECT_EQ(st.st_mode, S_IFREG | c.mode) << c.name;
        // A link stays a link, and nothing is left beside the file.
        EXPECT_EQ(test::run("cd " + folder + " && find . \\( -name '*.part' -o -type l \\) -printf '%p '").out, c.links) << c.name;
        test::run("rm -rf " + folder);
    }

    // A device is written in place, never replaced.
    for (const std::string& command : {test::quoted(test::reelpack_bin()) + " -u " + movie,
                                       test::quoted(test::reelunpack_bin()) + " " + reference}) {
        EXPECT_EQ(test::run(command + " /dev/null >/dev/null 2>&1").status, 0) << command;
        struct stat st;
        ASSERT_EQ(::stat("/dev/null", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << command;
    }
}

TEST_F(Output, RacingRunsLeaveOneWholeFile)
{
    const std::string shorter = smooth_movie("smooth-20.mov", 20);
    const std::string coded_shorter = test::temp_path("smooth-20.avi");
    ASSERT_EQ(test::reelpack(shorter + " " + coded_shorter + " >/dev/null").status, 0);
    const std::set<Bytes> whole = {test::read_file(coded), test::read_file(coded_shorter)};
    ASSERT_EQ(whole.size(), 2u);
    const std::string folder = folder_with_earlier_file("race");
    const std::string out = folder + "/out.avi";
    const std::string bin = test::quoted(test::reelpack_bin());
    const auto r = test::run(bin + " " + short_movie + " " + out + " >/dev/null & " + bin + " " + shorter + " " + out +
                             " >/dev/null; a=$?; wait $!; echo $a $?");
    EXPECT_EQ(r.out, "0 0\n");
    EXPECT_EQ(whole.count(test::read_file(out)), 1u);
    EXPECT_EQ(names_in(folder), std::set<std::string>{"out.avi"});
    test::run("rm -rf " + test::quoted(folder));
    std::remove(shorter.c_str());
    std::remove(coded_shorter.c_str());
}

}  // namespace
