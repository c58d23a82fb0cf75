#include "cli/command_line.h"

#include <cstdio>
#include <cstring>

int answer_help_or_version(int argc, char** argv, const ToolHelp& tool)
{
    if (argc != 2) {
        return -1;
    }
    const char* asked = argv[1];
    if (std::strcmp(asked, "--help") == 0 || (tool.short_help != nullptr && std::strcmp(asked, tool.short_help) == 0)) {
        std::fputs(tool.usage, stdout);
        std::fputs(tool.details, stdout);
        return exit_ok;
    }
    if (std::strcmp(asked, "--version") == 0) {
        std::printf("%s %s\n", tool.name, REELPACK_VERSION);
        return exit_ok;
    }
    return -1;
}
