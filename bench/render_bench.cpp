// Depth samples per second of the QP, CP and MRQP warp kernels on one and two threads: true
// colour with splatting off and on, false colour and high-quality splats, into 350 x 350 and 1024 x
// 1024 frames, and QP frames per second at 1920 x 1080 from a 1024 x 1024 LDI. The LDIs are
// synthetic and hold the same samples: 512 x 512 pixels of up to three layers (a wall, a slanted
// floor band and a box in front; MRQP with full masks), seen from a camera moved sideways and
// forward of the reference camera.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "platform/worker_pool.h"
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

constexpr int kSide = 512;

// The samples of LDI pixel (r, c), farthest first.
void benchSamples(int r, int c, std::vector<render::testing::SyntheticSample>& out) {
    const auto key = static_cast<std::uint32_t>(r * kSide + c);
    const float wall = 20.0f + 4.0f * std::sin(0.02f * static_cast<float>(c));
    out.push_back({wall, hashColour(key), 34, static_cast<int>(wall) & 31});
    const float floor = 6.0f + 0.02f * static_cast<float>(r);
    out.push_back({floor, hashColour(key + 1u), 50, static_cast<int>(floor) & 31});
    if (r > kSide / 4 && r < kSide / 2 && c > kSide / 3 && c < 2 * kSide / 3) {
        out.push_back({4.0f, hashColour(key + 2u), 18, 4});
    }
}

render::testing::SyntheticCamera benchCamera() {
    render::testing::SyntheticCamera cam;
    cam.near = 1.0f;
    cam.far = 64.0f;
    return cam;
}

ldi::LdiRtQp& benchLdi() {
    static std::unique_ptr<ldi::LdiRtQp> ldi =
        render::testing::makeSyntheticQp(benchCamera(), kSide, kSide, benchSamples);
    return *ldi;
}

ldi::LdiRtCp& benchCp() {
    static std::unique_ptr<ldi::LdiRtCp> ldi =
        render::testing::makeSyntheticCp(benchCamera(), kSide, kSide, benchSamples);
    return *ldi;
}

ldi::LdiRtMrqp& benchMrqp() {
    static std::unique_ptr<ldi::LdiRtMrqp> ldi = render::testing::makeSyntheticMrqp(
        benchCamera(), kSide, kSide, [](int r, int c, auto& out) {
            std::vector<render::testing::SyntheticSample> samples;
            benchSamples(r, c, samples);
            for (const auto& s : samples) {
                render::testing::SyntheticMrqpSample m;
                m.sample = s;
                m.mask4 = 0xFFFF;
                m.mask2 = 0xF;
                m.colours4.assign(16, s.colour);
                m.colours2.assign(4, s.colour);
                out.push_back(m);
            }
        });
    return *ldi;
}

// The bench scene on a 1024 x 1024 grid: every sample of the 512 x 512 LDI in a 2 x 2 block.
ldi::LdiRtQp& largeLdi() {
    static std::unique_ptr<ldi::LdiRtQp> ldi = render::testing::makeSyntheticQp(
        benchCamera(), 2 * kSide, 2 * kSide,
        [](int r, int c, auto& out) { benchSamples(r / 2, c / 2, out); });
    return *ldi;
}

// Draws repeatedly into a width x height frame and reports depth samples and frames per second.
// Variant: 0 splat off, 1 splat on, 2 false colour (the basic mode's blended footprints), 3
// high-quality splats (the viewer's default).
void drawBench(benchmark::State& state, ldi::LdiBase& ldi, std::int32_t width, std::int32_t height,
               std::int64_t variant) {
    const render::OutputView view =
        render::makeOutputView({0.6f, 0.3f, -0.5f}, geometry::normalized({-0.05f, -0.02f, -1.0f}),
                               {0.0f, 1.0f, 0.0f}, render::kDefaultFov, width, height);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(width, height);
    ldi::FrameSettings settings;  // depth correction and table sizes as the viewer's defaults
    settings.useSplat = variant != 0;
    settings.useFalseColor = variant == 2;
    settings.highQualitySplats = variant == 3;
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
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Args: output side, variant, drawing threads.
void drawBench(benchmark::State& state, ldi::LdiBase& ldi) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    platform::setDrawThreads(static_cast<int>(state.range(2)));
    drawBench(state, ldi, size, size, state.range(1));
}

void BM_QpDraw(benchmark::State& state) {
    drawBench(state, benchLdi());
}
void BM_CpDraw(benchmark::State& state) {
    drawBench(state, benchCp());
}
void BM_MrqpDraw(benchmark::State& state) {
    drawBench(state, benchMrqp());
}

void drawArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "variant", "threads"});
    for (const int size : {350, 1024}) {
        for (const int variant : {0, 1, 2, 3}) {
            for (const int threads : {1, 2}) {
                b->Args({size, variant, threads});
            }
        }
    }
    b->Unit(benchmark::kMillisecond);
    b->UseRealTime();  // the workers' time counts too
}
BENCHMARK(BM_QpDraw)->Apply(drawArgs);
BENCHMARK(BM_CpDraw)->Apply(drawArgs);
BENCHMARK(BM_MrqpDraw)->Apply(drawArgs);

// A 1920 x 1080 frame of the 1024 x 1024 QP LDI, splats on: basic and high quality, on one
// and two threads.
void BM_QpDrawFullHd(benchmark::State& state) {
    platform::setDrawThreads(static_cast<int>(state.range(1)));
    drawBench(state, largeLdi(), 1920, 1080, state.range(0));
}
BENCHMARK(BM_QpDrawFullHd)
    ->ArgNames({"variant", "threads"})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({3, 1})
    ->Args({3, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A window being resized: every frame a few pixels larger or smaller than the last, about
// 1920 x 1080, in the high-quality mode (arg 3) or the basic one (1), on one thread: what the
// frame function's buffers cost when the size never settles.
void BM_QpDrawResizing(benchmark::State& state) {
    platform::setDrawThreads(1);
    const render::OutputView base =
        render::makeOutputView({0.6f, 0.3f, -0.5f}, geometry::normalized({-0.05f, -0.02f, -1.0f}),
                               {0.0f, 1.0f, 0.0f}, render::kDefaultFov, 1920, 1080);
    ldi::FrameSettings settings;
    settings.highQualitySplats = state.range(0) == 3;
    std::int32_t step = 0;
    for (auto _ : state) {
        const std::int32_t width = 1920 - 8 * (step % 16);
        const std::int32_t height = 1080 - 4 * (step % 16);
        ++step;
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(width, height);
        const render::OutputView view = render::makeOutputView(
            base.camera.pos, base.camera.dir, base.camera.up, render::kDefaultFov, width, height);
        ldi::DrawFrame(largeLdi(), settings, view, frame);
        benchmark::DoNotOptimize(frame.pixels[0]);
    }
}
BENCHMARK(BM_QpDrawResizing)
    ->ArgNames({"variant"})
    ->Arg(1)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
