// The parts of drawing that every LDI kind shares: the set-up of the warp state before the
// kernels run, and the visible-rectangle narrowing of DrawVisible.
#include "ldi/draw_common.h"

#include <algorithm>
#include <cmath>

#include "geometry/frame_tangents.h"
#include "imageutil/rgb_image.h"
#include "ldi/voxel_model.h"
#include "platform/clock.h"
#include "platform/fp_mode.h"
#include "platform/thread_choice.h"
#include "platform/worker_pool.h"
#include "render/frame_margin.h"
#include "render/inspection.h"

namespace strata::ldi {

bool BeginDraw(LdiBase& ldi, const geometry::Matrix4& warpMatrix,
               const geometry::ViewCamera& outputCamera, const imageutil::RgbImage& frame,
               IntRange xRange, IntRange yRange) {
    ldi.outputView = outputCamera;
    ldi.drawStats.reset();
    ldi.warp.setup.valid = false;
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0 || ldi.width() <= 0 ||
        ldi.height() <= 0) {
        return false;
    }
    render::DrawSetupInput input;
    input.ldiView = ldi.header.view;
    input.ldiWidth = ldi.width();
    input.ldiHeight = ldi.height();
    input.warpMatrix = warpMatrix;
    input.outputCamera = outputCamera;
    input.outWidth = frame.width;
    input.outHeight = frame.height;
    input.x0 = xRange.begin;
    input.x1 = xRange.end;
    input.y0 = yRange.begin;
    input.y1 = yRange.end;
    input.buildSplatTable = ldi.options.sizeAccurate == 0;
    input.bounds = ldi.header.bins;
    input.binCount = ldi.header.binCount;
    if (!render::beginDraw(ldi.warp, input)) {
        return false;
    }
    if (ldi.options.scanlineCulling != 0) {
        const render::TraversalRange& r = ldi.warp.range;
        ldi.header.culler.setTransform(ldi.warp.setup.transform, frame.width, frame.height, r.x0,
                                       r.x1);
        ldi.header.culler.resetCount();
    }
    return true;
}

LdiDrawStats LdiBase::DrawVisible(const geometry::Matrix4& warpMatrix,
                                  const geometry::Matrix4& viewMatrix,
                                  const geometry::ViewCamera& outputCamera,
                                  imageutil::RgbImage& frame, float* depthBuffer) {
    IntRange xRange{0, width()};
    IntRange yRange{0, height()};
    // A rectangle prepared for another grid (or never prepared) cannot narrow this one.
    if (options.frustumClipper != 0 && visibleRect.width() == width() &&
        visibleRect.height() == height()) {
        // Only the columns and rows whose rays can reach the output view (widened to the frame's
        // margin) are traversed.
        const geometry::ViewCamera clipCamera =
            render::wholeBufferCamera(outputCamera, frame.width, frame.height);
        const mesh::VisibleRect rect = visibleRect.update(clipCamera);
        xRange = {rect.x0, rect.x1};
        yRange = {rect.y0, rect.y1};
    }
    return Draw(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer, xRange, yRange);
}

LdiDrawStats LdiBase::DrawAll(const geometry::Matrix4& warpMatrix,
                              const geometry::Matrix4& viewMatrix,
                              const geometry::ViewCamera& outputCamera,
                              imageutil::RgbImage& frame) {
    return DrawVisible(warpMatrix, viewMatrix, outputCamera, frame, nullptr);
}

