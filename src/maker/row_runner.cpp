#include "maker/row_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace strata::maker {

void runRows(int rows, int threads, const std::function<void(int row)>& job,
             const ProgressCallback& progress) {
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    const int workerCount = std::clamp(threads, 1, std::max(rows, 1));
    std::mutex mutex;
    std::condition_variable finished;
    const auto work = [&] {
        for (int row = next.fetch_add(1); row < rows; row = next.fetch_add(1)) {
            job(row);
            if (done.fetch_add(1) + 1 == rows) {
                const std::lock_guard<std::mutex> lock(mutex);
                finished.notify_all();
            }
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(workerCount));
    for (int i = 0; i < workerCount; ++i) {
        workers.emplace_back(work);
    }
    if (progress) {
        std::unique_lock<std::mutex> lock(mutex);
        while (done.load() < rows) {
            lock.unlock();
            progress(static_cast<double>(done.load()) / rows);
            lock.lock();
            finished.wait_for(lock, std::chrono::milliseconds(50),
                              [&] { return done.load() >= rows; });
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (progress) {
        progress(1.0);
    }
}

}  // namespace strata::maker
