// How many threads code or decode frames. The environment variable
// REELPACK_THREADS sets it for both tools: a count from 1 to
// max_frame_threads, or 0 (or nothing) for one thread for each processor
// the process may run on. One thread is the plain path: frames are worked on
// by the thread that writes them and no other thread is started.
#pragma once

constexpr int max_frame_threads = 1024;

// The processors this process may run on (its affinity, which a container
// or `taskset` narrows), at least 1 and at most max_frame_threads.
int processors_available();

// Reads REELPACK_THREADS into `threads`. A value that is not such a count
// gets a message on standard error that starts with `tool`, and false.
bool frame_threads(const char* tool, int& threads);
