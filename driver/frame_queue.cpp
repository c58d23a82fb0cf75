#include "driver/frame_queue.h"

#include <pthread.h>


void FrameQueue::finish(std::size_t frame)
{
    bool awaited;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done[frame % done.size()] = 1;
        awaited = frame == written_count;
    }
    if (awaited) {
        frame_finished.notify_one();
    }
}

void FrameQueue::wait_for(std::size_t frame)
{
    std::unique_lock<std::mutex> lock(mutex);
    frame_finished.wait(lock, [&] { return done[frame % done.size()] != 0; });
}

void FrameQueue::written(std::size_t frame)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done[frame % done.size()] = 0;
        written_count = frame + 1;
    }
    slot_free.notify_one();
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
