// Depth samples per second of the QP warp kernels, single-threaded: true colour with splatting
// off and on, and false colour, into 350 x 350 and 1024 x 1024 frames. The LDI is synthetic:
// 512 x 512 pixels of three layers (a wall, a slanted floor band and a box in front), seen from
// a camera moved sideways and forward of the reference camera.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "render/output_view.h"
#include "render/synthetic_ldi.h"

namespace {

using namespace strata;

std::uint32_t hashColour(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    return x & 0xFFFFFFu;
}

ldi::LdiRtQp& benchLdi() {
    static std::unique_ptr<ldi::LdiRtQp> ldi = [] {
        render::testing::SyntheticCamera cam;
        cam.near = 1.0f;
        cam.far = 64.0f;
        const int n = 512;
        return render::testing::makeSyntheticQp(cam, n, n, [n](int r, int c, auto& out) {
            const auto key = static_cast<std::uint32_t>(r * n + c);
            const float wall = 20.0f + 4.0f * std::sin(0.02f * static_cast<float>(c));
            out.push_back({wall, hashColour(key), 34, static_cast<int>(wall) & 31});
            const float floor = 6.0f + 0.02f * static_cast<float>(r);
            out.push_back({floor, hashColour(key + 1u), 50, static_cast<int>(floor) & 31});
            if (r > n / 4 && r < n / 2 && c > n / 3 && c < 2 * n / 3) {
                out.push_back({4.0f, hashColour(key + 2u), 18, 4});
            }
        });
    }();
    return *ldi;
}

// Args: output size, variant (0 splat off, 1 splat on, 2 false colour).
void BM_QpDraw(benchmark::State& state) {
    ldi::LdiRtQp& ldi = benchLdi();
    const auto size = static_cast<std::int32_t>(state.range(0));
    const auto variant = state.range(1);
    const render::OutputView view =
        render::makeOutputView({0.6f, 0.3f, -0.5f}, geometry::normalized({-0.05f, -0.02f, -1.0f}),
                               {0.0f, 1.0f, 0.0f}, render::kDefaultFov, size, size);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(size, size);
    ldi::FrameSettings settings;  // the viewer's defaults: splat, depth correction, table sizes
    settings.useSplat = variant != 0;
    settings.useFalseColor = variant == 2;
    settings.falseColorMode = 4;
    std::int64_t samples = 0;
    for (auto _ : state) {
        const ldi::LdiDrawStats stats = ldi::DrawFrame(ldi, settings, view, frame);
        samples += stats.visited;
        benchmark::DoNotOptimize(frame.pixels[0]);
    }
    state.SetItemsProcessed(samples);
    state.counters["samples_per_s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QpDraw)
    ->ArgNames({"size", "variant"})
    ->Args({350, 0})
    ->Args({350, 1})
    ->Args({350, 2})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
