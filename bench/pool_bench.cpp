// The hand-over of a batch to the drawing threads: the time from run() to its return for tasks
// that do almost nothing, on the project's pool (oneTBB underneath) and on oneTBB's own
// parallel_for in an arena of the same size, for one to four threads and a frame's worth of
// tasks (three wedges for two threads, up to sixteen bands). A frame of 1 ms can afford a few
// microseconds.
#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>

#include "platform/worker_pool.h"

namespace {

using namespace strata;

void BM_PoolHandOver(benchmark::State& state) {
    platform::WorkerPool pool(static_cast<int>(state.range(0)));
    const auto tasks = static_cast<int>(state.range(1));
    std::atomic<int> sum{0};
    for (auto _ : state) {
        pool.run(tasks, [&](int i) { sum.fetch_add(i, std::memory_order_relaxed); });
    }
    benchmark::DoNotOptimize(sum.load());
}

void BM_TbbParallelFor(benchmark::State& state) {
    tbb::task_arena arena(static_cast<int>(state.range(0)));
    const auto tasks = static_cast<int>(state.range(1));
    std::atomic<int> sum{0};
    for (auto _ : state) {
        arena.execute([&] {
            tbb::parallel_for(0, tasks,
                              [&](int i) { sum.fetch_add(i, std::memory_order_relaxed); });
        });
    }
    benchmark::DoNotOptimize(sum.load());
}

void handOverArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"threads", "tasks"});
    for (const int threads : {1, 2, 4}) {
        for (const int tasks : {3, 16}) {
            b->Args({threads, tasks});
        }
    }
    b->Unit(benchmark::kMicrosecond);
    b->UseRealTime();
}
BENCHMARK(BM_PoolHandOver)->Apply(handOverArgs);
BENCHMARK(BM_TbbParallelFor)->Apply(handOverArgs);

}  // namespace

BENCHMARK_MAIN();
