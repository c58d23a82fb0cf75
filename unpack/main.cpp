#include "unpack/run.h"

int main(int argc, char** argv) { return reelunpack_run(argc, argv); }