void ApplyFrameSettings(LdiBase& ldi, const FrameSettings& settings) {
    LdiRenderOptions& o = ldi.options;
    o.useSplat = settings.useSplat ? 1 : 0;
    o.useDepthCorrection = settings.useDepthCorrection ? 1 : 0;
    o.backfaceCulling = settings.backfaceCulling ? 1 : 0;
    o.scanlineCulling = settings.scanlineCulling ? 1 : 0;
    o.frustumClipper = settings.frustumClipper ? 1 : 0;
    o.useFalseColor = settings.useFalseColor ? 1 : 0;
    o.falseColorMode = settings.falseColorMode;
    o.sizeAccurate = settings.sizeAccurate;
    o.lowerHalfOnly = settings.lowerHalfOnly ? 1 : 0;
    o.upperHalfOnly = settings.upperHalfOnly ? 1 : 0;
    o.benchFlag = settings.benchFlag ? 1 : 0;
    o.highQualitySplats = settings.highQualitySplats ? 1 : 0;
    ldi.settingsGiven = 1;
}

void ApplyFrameSwitches(LdiBase& ldi, const FrameSettings& settings) {
    LdiRenderOptions& o = ldi.options;
    o.backfaceCulling = settings.backfaceCulling ? 1 : 0;
    o.useFalseColor = settings.useFalseColor ? 1 : 0;
    o.falseColorMode = settings.falseColorMode;
    o.useSplat = settings.useSplat ? 1 : 0;
    o.highQualitySplats = settings.highQualitySplats ? 1 : 0;
    o.lowerHalfOnly = settings.lowerHalfOnly ? 1 : 0;
    o.upperHalfOnly = settings.upperHalfOnly ? 1 : 0;
    ldi.settingsGiven = 1;
}

namespace {

// The horizon of a picture: ground where a (x + 0.5 - width / 2) + b (y - height / 2) < k for
// pixel (x, y), row 0 at the bottom, or everywhere / nowhere when the viewing axis lies along
// the world's up axis.
struct Horizon {
    float a = 0.0f;
    float b = 1.0f;
    float k = 0.0f;
    bool line = true;
    bool allGround = false;
};

Horizon horizonOf(std::int32_t width, std::int32_t height, const geometry::ViewCamera& camera,
                  const geometry::Vector3& worldUp) {
    const geometry::Vector3 w = worldUp.length() > 0.0f ? geometry::normalized(worldUp)
                                                        : geometry::Vector3{0.0f, 0.0f, 1.0f};
    const geometry::Vector3 dir =
        camera.dir.length() > 0.0f ? geometry::normalized(camera.dir) : camera.dir;
    const geometry::Vector3 up =
        camera.up.length() > 0.0f ? geometry::normalized(camera.up) : camera.up;
    const geometry::Vector3 across = geometry::cross(dir, up);
    const geometry::Vector3 side =
        across.length() > 0.0f ? geometry::normalized(across) : geometry::Vector3{};
    // u is minus the sine of the viewing direction's elevation: in the original's world (+z up,
    // looking along +y) the y component of the camera's up vector.
    // A level camera rebuilt from its matrices is level only to the last bits: within 1e-6 it
    // counts as level, so that its horizon row does not flicker between two.
    float u = std::clamp(-geometry::dot(w, dir), -1.0f, 1.0f);
    if (std::fabs(u) < 1e-6f) {
        u = 0.0f;
    }
    const float a = std::atan2(u, std::sqrt((1.0f + u) * (1.0f - u)));
    // The vertical half angle: half the view angle, which spans the smaller side.
    const float f = height <= width
                        ? 0.5f * camera.fov
                        : std::atan(geometry::frameTangents(camera.fov, width, height).y);
    // height / 2 (f - a) / f, written so that a level view gives exactly height / 2 under any
    // rounding mode (frames are drawn with truncating arithmetic).
    float h = f > 0.0f ? 0.5f * static_cast<float>(height) * (1.0f - a / f) : 0.0f;
    if (!std::isfinite(h)) {
        h = 0.0f;
    }
    h = std::clamp(h, -2.0f * static_cast<float>(height), 2.0f * static_cast<float>(height));
    const auto rows = static_cast<float>(static_cast<std::int32_t>(h));
    // World up as seen in the picture: the horizon line is square to it.
    const float wx = geometry::dot(w, side);
    const float wy = geometry::dot(w, up);
    const float seen = std::sqrt(wx * wx + wy * wy);
    Horizon horizon;
    if (!(seen > 1e-6f)) {
        horizon.line = false;
        horizon.allGround = u > 0.0f;
        return horizon;
    }
    horizon.a = wx / seen;
    horizon.b = wy / seen;
    if (std::fabs(horizon.a) < 1e-6f) {  // no roll, to the last bits
        horizon.a = 0.0f;
        horizon.b = horizon.b > 0.0f ? 1.0f : -1.0f;
    }
    // Level (a = 0, b = 1): ground on the rows y < height - rows - 7.
    horizon.k = 0.5f * static_cast<float>(height) - rows - 7.0f;
    return horizon;
}

}  // namespace

