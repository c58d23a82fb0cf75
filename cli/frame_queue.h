// Frames worked on by several threads at once and written in order.
//
// run_in_order() hands the frames of a run to `threads` workers and writes
// each one's result strictly in frame order, so that the output never
// depends on which worker was faster. The worker that finishes the frame
// due next writes it, and the finished frames after it, while the others
// go on working: the frame is written from the processor that made it, and
// no thread besides the workers competes for the processors. At most
// `slots` frames are in flight, from the moment a worker takes one to the
// moment it has been written: frame i works in slot i % slots, whose
// buffers the caller acquired once beforehand. A slow writer therefore
// makes the workers wait; it never makes memory grow.
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
    // For a worker: the frame's result is in its slot. When it is the frame
    // due next and no other worker is writing, write(i) runs for it and for
    // every finished frame after it, one at a time and in order; a write
    // that returns false stops the run.
    template <typename Write>
    void finish(std::size_t frame, Write& write);
    // Waits until every frame has been written or the run has stopped;
    // false when a write failed.
    bool wait();
    // Ends the run early: workers take no more frames.
    void stop();

private:
    std::mutex mutex;
    std::condition_variable slot_free;
    std::condition_variable ended;
    std::size_t total;
    std::vector<unsigned char> done;  // for each slot: its frame is finished
    std::size_t taken = 0;            // frames handed to workers
    std::size_t written_count = 0;
    bool writing = false;             // a worker is writing frames
    bool stopped = false;
    bool failed = false;              // a write failed
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

template <typename Write>
void FrameQueue::finish(std::size_t frame, Write& write)
{
    std::unique_lock<std::mutex> lock(mutex);
    done[frame % done.size()] = 1;
    if (writing || frame != written_count) {
        return;  // the worker writing, or the one that finishes the frame due, writes it
    }
    writing = true;
    while (!stopped && written_count < total && done[written_count % done.size()] != 0) {
        const std::size_t next_frame = written_count;
        lock.unlock();
        const bool ok = write(next_frame);
        lock.lock();
        if (!ok) {
            failed = true;
            stopped = true;
            break;
        }
        done[next_frame % done.size()] = 0;
        written_count = next_frame + 1;
        slot_free.notify_all();
    }
    writing = false;
    if (stopped || written_count == total) {
        slot_free.notify_all();
        ended.notify_all();
    }
}

// The asynchronous signals go to the thread that started the workers, never
// to a worker.
struct WorkerSignals {
    WorkerSignals();
    ~WorkerSignals();
    WorkerSignals(const WorkerSignals&) = delete;
    WorkerSignals& operator=(const WorkerSignals&) = delete;
    sigset_t saved;  // the starting thread's own signal mask
};

// Runs, for every frame i from 0 to frames - 1:
//   take(i)            in frame order, one at a time (where a frame's place
//                      in the input is found);
//   work(worker, i)    on worker 0 to threads - 1, any number at once, each
//                      worker using only what is its own and slot i % slots;
//   write(i)           in frame order, one at a time, on any worker; false
//                      stops the run, and run_in_order() returns false once
//                      every worker has ended.
// The calling thread only waits, and takes the asynchronous signals.
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
                workers.emplace_back([&queue, &take, &work, &write, w] {
                    std::size_t frame = 0;
                    while (queue.next(frame, take)) {
                        work(w, frame);
                        queue.finish(frame, write);
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
    const bool complete = queue.wait();
    queue.stop();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return complete;
}
