#include <benchmark/benchmark.h>

#include "geometry/matrix.h"
#include "geometry/quantise.h"

namespace {

using namespace strata::geometry;

void BM_MatrixProduct(benchmark::State& state) {
    Matrix4 a = frustum(-1, 1, -1, 1, 1, 100);
    const Matrix4 b = translation(1, 2, 3);
    for (auto _ : state) {
        a = product(b, a);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_MatrixProduct);

void BM_NearestNormal(benchmark::State& state) {
    Vector3 v = normalized({0.3f, -0.2f, 0.9f});
    for (auto _ : state) {
        benchmark::DoNotOptimize(nearestNormal(v));
    }
}
BENCHMARK(BM_NearestNormal);

}  // namespace

BENCHMARK_MAIN();
