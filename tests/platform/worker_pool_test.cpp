#include "platform/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/fp_mode.h"

namespace strata::platform {
namespace {

TEST(WorkerPool, RunsEveryTaskOnceOverManyBatchesAndThreadCounts) {
    WorkerPool pool(2);
    for (const int threads : {2, 1, 3, 2}) {
        pool.setThreads(threads);
        EXPECT_EQ(pool.threads(), threads);
        for (int batch = 0; batch < 300; ++batch) {
            const int count = batch % 17;  // 0 and 1 included
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
            pool.run(count, [&](int i) { runs[static_cast<std::size_t>(i)].fetch_add(1); });
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << "batch " << batch;
            }
        }
    }
}

TEST(WorkerPool, BelowOneThreadMeansOneAndTheCallerDoesTheWorkInOrder) {
    WorkerPool pool(0);
    EXPECT_EQ(pool.threads(), 1);
    pool.setThreads(-5);
    EXPECT_EQ(pool.threads(), 1);
    std::vector<int> order;
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    pool.run(5, [&](int i) {
        order.push_back(i);
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
    });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(pool.batches(), 0);
}

TEST(WorkerPool, WorkersAreStartedOnceAndShareTheBatches) {
    WorkerPool pool(2);
    std::atomic<int> onCaller{0};
    std::atomic<int> onWorker{0};
    const std::thread::id caller = std::this_thread::get_id();
    for (int batch = 0; batch < 200; ++batch) {
        pool.run(8, [&](int) {
            // Long enough that the worker wakes before the caller has taken every task.
            volatile double x = 0.0;
            for (int k = 0; k < 20000; ++k) {
                x = x + 1.0;
            }
            (std::this_thread::get_id() == caller ? onCaller : onWorker).fetch_add(1);
            // On a loaded machine a worker may be slow to wake: in the first batch the caller
            // waits for one (two seconds at most) instead of taking every task itself.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (batch == 0 && std::this_thread::get_id() == caller && onWorker.load() == 0 &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        });
    }
    EXPECT_EQ(onCaller.load() + onWorker.load(), 1600);
    EXPECT_GT(onWorker.load(), 0);
    EXPECT_EQ(pool.batches(), 200);
}

TEST(WorkerPool, NestedAndConcurrentBatchesRunOnTheirOwnCaller) {
    WorkerPool pool(2);
    std::atomic<int> inner{0};
    pool.run(4, [&](int) { pool.run(3, [&](int) { inner.fetch_add(1); }); });
    EXPECT_EQ(inner.load(), 12);

    std::atomic<int> total{0};
    std::thread other([&] {
        for (int b = 0; b < 100; ++b) {
            pool.run(5, [&](int) { total.fetch_add(1); });
        }
    });
    for (int b = 0; b < 100; ++b) {
        pool.run(5, [&](int) { total.fetch_add(1); });
    }
    other.join();
    EXPECT_EQ(total.load(), 1000);
}

TEST(WorkerPool, AnExceptionOfATaskReachesTheCallerAfterTheBatch) {
    WorkerPool pool(2);
    std::atomic<int> done{0};
    EXPECT_THROW(pool.run(6,
                          [&](int i) {
                              done.fetch_add(1);
                              if (i == 3) {
                                  throw std::runtime_error("task 3");
                              }
                          }),
                 std::runtime_error);
    EXPECT_EQ(done.load(), 6);
    // The pool still works.
    std::atomic<int> after{0};
    pool.run(4, [&](int) { after.fetch_add(1); });
    EXPECT_EQ(after.load(), 4);
}

TEST(WorkerPool, TasksRoundAsTheCallerDoes) {
    WorkerPool pool(3);
    for (const bool trunc : {true, false}) {
        const FpModeGuard modes(trunc, true);
        std::vector<long> got(12, 0);
        pool.run(12, [&](int i) { got[static_cast<std::size_t>(i)] = toInt(2.5f + 1.0f * i); });
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(got[static_cast<std::size_t>(i)], toInt(2.5f + 1.0f * i)) << i;
        }
    }
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
}

TEST(WorkerPool, TheDrawingPoolDefaultsToEveryCoreAndTakesANewCount) {
    EXPECT_EQ(drawThreads(), defaultThreadCount());
    EXPECT_TRUE(drawThreadsAutomatic());
    EXPECT_GE(defaultThreadCount(), 1);
    setDrawThreads(3);
    EXPECT_EQ(drawThreads(), 3);
    EXPECT_FALSE(drawThreadsAutomatic());
    setDrawThreads(0);
    EXPECT_EQ(drawThreads(), 1);
    setDrawThreadsAutomatic();
    EXPECT_EQ(drawThreads(), defaultThreadCount());
    EXPECT_TRUE(drawThreadsAutomatic());
    setDrawThreads(defaultThreadCount());
    EXPECT_EQ(drawThreads(), defaultThreadCount());
    EXPECT_FALSE(drawThreadsAutomatic());
}

}  // namespace
}  // namespace strata::platform
