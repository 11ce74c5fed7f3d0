// The drawing threads: batches of numbered tasks handed to oneTBB's work-stealing scheduler in a
// task arena of the pool's size. The calling thread takes part in every batch, and idle threads
// take the tasks that remain, so a batch cut into more tasks than threads finishes early even
// when one core is busy with another program. A pool of one thread runs every task on the
// caller, in order. The floating-point environment of the caller (rounding mode) is carried to
// every task.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace strata::platform {

// std::thread::hardware_concurrency, at least 1.
int defaultThreadCount();

class WorkerPool {
  public:
    // threads: the total count, caller included; below 1 counts as 1.
    explicit WorkerPool(int threads = 1);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return threads_; }
    // Resizes the pool. Precondition: no batch is running.
    void setThreads(int threads);

    // Runs task(i) for every i in [0, count), each exactly once, on the caller and the pool's
    // other threads, and returns when all are done. A batch started while another runs (from
    // another thread or from inside a task) runs on its own caller alone. The first exception a
    // task throws is rethrown here after the batch ends; the other tasks still run.
    void run(int count, const std::function<void(int)>& task);

    // Batches handed to the scheduler so far (not those run on the caller alone).
    std::int64_t batches() const { return batches_.load(std::memory_order_relaxed); }
    // The most threads that took part in one batch since the last call (at least 1), and starts
    // counting again: how many threads drew a frame.
    int takePeakThreads();

  private:
    struct Arena;  // the scheduler's arena, for two threads or more
    std::unique_ptr<Arena> arena_;
    int threads_ = 1;
    std::mutex batchMutex_;  // held for a whole batch
    std::atomic<std::int64_t> batches_{0};
    std::atomic<int> peakThreads_{1};
};

// The pool the warp kernels draw on; its size is the drawing thread count (default: all cores).
WorkerPool& drawPool();
int drawThreads();
// Sets the drawing thread count (below 1 counts as 1). Precondition: no frame is being drawn.
void setDrawThreads(int threads);
// Leaves the count to the program (the default): every core. setDrawThreads ends it.
void setDrawThreadsAutomatic();
bool drawThreadsAutomatic();
// The most threads that drew in one batch on the drawing pool since the last call (at least 1).
int takeDrawThreadsUsed();

// The threads most of a run of frames drew with: after() follows each frame (it takes the count
// of takeDrawThreadsUsed, so the run starts with a call of that).
class FrameThreadTally {
  public:
    void after() { ++counts_[static_cast<std::size_t>(std::min(takeDrawThreadsUsed(), kMost))]; }
    int most() const {
        int best = 1;
        for (int t = 1; t <= kMost; ++t) {
            best = counts_[static_cast<std::size_t>(t)] > counts_[static_cast<std::size_t>(best)]
                       ? t
                       : best;
        }
        return best;
    }

  private:
    static constexpr int kMost = 256;
    std::array<std::int64_t, kMost + 1> counts_{};
};

// The threads the frame being drawn on the calling thread may share its work among: the drawing
// thread count, or 1 while a OneThreadFrame is alive on this thread.
int frameThreads();

// Keeps the frames drawn on the calling thread on one thread while it lives (when `active`).
class OneThreadFrame {
  public:
    explicit OneThreadFrame(bool active);
    ~OneThreadFrame();
    OneThreadFrame(const OneThreadFrame&) = delete;
    OneThreadFrame& operator=(const OneThreadFrame&) = delete;

  private:
    bool previous_;
};

}  // namespace strata::platform
