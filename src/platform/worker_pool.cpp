#include "platform/worker_pool.h"

#include <tbb/global_control.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <exception>
#include <thread>
#include <vector>

// ThreadSanitizer cannot see how the scheduler's own (uninstrumented) library hands a task to a
// worker, and would report the task's captures as raced. Under it, each batch runs on threads of
// its own instead, whose start and join it does see: the drawing code is checked all the same.
#if defined(__SANITIZE_THREAD__)
#define STRATA_OWN_THREADS 1
#endif

namespace strata::platform {

int defaultThreadCount() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

namespace {

#if !defined(STRATA_OWN_THREADS)
// The scheduler keeps no more threads than the processor has unless told otherwise; a pool
// asked for more gets them.
void allowParallelism(int threads) {
    static std::mutex mutex;
    static std::unique_ptr<tbb::global_control> control;
    static int allowed = 0;
    const std::lock_guard lock(mutex);
    const int want = std::max(threads, defaultThreadCount());
    if (want > allowed) {
        control = std::make_unique<tbb::global_control>(
            tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(want));
        allowed = want;
    }
}

#endif

}  // namespace

struct WorkerPool::Arena {
    explicit Arena(int threads) : arena(threads) { arena.initialize(); }
    tbb::task_arena arena;
};

WorkerPool::WorkerPool(int threads) {
    setThreads(threads);
}

WorkerPool::~WorkerPool() = default;

void WorkerPool::setThreads(int threads) {
    const std::lock_guard batch(batchMutex_);
    threads_ = std::max(threads, 1);
    arena_.reset();
#if !defined(STRATA_OWN_THREADS)
    if (threads_ > 1) {
        allowParallelism(threads_);
        arena_ = std::make_unique<Arena>(threads_);
    }
#endif
}

int WorkerPool::takePeakThreads() {
    return std::max(1, peakThreads_.exchange(1, std::memory_order_relaxed));
}

void WorkerPool::run(int count, const std::function<void(int)>& task) {
    if (count <= 0) {
        return;
    }
    std::unique_lock batch(batchMutex_, std::try_to_lock);
    if (!batch.owns_lock() || threads_ == 1 || count == 1) {
        for (int i = 0; i < count; ++i) {
            task(i);
        }
        return;
    }
    batches_.fetch_add(1, std::memory_order_relaxed);
    // Same rounding on every thread as on the caller: pixel positions depend on it.
    std::fenv_t callerEnv;
    std::fegetenv(&callerEnv);
    std::exception_ptr error;
    std::mutex errorMutex;
    std::atomic<std::uint64_t> slots{0};  // the arena slots that took a task
    // Every thread of the batch takes the next task left until none is: a thread held up by
    // another program holds up at most the one task it took. One helper task per other thread
    // of the arena; a helper that starts after the last task is taken returns at once, and the
    // caller runs any helper no thread has picked up while it waits.
    std::atomic<int> next{0};
    const auto takeTasks = [&](int slot) {
        std::fenv_t own;
        std::fegetenv(&own);
        std::fesetenv(&callerEnv);
        for (int i = next.fetch_add(1, std::memory_order_relaxed); i < count;
             i = next.fetch_add(1, std::memory_order_relaxed)) {
            if (slot >= 0 && slot < 64) {
                slots.fetch_or(std::uint64_t{1} << slot, std::memory_order_relaxed);
            }
            try {
                task(i);
            } catch (...) {
                const std::lock_guard lock(errorMutex);
                if (!error) {
                    error = std::current_exception();
                }
            }
        }
        std::fesetenv(&own);
    };
    const int helpers = std::min(threads_, count) - 1;
#if defined(STRATA_OWN_THREADS)
    std::vector<std::thread> threads;
    for (int h = 1; h <= helpers; ++h) {
        threads.emplace_back(takeTasks, h);
    }
    takeTasks(0);
    for (std::thread& t : threads) {
        t.join();
    }
#else
    arena_->arena.execute([&] {
        tbb::task_group group;
        for (int h = 0; h < helpers; ++h) {
            group.run([&] { takeTasks(tbb::this_task_arena::current_thread_index()); });
        }
        takeTasks(tbb::this_task_arena::current_thread_index());
        group.wait();
    });
#endif
    const int used = std::popcount(slots.load(std::memory_order_relaxed));
    int peak = peakThreads_.load(std::memory_order_relaxed);
    while (used > peak &&
           !peakThreads_.compare_exchange_weak(peak, used, std::memory_order_relaxed)) {
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

std::atomic<bool> automaticThreads{true};

}  // namespace

WorkerPool& drawPool() {
    return poolInstance();
}

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

int takeDrawThreadsUsed() {
    return poolInstance().takePeakThreads();
}

namespace {

thread_local bool oneThreadFrame = false;

}  // namespace

int frameThreads() {
    return oneThreadFrame ? 1 : drawThreads();
}

OneThreadFrame::OneThreadFrame(bool active) : previous_(oneThreadFrame) {
    oneThreadFrame = previous_ || active;
}

OneThreadFrame::~OneThreadFrame() {
    oneThreadFrame = previous_;
}

}  // namespace strata::platform