int frameBands(std::int32_t width, std::int32_t height) {
    const std::int64_t pixels = std::int64_t{std::max(width, 0)} * std::max(height, 0);
    const int threads = platform::frameThreads();
    if (pixels < kParallelFramePixels || threads < 2) {
        return 1;
    }
    return std::min<int>(threads * kFrameBandsPerThread, std::max(height, 1));
}

void HorizonBackground(imageutil::RgbImage& target, std::int32_t margin, std::int32_t width,
                       std::int32_t height, const FrameSettings& settings,
                       const geometry::ViewCamera& camera, int bands) {
    if (target.empty()) {
        return;
    }
    const Horizon horizon = horizonOf(width, height, camera, settings.worldUp);
    const auto rowWords = static_cast<std::size_t>(target.width);
    const float halfW = 0.5f * static_cast<float>(width);
    const float halfH = 0.5f * static_cast<float>(height);
    const float limit = static_cast<float>(target.width) + 1.0f;
    inRowBands(target.height, bands, [&](std::int32_t rowFirst, std::int32_t rowEnd) {
        for (std::int32_t row = rowFirst; row < rowEnd; ++row) {
            // Ground on the columns [begin, end) of this row.
            std::int32_t begin = 0;
            std::int32_t end = 0;
            if (!horizon.line) {
                end = horizon.allGround ? target.width : 0;
            } else {
                const float y = static_cast<float>(row - margin);
                const float r = horizon.k - horizon.b * (y - halfH);
                if (horizon.a == 0.0f) {
                    end = 0.0f < r ? target.width : 0;
                } else {
                    // a (x + 0.5 - halfW) < r for the picture's column x = column - margin.
                    const float t = std::clamp(
                        r / horizon.a + halfW - 0.5f + static_cast<float>(margin), -1.0f, limit);
                    if (horizon.a > 0.0f) {
                        end = std::clamp(static_cast<std::int32_t>(std::ceil(t)), 0, target.width);
                    } else {
                        begin = std::clamp(static_cast<std::int32_t>(std::floor(t)) + 1, 0,
                                           target.width);
                        end = target.width;
                    }
                }
            }
            std::uint32_t* line = target.pixels + static_cast<std::size_t>(row) * rowWords;
            std::fill(line, line + begin, settings.background);
            std::fill(line + begin, line + end, settings.groundColor);
            std::fill(line + end, line + target.width, settings.background);
        }
    });
}

void FillBackground(imageutil::RgbImage& frame, const FrameSettings& settings,
                    const geometry::ViewCamera& camera) {
    if (frame.empty()) {
        return;
    }
    if (!settings.horizonBackground) {
        frame.fill(settings.background);
        return;
    }
    HorizonBackground(frame, 0, frame.width, frame.height, settings, camera);
}

namespace {

LdiDrawStats drawFrameOn(const FrameSettings& settings, const render::OutputView& view,
                         imageutil::RgbImage& frame, FrameScratch& scratch, const ObjectDraw& draw);

}  // namespace

