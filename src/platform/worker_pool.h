// A persistent pool of worker threads: started once, then handed one batch of numbered tasks at a
// time. The calling thread takes part in every batch, so a pool of one thread has no worker and
// runs every task on the caller, in order. The floating-point environment of the caller (rounding
// mode) is carried to the workers for each batch.
#pragma once

#include <cfenv>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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

    int threads() const { return static_cast<int>(workers_.size()) + 1; }
    // Stops the workers and starts threads - 1 new ones. Precondition: no batch is running.
    void setThreads(int threads);

    // Runs task(i) for every i in [0, count), each exactly once, on the caller and the workers,
    // and returns when all are done. A batch started while another runs (from another thread or
    // from inside a task) runs on its own caller alone. The first exception a task throws is
    // rethrown here after the batch ends.
    void run(int count, const std::function<void(int)>& task);

    // Batches handed to the workers so far (not those run on the caller alone).
    std::int64_t batches() const { return batches_; }

  private:
    void workerLoop(std::uint64_t seen);
    void runTasks();
    void stop();

    std::vector<std::thread> workers_;
    std::mutex batchMutex_;  // held for a whole batch
    std::mutex mutex_;       // guards the fields below
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int)>* task_ = nullptr;
    int count_ = 0;
    int next_ = 0;
    int busy_ = 0;  // workers still in the current batch
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::fenv_t callerEnv_{};
    std::int64_t batches_ = 0;
};

// The pool the warp kernels draw on; its size is the drawing thread count (default: all cores).
WorkerPool& drawPool();
int drawThreads();
// Sets the drawing thread count (below 1 counts as 1). Precondition: no frame is being drawn.
void setDrawThreads(int threads);
// Leaves the count to the program (the default): every core. setDrawThreads ends it.
void setDrawThreadsAutomatic();
bool drawThreadsAutomatic();

}  // namespace strata::platform
