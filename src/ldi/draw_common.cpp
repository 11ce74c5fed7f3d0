// The parts of drawing that every LDI kind shares: the set-up of the warp state before the
// kernels run, and the visible-rectangle narrowing of DrawVisible.
#include "ldi/draw_common.h"

#include <algorithm>
#include <cmath>

#include "imageutil/rgb_image.h"
#include "ldi/voxel_model.h"
#include "platform/fp_mode.h"
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

std::int32_t HorizonGroundRows(std::int32_t height, const geometry::ViewCamera& camera) {
    // Elevation of the viewing direction from the up vector's height; rows below the horizon
    // line (7 rows under the angle's own row) are ground.
    const float u = std::clamp(camera.up.y, -1.0f, 1.0f);
    const float a = std::atan2(u, std::sqrt((1.0f + u) * (1.0f - u)));
    const float f = 0.5f * camera.fov;
    float h = f > 0.0f ? static_cast<float>(height) * 0.5f * (f - a) / f : 0.0f;
    if (!std::isfinite(h)) {
        h = 0.0f;
    }
    h = std::clamp(h, -2.0f * static_cast<float>(height), 2.0f * static_cast<float>(height));
    return height - static_cast<std::int32_t>(h) - 7;
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
    frame.fillSplit(HorizonGroundRows(frame.height, camera), settings.groundColor,
                    settings.background);
}

LdiDrawStats DrawFrameWith(const FrameSettings& settings, const render::OutputView& view,
                           imageutil::RgbImage& frame, FrameScratch& scratch,
                           const ObjectDraw& draw) {
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) {
        return LdiDrawStats{};
    }
    const std::int32_t m = render::kFrameMargin;
    const std::int32_t width = frame.width + 2 * m;
    const std::int32_t height = frame.height + 2 * m;
    imageutil::RgbImage& padded = scratch.padded;
    if ((padded.width != width || padded.height != height || padded.pixels == nullptr) &&
        !padded.resize(width, height)) {
        return LdiDrawStats{};
    }
    // Background, with the ground rows (counted from the picture's bottom) below the sky.
    std::int32_t groundEnd = 0;
    if (settings.horizonBackground) {
        const std::int32_t rows = HorizonGroundRows(frame.height, view.camera);
        groundEnd = rows <= 0 ? 0 : std::min(rows + m, height);
        if (rows >= frame.height) {
            groundEnd = height;
        }
    }
    const auto rowWords = static_cast<std::size_t>(width);
    std::fill_n(padded.pixels, static_cast<std::size_t>(groundEnd) * rowWords,
                settings.groundColor);
    std::fill_n(padded.pixels + static_cast<std::size_t>(groundEnd) * rowWords,
                static_cast<std::size_t>(height - groundEnd) * rowWords, settings.background);

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
    for (std::int32_t y = 0; y < frame.height; ++y) {
        std::copy_n(
            padded.pixels + static_cast<std::size_t>(y + m) * rowWords + m,
            static_cast<std::size_t>(frame.width),
            frame.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width));
    }
    return stats;
}

namespace {

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
        });
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
    DrawFrameWith(settings, viewOf(warpMatrix, camera), frame, threadScratch(),
                  [model, &settings](const render::OutputView& shifted, imageutil::RgbImage& target,
                                     render::SoftSplatBuffer* soft) {
                      if (model != nullptr) {
                          model->SetSoftTarget(soft);
                          model->DrawVoxels(shifted.warpMatrix, shifted.viewMatrix, shifted.camera,
                                            target, settings.useSplat);
                          model->SetSoftTarget(nullptr);
                      }
                      return LdiDrawStats{};
                  });
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