LdiDrawStats DrawFrameWith(const FrameSettings& settings, const render::OutputView& view,
                           imageutil::RgbImage& frame, FrameScratch& scratch,
                           const ObjectDraw& draw, const void* scene) {
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) {
        return LdiDrawStats{};
    }
    if (!platform::drawThreadsAutomatic() || platform::frameThreads() < 2) {
        return drawFrameOn(settings, view, frame, scratch, draw);
    }
    const platform::FrameKind kind{frame.width, frame.height, scene,
                                   settings.highQualitySplats && !settings.useFalseColor};
    platform::ThreadChoice& choice = platform::frameThreadChoice();
    const bool shared = choice.share(kind);
    const std::int64_t start = platform::steadyNanoseconds();
    LdiDrawStats stats;
    {
        const platform::OneThreadFrame oneThread(!shared);
        stats = drawFrameOn(settings, view, frame, scratch, draw);
    }
    choice.record(kind, shared,
                  static_cast<double>(platform::steadyNanoseconds() - start) /
                      static_cast<double>(platform::kCounterFrequency));
    return stats;
}

namespace {

LdiDrawStats drawFrameOn(const FrameSettings& settings, const render::OutputView& view,
                         imageutil::RgbImage& frame, FrameScratch& scratch,
                         const ObjectDraw& draw) {
    const std::int32_t m = render::kFrameMargin;
    const std::int32_t width = frame.width + 2 * m;
    const std::int32_t height = frame.height + 2 * m;
    imageutil::RgbImage& padded = scratch.padded;
    if ((padded.width != width || padded.height != height || padded.pixels == nullptr) &&
        !padded.resize(width, height)) {
        LdiDrawStats failed;
        failed.frameFailed = true;
        return failed;
    }
    // The clear and the copy out stream the whole frame through memory: large frames do it in
    // row bands on the drawing threads.
    const int bands = frameBands(width, height);
    if (settings.horizonBackground) {
        HorizonBackground(padded, m, frame.width, frame.height, settings, view.camera, bands);
    } else {
        inRowBands(height, bands, [&](std::int32_t y0, std::int32_t y1) {
            std::fill(padded.pixels + static_cast<std::size_t>(y0) * width,
                      padded.pixels + static_cast<std::size_t>(y1) * width, settings.background);
        });
    }

    render::SoftSplatBuffer* soft = nullptr;
    if (settings.highQualitySplats && !settings.useFalseColor) {
        scratch.soft.reset(width, height);
        soft = &scratch.soft;
    }
    LdiDrawStats stats;
    {
        const platform::FpModeGuard modes(settings.useTrunc, settings.useSinglePrecision);
        stats = draw(render::withMargin(view, m), padded, soft);
    }
    if (soft != nullptr && soft->written) {
        render::resolveSoftSplats(*soft, padded.pixels);
    }
    const auto rowWords = static_cast<std::size_t>(width);
    inRowBands(frame.height, bands, [&](std::int32_t y0, std::int32_t y1) {
        for (std::int32_t y = y0; y < y1; ++y) {
            std::copy_n(
                padded.pixels + static_cast<std::size_t>(y + m) * rowWords + m,
                static_cast<std::size_t>(frame.width),
                frame.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width));
        }
    });
    return stats;
}

FrameScratch& threadScratch() {
    thread_local FrameScratch scratch;
    return scratch;
}

render::OutputView viewOf(const geometry::Matrix4& warpMatrix, const geometry::ViewCamera& camera) {
    render::OutputView view;
    view.camera = camera;
    view.viewMatrix = camera.viewMatrix();
    view.warpMatrix = warpMatrix;
    return view;
}

