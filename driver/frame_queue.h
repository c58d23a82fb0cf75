// Frames worked on by several threads at once and written in order by one.
//
// run_in_order() hands the frames of a run to `threads` workers and writes
// each one's result on the calling thread, strictly in frame order, so that
// the output never depends on which worker was faster. At most `slots`
// frames are in flight, from the moment a worker takes one to the moment it
// has been written: frame i works in slot i % slots, whose buffers the
// caller acquired once beforehand. A slow writer therefore makes the workers
// wait; it never makes memory grow.
#pragma once

#include <signal.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

class FrameQueue {
public:
    FrameQueue(std::size_t frames, std::size_t slots) : total(frames), done(slots, 0) {}

    // For a worker: the next frame, once its slot is free, with take(frame)
    // run for it before any later frame is taken; false when every frame
    // has been taken or the run stops.
    template <typename Take>
    bool next(std::size_t& frame, Take& take);
    // For a worker: the frame's result is in its slot.
    void finish(std::size_t frame);
    // For the writer: waits until the frame is finished.
    void wait_for(std::size_t frame);
    // For the writer: the frame has been written; its slot is free.
    void written(std::size_t frame);
    // Ends the run early: workers take no more frames.
    void stop();

private:
    std::mutex mutex;
    std::condition_variable slot_free;
    std::condition_variable frame_finished;
    std::size_t total;
    std::vector<unsigned char> done;  // for each slot: its frame is finished
    std::size_t taken = 0;            // frames handed to workers
    std::size_t written_count = 0;
    bool stopped = false;
};

template <typename Take>
bool FrameQueue::next(std::size_t& frame, Take& take)
{
    std::unique_lock<std::mutex> lock(mutex);
    slot_free.wait(lock, [&] { return stopped || taken == total || taken < written_count + done.size(); });
    if (stopped || taken == total) {
        return false;
    }
    frame = taken++;
    take(frame);
    return true;
}

// The asynchronous signals go to the thread that writes, never to a worker.
struct WorkerSignals {
    WorkerSignals();
    ~WorkerSignals();
    WorkerSignals(const WorkerSignals&) = delete;
    WorkerSignals& operator=(const WorkerSignals&) = delete;
    sigset_t saved;  // the writer's own signal mask
};

// Runs, for every frame i from 0 to frames - 1:
//   take(i)            in frame order, one at a time (where a frame's place
//                      in the input is found);
//   work(worker, i)    on worker 0 to threads - 1, any number at once, each
//                      worker using only what is its own and slot i % slots;
//   write(i)           on the calling thread, in frame order; false stops
//                      the run, and run_in_order() returns false once every
//                      worker has ended.
// With one thread, or one frame, or when no thread can be started, every
// step runs on the calling thread as worker 0 with no thread started.
template <typename Take, typename Work, typename Write>
bool run_in_order(int threads, std::size_t frames, std::size_t slots, Take take, Work work, Write write)
{
    std::size_t workers_wanted = threads < 1 ? 1 : static_cast<std::size_t>(threads);
    if (workers_wanted > frames) {
        workers_wanted = frames;
    }
    std::vector<std::thread> workers;
    FrameQueue queue(frames, slots < 1 ? 1 : slots);
    if (workers_wanted > 1) {
        const WorkerSignals signals;
        workers.reserve(workers_wanted);
        for (std::size_t w = 0; w < workers_wanted; ++w) {
            try {
                workers.emplace_back([&queue, &take, &work, w] {
                    std::size_t frame = 0;
                    while (queue.next(frame, take)) {
                        work(w, frame);
                        queue.finish(frame);
                    }
                });
            } catch (const std::system_error&) {
                break;  // the run goes on with the workers there are
            }
        }
    }
    if (workers.empty()) {
        for (std::size_t i = 0; i < frames; ++i) {
            take(i);
            work(std::size_t(0), i);
            if (!write(i)) {
                return false;
            }
        }
        return true;
    }
    bool complete = true;
    for (std::size_t i = 0; i < frames; ++i) {
        queue.wait_for(i);
        if (!write(i)) {
            complete = false;
            break;
        }
        queue.written(i);
    }
    queue.stop();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return complete;
}
