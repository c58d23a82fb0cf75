// What the command lines of both tools share: their exit statuses, and the
// two requests that every tool answers on their own, --help and --version.
#pragma once

constexpr int exit_ok = 0;       // the run is complete
constexpr int exit_failure = 1;  // any failure, or a result with something missing
constexpr int exit_usage = 2;    // a command line the tool cannot use

// How a tool answers --help and --version.
struct ToolHelp {
    const char* name;        // what --version prints before the version
    const char* usage;       // the help's first part, which a command line the tool cannot use gets too
    const char* details;     // the rest of the help
    const char* short_help;  // another spelling of --help, or null
};

// For a command line of "--help" (or its other spelling) or "--version"
// alone: prints the help or the version on standard output and returns
// exit_ok. Returns -1 for any other command line.
int answer_help_or_version(int argc, char** argv, const ToolHelp& tool);
