// Diagnostics: the frame stopwatch, the stereo frame and its merges, the counted passes of the
// instrumented frame and of Bench / Run test, and the view dump.
#include "app/app_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>

#include "app/app_view_support.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/fp_mode.h"

namespace strata::app {

namespace {

constexpr double kStopwatchClock = 550000000.0;

// The unit dump directions, eye points on a sphere about the scene.
constexpr std::array<Vector3, 9> kDumpDirections{{
    {-0.394389f, 0.877f, 0.274461f},
    {0.393234f, 0.62554f, 0.673845f},
    {-0.969209f, 0.238905f, 0.059646f},
    {-0.527937f, 0.197513f, 0.825997f},
    {0.0f, 0.0f, 1.0f},
    {0.175294f, -0.21935f, 0.95977f},
    {0.874907f, -0.244744f, 0.417897f},
    {-0.616921f, -0.639391f, 0.458898f},
    {0.26455f, -0.88504f, 0.383038f},
}};

std::uint32_t maxChannel(std::uint32_t p) {
    return std::max({(p >> 16) & 0xFFu, (p >> 8) & 0xFFu, p & 0xFFu});
}

}  // namespace

// ---- Stopwatch ------------------------------------------------------------------------------

double Stopwatch::rate() {
    ticks = stop - start;
    seconds = frequency > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency) : 0.0;
    return seconds > 0.0 ? 1.0 / seconds : 0.0;
}

void FrameRateMeter::add(std::int64_t startNanoseconds, std::int64_t stopNanoseconds) {
    // Frames that ended more than the window before this one go.
    while (count_ > 0 &&
           stopNanoseconds - frames_[static_cast<std::size_t>(first_)].stop > kWindowNanoseconds) {
        first_ = (first_ + 1) % kMost;
        --count_;
    }
    if (count_ == kMost) {
        first_ = (first_ + 1) % kMost;
        --count_;
    }
    frames_[static_cast<std::size_t>((first_ + count_) % kMost)] = {startNanoseconds,
                                                                    stopNanoseconds};
    ++count_;
}

double FrameRateMeter::perSecond() const {
    std::int64_t busy = 0;
    for (int i = 0; i < count_; ++i) {
        const Frame& f = frames_[static_cast<std::size_t>((first_ + i) % kMost)];
        busy += std::max<std::int64_t>(f.stop - f.start, 0);
    }
    return busy > 0 ? static_cast<double>(count_) * 1e9 / static_cast<double>(busy) : 0.0;
}

void Stopwatch::reportCycles(const std::string& label) {
    const double hz = rate();
    cycles = seconds * kStopwatchClock;
    platform::debugPrintf("%s cycles/hz: %12.0f \t %12.2f\n", label.c_str(), cycles, hz);
}

void Stopwatch::reportCyclesPerItem(const std::string& label, double items) {
    rate();
    if (items > 0.0) {
        seconds /= items;
    }
    cycles = seconds * kStopwatchClock;
    platform::debugPrintf("%s cycles: %12.2f \t %12.2f\n", label.c_str(), cycles,
                          seconds > 0.0 ? 1.0 / seconds : 0.0);
}

void MergeStereo(std::int32_t stereoMode, imageutil::RgbImage& left,
                 const imageutil::RgbImage& right) {
    if (left.empty() || right.empty() || left.width != right.width || left.height != right.height) {
        return;
    }
    for (std::int32_t y = 0; y < left.height; ++y) {
        for (std::int32_t x = 0; x < left.width; ++x) {
            const std::uint32_t l = left.at(x, y);
            const std::uint32_t r = right.at(x, y);
            if (stereoMode == 1) {
                left.at(x, y) = (l & 0xFF00FFFFu) | (r & 0x00FF0000u);
            } else {
                left.at(x, y) = maxChannel(l) | (maxChannel(r) << 16);
            }
        }
    }
}

