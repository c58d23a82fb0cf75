// The conversion run of reelpack, from the command line to the finished AVI
// file. Returns the process exit status: 0 after a complete conversion, 2 for
// a command line it cannot use, 1 for every other failure.
#pragma once

int reelpack_run(int argc, char** argv);
