// Ray-casting speed of the LDI maker: every layer of the demo scene at 512 x 512, with and
// without the sub-pixel coverage rays of the multi-resolution kind, and the nearest-hit trace.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>

#include "maker/demo_scene.h"
#include "maker/layered_image.h"
#include "maker/ray_caster.h"
#include "maker/trace_image.h"

namespace {

using namespace strata::maker;

struct DemoFixture {
    Scene scene = buildDemoScene();
    std::unique_ptr<RayCaster> caster;
    PinholeCamera camera;

    DemoFixture() {
        std::string error;
        caster = RayCaster::create(scene, error);
        camera = defaultCamera(scene.bounds(), 0.7853982f);
        normalizeCamera(camera, error);
    }
};

DemoFixture& fixture() {
    static DemoFixture demo;
    return demo;
}

void sampleDemo(benchmark::State& state, bool coverage) {
    DemoFixture& demo = fixture();
    SampleOptions options;
    options.width = options.height = 512;
    options.coverage = coverage;
    options.threads = static_cast<int>(state.range(0));
    options.shading.mode = ShadingMode::lambert;
    std::int64_t rays = 0;
    for (auto _ : state) {
        LayeredImage image;
        std::string error;
        sampleLayers(*demo.caster, demo.camera, options, image, error);
        rays += image.stats.rays;
        benchmark::DoNotOptimize(image.samples.data());
    }
    state.counters["rays_per_second"] =
        benchmark::Counter(static_cast<double>(rays), benchmark::Counter::kIsRate);
}

void BM_DemoLayers512(benchmark::State& state) {
    sampleDemo(state, false);
}
void BM_DemoLayersWithCoverage512(benchmark::State& state) {
    sampleDemo(state, true);
}

void BM_DemoTrace512(benchmark::State& state) {
    DemoFixture& demo = fixture();
    TraceOptions options;
    options.width = options.height = 512;
    options.threads = static_cast<int>(state.range(0));
    std::vector<std::uint32_t> pixels;
    for (auto _ : state) {
        std::string error;
        traceImage(*demo.caster, demo.camera, options, pixels, error);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["rays_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 512.0 * 512.0, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DemoLayers512)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemoLayersWithCoverage512)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemoTrace512)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