void AppView::DrawStereo() {
    DrawMono();
    // The second eye: shifted sideways in the camera's own axes by the stereo separation of
    // the view reset, always taken (never refused by the movement box) and always undone
    // exactly.
    const Matrix4 savedView = navViewMatrix;
    const Matrix4 savedWarp = warpMatrix;
    const Matrix4 savedClip = clipMatrix;
    const geometry::ViewCamera savedCamera = viewCamera;
    const Vector3 eyeShift{stereoSeparation, 0.0f, 0.0f};
    // Moved in the camera's own axes from the view on screen (a spin or dump view too).
    keyMotion = eyeShift;
    RebuildFromViewMatrix(
        geometry::product(geometry::translation(-eyeShift.x, -eyeShift.y, -eyeShift.z), savedView));
    targetImage = &stereoImage;
    const bool savedEnvironment = environmentMap;
    environmentMap = false;
    DrawMono();
    environmentMap = savedEnvironment;
    MergeStereo(stereoMode, frameImage, stereoImage);
    keyMotion = -eyeShift;
    navViewMatrix = savedView;
    warpMatrix = savedWarp;
    clipMatrix = savedClip;
    viewCamera = savedCamera;
    targetImage = &frameImage;
}

void AppView::CountedPasses() {
    counterTable.events.assign(instrument::kBenchEvents.begin(), instrument::kBenchEvents.end());
    instrument::PerfCounters& perf = counters != nullptr ? *counters : instrument::counters();
    const bool available = perf.PerfInit() != 0;
    {
        const platform::FpModeGuard modes(useTrunc, useSinglePrecision);
        instrument::countPasses(perf, available, counterTable, [this] {
            if (stereoMode != 0) {
                DrawStereo();
            } else {
                DrawMono();
            }
        });
    }
    instrument::printCounterTable(counterTable, available, perf.unavailableReason());
}

void AppView::RunTest() {
    benchFlag = !benchFlag;
    if (ldi != nullptr) {
        ldi->options.benchFlag = benchFlag && DrawsHalvesAndBenchRows(*ldi) ? 1 : 0;
    }
    CountedPasses();
    Blit();
}

void AppView::DumpViews() {
    // Nine views about the scene's centre c, placed in the current camera's axes (side, up and
    // the viewing direction, forward): view i stands at h d_i + (0, 0, -h) and looks at
    // (0, 0, -3h), with that target on c. So every view looks back across the scene toward the
    // current eye from beyond it, view 4 straight back, from 2.3 h to 3 h away; h is half the
    // box's largest side, which keeps every eye outside the scene.
    const Vector3 centre = (boundsMin + boundsMax) * 0.5f;
    const Vector3 extent = boundsMax - boundsMin;
    const float h = 0.5f * std::max({extent.x, extent.y, extent.z});
    const Vector3 forward = geometry::normalized(viewCamera.dir);
    const Vector3 side = geometry::normalized(geometry::cross(viewCamera.dir, viewCamera.up));
    const Vector3 up = geometry::cross(side, forward);
    const auto toWorld = [&](const Vector3& v) { return side * v.x + up * v.y + forward * v.z; };
    const Vector3 target{0.0f, 0.0f, -3.0f * h};
    std::string failed;
    for (std::size_t i = 0; i < kDumpDirections.size(); ++i) {
        const Vector3 local = kDumpDirections[i] * h + Vector3{0.0f, 0.0f, -h};
        const Vector3 eye = centre + toWorld(local - target);
        const Vector3 look = geometry::normalized(centre - eye);
        // Upright in the world where the world's up is not along the view.
        Vector3 viewUp = worldUp;
        if (geometry::cross(look, viewUp).length() < 1e-3f) {
            viewUp = up;
        }
        RebuildFromViewMatrix(geometry::product(geometry::lookAtRotation(look, viewUp),
                                                geometry::translation(-eye.x, -eye.y, -eye.z)));
        DrawFrame();
        const std::string name = platform::formatString("ldi_dump%zu.bmp", i);
        const std::string path = dumpFolder.empty() ? name : platform::joinPath(dumpFolder, name);
        if (targetImage == nullptr || targetImage->writeBMP(path) == 0) {
            failed = path;
        }
    }
    std::error_code ignored;
    const std::filesystem::path folder =
        std::filesystem::absolute(dumpFolder.empty() ? "." : dumpFolder, ignored);
    SetStatus(failed.empty() ? "view dump: ldi_dump0.bmp .. ldi_dump8.bmp in " +
                                   folder.lexically_normal().string()
                             : "view dump: could not write " + failed);
}

}  // namespace strata::app