LdiDrawStats drawObject(LdiBase* ldi, const FrameSettings& settings, HandOver handOver,
                        const render::OutputView& view, imageutil::RgbImage& frame,
                        FrameScratch& scratch) {
    return DrawFrameWith(
        settings, view, frame, scratch,
        [ldi, &settings, handOver](const render::OutputView& shifted, imageutil::RgbImage& target,
                                   render::SoftSplatBuffer* soft) {
            if (ldi == nullptr) {
                return LdiDrawStats{};
            }
            if (handOver == HandOver::all) {
                ApplyFrameSettings(*ldi, settings);
            } else {
                ApplyFrameSwitches(*ldi, settings);
            }
            ldi->warp.soft = soft;
            FrameInspection inspection(*ldi, settings, target, render::kFrameMargin);
            const LdiDrawStats stats =
                ldi->DrawAll(shifted.warpMatrix, shifted.viewMatrix, shifted.camera, target);
            ldi->warp.soft = nullptr;
            inspection.finish(target);
            return stats;
        },
        ldi);
}

}  // namespace

LdiDrawStats DrawFrameObject(LdiBase* ldi, const FrameSettings& settings, HandOver handOver,
                             const geometry::Matrix4& warpMatrix,
                             const geometry::ViewCamera& camera, imageutil::RgbImage& frame) {
    return drawObject(ldi, settings, handOver, viewOf(warpMatrix, camera), frame, threadScratch());
}

void DrawFrameVoxels(VoxelModel* model, const FrameSettings& settings,
                     const geometry::Matrix4& warpMatrix, const geometry::ViewCamera& camera,
                     imageutil::RgbImage& frame) {
    DrawFrameWith(
        settings, viewOf(warpMatrix, camera), frame, threadScratch(),
        [model, &settings](const render::OutputView& shifted, imageutil::RgbImage& target,
                           render::SoftSplatBuffer* soft) {
            if (model != nullptr) {
                model->SetSoftTarget(soft);
                model->DrawVoxels(shifted.warpMatrix, shifted.viewMatrix, shifted.camera, target,
                                  settings.useSplat);
                model->SetSoftTarget(nullptr);
            }
            return LdiDrawStats{};
        },
        model);
}

LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame, FrameScratch& scratch) {
    return drawObject(&ldi, settings, HandOver::all, view, frame, scratch);
}

LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame) {
    return DrawFrame(ldi, settings, view, frame, threadScratch());
}

FrameInspection::FrameInspection(LdiBase& ldi, const FrameSettings& settings,
                                 const imageutil::RgbImage& target, std::int32_t margin)
    : ldi_(ldi),
      coverage_(settings.coverage),
      markUncovered_(settings.useFalseColor &&
                     settings.falseColorMode == render::kUncoveredFalseColorMode),
      margin_(margin) {
    const bool fits = !target.empty() && target.width > 2 * margin && target.height > 2 * margin;
    if (fits && (coverage_ != nullptr || markUncovered_)) {
        mask_.assign(
            static_cast<std::size_t>(target.width) * static_cast<std::size_t>(target.height),
            std::uint8_t{0});
    }
    ldi_.inspection.coverage = mask_.empty() ? nullptr : mask_.data();
    ldi_.inspection.onlyLayer = settings.onlyLayer;
}

FrameInspection::~FrameInspection() {
    ldi_.inspection = LdiInspection{};
}

void FrameInspection::finish(imageutil::RgbImage& target) {
    if (mask_.empty()) {
        return;
    }
    // The picture's part of the mask.
    const std::int32_t width = target.width - 2 * margin_;
    const std::int32_t height = target.height - 2 * margin_;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> picture(count);
    for (std::int32_t y = 0; y < height; ++y) {
        std::copy_n(mask_.data() + static_cast<std::size_t>(y + margin_) * target.width + margin_,
                    width, picture.data() + static_cast<std::size_t>(y) * width);
    }
    if (coverage_ != nullptr) {
        std::copy(picture.begin(), picture.end(), coverage_);
    }
    if (!markUncovered_) {
        return;
    }
    std::vector<std::uint8_t> holes;
    render::measureCoverage({picture.data(), count}, width, height, &holes);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            if (holes[static_cast<std::size_t>(y) * width + x] != 0) {
                target.pixels[static_cast<std::size_t>(y + margin_) * target.width + x + margin_] =
                    render::kUncoveredColour;
            }
        }
    }
}

}  // namespace strata::ldi
