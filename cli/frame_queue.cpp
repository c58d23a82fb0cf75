#include "cli/frame_queue.h"

#include <pthread.h>


bool FrameQueue::wait()
{
    std::unique_lock<std::mutex> lock(mutex);
    ended.wait(lock, [&] { return stopped || written_count == total; });
    return !failed;
}

void FrameQueue::stop()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
    }
    slot_free.notify_all();
}

// The workers inherit the mask of the thread that starts them: every signal
// is blocked while they are started, except those that a fault raises in
// the thread that made it (a movie cut short while mapped raises SIGBUS in
// the worker reading it).
WorkerSignals::WorkerSignals()
{
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int fault : {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) {
        sigdelset(&blocked, fault);
    }
    pthread_sigmask(SIG_SETMASK, &blocked, &saved);
}

WorkerSignals::~WorkerSignals()
{
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}
