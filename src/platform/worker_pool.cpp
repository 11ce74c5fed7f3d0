#include "platform/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cfenv>

namespace strata::platform {

int defaultThreadCount() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

WorkerPool::WorkerPool(int threads) {
    setThreads(threads);
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) {
        t.join();
    }
    workers_.clear();
    stopping_ = false;
}

void WorkerPool::setThreads(int threads) {
    const std::lock_guard batch(batchMutex_);
    stop();
    const int extra = std::max(threads, 1) - 1;
    workers_.reserve(static_cast<std::size_t>(extra));
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(mutex_);
        generation = generation_;
    }
    for (int i = 0; i < extra; ++i) {
        workers_.emplace_back([this, generation] { workerLoop(generation); });
    }
}

// Takes tasks of the current batch until none is left. Called with mutex_ unlocked.
void WorkerPool::runTasks() {
    for (;;) {
        int index = 0;
        const std::function<void(int)>* task = nullptr;
        {
            const std::lock_guard lock(mutex_);
            if (next_ >= count_) {
                return;
            }
            index = next_++;
            task = task_;
        }
        try {
            (*task)(index);
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!error_) {
                error_ = std::current_exception();
            }
        }
    }
}

void WorkerPool::workerLoop(std::uint64_t seen) {
    for (;;) {
        std::fenv_t env;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) {
                return;
            }
            seen = generation_;
        }
        // Same rounding as the caller: pixel positions depend on it.
        std::fegetenv(&env);
        std::fenv_t callerEnv;
        {
            const std::lock_guard lock(mutex_);
            callerEnv = callerEnv_;
        }
        std::fesetenv(&callerEnv);
        runTasks();
        std::fesetenv(&env);
        {
            const std::lock_guard lock(mutex_);
            --busy_;
        }
        done_.notify_all();
    }
}

void WorkerPool::run(int count, const std::function<void(int)>& task) {
    if (count <= 0) {
        return;
    }
    std::unique_lock batch(batchMutex_, std::try_to_lock);
    if (!batch.owns_lock() || workers_.empty() || count == 1) {
        for (int i = 0; i < count; ++i) {
            task(i);
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        std::fegetenv(&callerEnv_);
        task_ = &task;
        count_ = count;
        next_ = 0;
        busy_ = static_cast<int>(workers_.size());
        error_ = nullptr;
        ++generation_;
        ++batches_;
    }
    wake_.notify_all();
    runTasks();
    std::exception_ptr error;
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
        task_ = nullptr;
        count_ = 0;
        error = error_;
        error_ = nullptr;
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

namespace {

WorkerPool& poolInstance() {
    static WorkerPool pool(defaultThreadCount());
    return pool;
}

}  // namespace

WorkerPool& drawPool() {
    return poolInstance();
}

namespace {
std::atomic<bool> automaticThreads{true};
}  // namespace

int drawThreads() {
    return poolInstance().threads();
}

void setDrawThreadsAutomatic() {
    setDrawThreads(defaultThreadCount());
    automaticThreads = true;
}

bool drawThreadsAutomatic() {
    return automaticThreads;
}

void setDrawThreads(int threads) {
    automaticThreads = false;
    WorkerPool& pool = poolInstance();
    if (pool.threads() != std::max(threads, 1)) {
        pool.setThreads(threads);
    }
}

}  // namespace strata::platform
