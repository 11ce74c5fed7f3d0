// Speed of LDIs from depth data: a 12-megapixel photograph with depth (4000 x 3000, a wall with
// a ball before it, so it has depth edges) carried into the default 1024 x 1024 grid and into a
// grid as fine as itself, and a point cloud of a million points (neighbours, normals and
// footprints, then carried into a 512 x 512 grid). The memory goal, proportional to the
// pictures, is read from the peak resident size of `strata make --rgbd`.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "maker/point_cloud.h"
#include "maker/rgbd_view.h"

namespace {

using namespace strata::maker;
using strata::geometry::Vector3;

PinholeCamera frontCamera(float fovDegrees) {
    PinholeCamera camera;
    camera.pos = {0, 0, 0};
    camera.dir = {0, 0, -1};
    camera.up = {0, 1, 0};
    camera.fov = fovDegrees * 3.14159265f / 180.0f;
    std::string error;
    normalizeCamera(camera, error);
    return camera;
}

// A wall at depth 10 with a ball of radius 2 at depth 7 before it.
const RgbdView& photograph() {
    static const RgbdView view = [] {
        RgbdView v;
        v.width = 4000;
        v.height = 3000;
        v.camera = photoCameraFromFov(frontCamera(50.0f), v.width, v.height);
        v.depth.resize(static_cast<std::size_t>(v.width) * v.height);
        v.rgb.resize(v.depth.size() * 3);
        for (std::int32_t row = 0; row < v.height; ++row) {
            for (std::int32_t column = 0; column < v.width; ++column) {
                const double x = (column - v.camera.cx) / v.camera.fx;
                const double y = (v.camera.cy - (v.height - 1 - row)) / v.camera.fy;
                // The ray (x, y, -1) against the ball about (0, 0, -7).
                const double a = x * x + y * y + 1.0;
                const double disc = 49.0 - a * (49.0 - 4.0);
                const double t = disc >= 0.0 ? (7.0 - std::sqrt(disc)) / a : 10.0;
                const std::size_t i = static_cast<std::size_t>(row) * v.width + column;
                v.depth[i] = static_cast<float>(t);
                v.rgb[3 * i] = static_cast<std::uint8_t>(column);
                v.rgb[3 * i + 1] = static_cast<std::uint8_t>(row);
                v.rgb[3 * i + 2] = disc >= 0.0 ? 200 : 40;
            }
        }
        return v;
    }();
    return view;
}

void BM_PhotoWithDepth12Megapixels(benchmark::State& state) {
    const RgbdViewSource source({photograph()}, kDefaultEdgeRatio, FusionOptions{});
    SampleOptions options;
    options.width = options.height = static_cast<std::int32_t>(state.range(0));
    options.threads = static_cast<int>(state.range(1));
    const PinholeCamera camera = coveringCamera(photograph().camera, 4000, 3000);
    for (auto _ : state) {
        LayeredImage image;
        std::string error;
        source.sample(camera, options, image, error);
        benchmark::DoNotOptimize(image.samples.data());
    }
    state.counters["pixels_per_second"] =
        benchmark::Counter(12e6, benchmark::Counter::kIsIterationInvariantRate);
}

PointCloud sphereCloud() {
    PointCloud cloud;
    constexpr int kRings = 1000;
    for (int i = 0; i < kRings; ++i) {
        const float theta = 3.14159265f * (i + 0.5f) / kRings;
        for (int j = 0; j < kRings; ++j) {
            const float phi = 2.0f * 3.14159265f * j / kRings;
            CloudPoint p;
            p.position = Vector3{std::sin(theta) * std::cos(phi), std::cos(theta),
                                 std::sin(theta) * std::sin(phi) - 6.0f};
            p.colour = static_cast<std::uint32_t>(i * 7 + j);
            cloud.bounds.add(p.position);
            cloud.points.push_back(p);
        }
    }
    return cloud;
}

void BM_PointCloudNeighbours1M(benchmark::State& state) {
    const PointCloud raw = sphereCloud();
    for (auto _ : state) {
        PointCloud cloud = raw;
        completePointCloud(cloud, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(cloud.points.data());
    }
}

void BM_PointCloudInto512(benchmark::State& state) {
    PointCloud cloud = sphereCloud();
    completePointCloud(cloud, 2);
    const PointCloudSource source(std::move(cloud), FusionOptions{0.0f});
    SampleOptions options;
    options.width = options.height = 512;
    options.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        LayeredImage image;
        std::string error;
        source.sample(frontCamera(25.0f), options, image, error);
        benchmark::DoNotOptimize(image.samples.data());
    }
}

}  // namespace

BENCHMARK(BM_PhotoWithDepth12Megapixels)
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Args({4000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PointCloudNeighbours1M)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PointCloudInto512)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
