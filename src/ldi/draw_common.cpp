// The parts of drawing that every LDI kind shares: the set-up of the warp state before the
// kernels run, and the visible-rectangle narrowing of DrawVisible.
#include "ldi/draw_common.h"

#include <algorithm>
#include <cmath>

#include "imageutil/rgb_image.h"
#include "ldi/voxel_model.h"
#include "platform/fp_mode.h"

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
        // Only the columns and rows whose rays can reach the output view are traversed.
        const mesh::VisibleRect rect = visibleRect.update(outputCamera);
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
    ldi.settingsGiven = 1;
}

void ApplyFrameSwitches(LdiBase& ldi, const FrameSettings& settings) {
    LdiRenderOptions& o = ldi.options;
    o.backfaceCulling = settings.backfaceCulling ? 1 : 0;
    o.useFalseColor = settings.useFalseColor ? 1 : 0;
    o.falseColorMode = settings.falseColorMode;
    o.useSplat = settings.useSplat ? 1 : 0;
    o.lowerHalfOnly = settings.lowerHalfOnly ? 1 : 0;
    o.upperHalfOnly = settings.upperHalfOnly ? 1 : 0;
    ldi.settingsGiven = 1;
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
    // Elevation of the viewing direction from the up vector's height; rows below the horizon
    // line (7 rows under the angle's own row) are ground.
    const float u = std::clamp(camera.up.y, -1.0f, 1.0f);
    const float a = std::atan2(u, std::sqrt((1.0f + u) * (1.0f - u)));
    const float f = 0.5f * camera.fov;
    float h = f > 0.0f ? static_cast<float>(frame.height) * 0.5f * (f - a) / f : 0.0f;
    if (!std::isfinite(h)) {
        h = 0.0f;
    }
    h = std::clamp(h, -2.0f * static_cast<float>(frame.height),
                   2.0f * static_cast<float>(frame.height));
    const std::int32_t n = frame.height - static_cast<std::int32_t>(h) - 7;
    frame.fillSplit(n, settings.groundColor, settings.background);
}

LdiDrawStats DrawFrameObject(LdiBase* ldi, const FrameSettings& settings, HandOver handOver,
                             const geometry::Matrix4& warpMatrix,
                             const geometry::ViewCamera& camera, imageutil::RgbImage& frame) {
    FillBackground(frame, settings, camera);
    if (ldi == nullptr || frame.empty()) {
        return LdiDrawStats{};
    }
    if (handOver == HandOver::all) {
        ApplyFrameSettings(*ldi, settings);
    } else {
        ApplyFrameSwitches(*ldi, settings);
    }
    return ldi->DrawAll(warpMatrix, camera.viewMatrix(), camera, frame);
}

void DrawFrameVoxels(VoxelModel* model, const FrameSettings& settings,
                     const geometry::Matrix4& warpMatrix, const geometry::ViewCamera& camera,
                     imageutil::RgbImage& frame) {
    FillBackground(frame, settings, camera);
    if (model != nullptr && !frame.empty()) {
        model->DrawVoxels(warpMatrix, camera.viewMatrix(), camera, frame, settings.useSplat);
    }
}

LdiDrawStats DrawFrame(LdiBase& ldi, const FrameSettings& settings, const render::OutputView& view,
                       imageutil::RgbImage& frame) {
    const platform::FpModeGuard modes(settings.useTrunc, settings.useSinglePrecision);
    return DrawFrameObject(&ldi, settings, HandOver::all, view.warpMatrix, view.camera, frame);
}

}  // namespace strata::ldi
