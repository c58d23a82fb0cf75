// Temporary files and runs of the built tools, for the end-to-end tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test {

using Bytes = std::vector<unsigned char>;

// FNV-1a, 64 bits: the hash that pins coded bytes too long to spell out.
inline std::uint64_t fnv1a(const Bytes& b)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char v : b) {
        hash = (hash ^ v) * 0x100000001b3u;
    }
    return hash;
}

inline std::string temp_dir()
{
    static std::string dir = [] {
        char pattern[] = "/tmp/reelpack-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir;
}

inline std::string temp_path(const std::string& name) { return temp_dir() + "/" + name; }

inline void write_file(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<unsigned char> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs a shell command and collects its standard output and exit status.
inline RunResult run(const std::string& command)
{
    RunResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

inline std::string reelpack_bin() { return REELPACK_BIN; }

inline RunResult reelpack(const std::string& arguments) { return run(quoted(reelpack_bin()) + " " + arguments); }

inline std::string reelunpack_bin() { return REELUNPACK_BIN; }

// Runs reelunpack with its standard error in `out` (its standard output is
// redirected by the arguments where it matters).
inline RunResult reelunpack(const std::string& arguments)
{
    return run(quoted(reelunpack_bin()) + " " + arguments + " 2>&1");
}

inline bool have_program(const char* name) { return run(std::string("command -v ") + name + " >/dev/null 2>&1").status == 0; }

}  // namespace test
