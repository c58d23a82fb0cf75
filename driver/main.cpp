#include "driver/run.h"

int main(int argc, char** argv) { return reelpack_run(argc, argv); }
