#include "render/warp_state.h"

#include <algorithm>
#include <cmath>

#include "geometry/frame_tangents.h"

namespace strata::render {
namespace {

geometry::ImagePlaneFrame pixelFrame(const geometry::ViewCamera& camera, float tanX, float tanY,
                                     std::int32_t width, std::int32_t height) {
    geometry::ImagePlaneFrame frame;
    const geometry::Vector3 bi = geometry::normalized(geometry::cross(camera.dir, camera.up));
    frame.build(camera.pos, camera.dir, camera.up, bi, 1.0f, tanX, tanY, width, height);
    frame.centreOnPixels();
    return frame;
}

}  // namespace

bool beginDraw(WarpState& state, const DrawSetupInput& input) {
    state.facing = 0.0f;
    state.outputCamera = input.outputCamera;
    state.bufferWidth = input.outWidth;
    state.bufferHeight = input.outHeight;
    state.window = outputWindow(input.outputCamera, input.outWidth, input.outHeight);
    const std::int32_t outWidth = state.window.width;
    const std::int32_t outHeight = state.window.height;
    state.outWidth = outWidth;
    state.outHeight = outHeight;
    state.halfWidth = static_cast<float>(outWidth) * 0.5f;
    state.halfHeight = static_cast<float>(outHeight) * 0.5f;

    TraversalRange& range = state.range;
    range.width = input.ldiWidth;
    range.height = input.ldiHeight;
    range.x0 = std::clamp(input.x0, 0, std::max(input.ldiWidth, 0));
    range.x1 = std::clamp(input.x1, 0, std::max(input.ldiWidth, 0));
    range.y0 = std::clamp(input.y0, 0, std::max(input.ldiHeight, 0));
    range.y1 = std::clamp(input.y1, 0, std::max(input.ldiHeight, 0));

    state.tanLdi = std::tan(0.5f * input.ldiView.fov);
    // The output angle spans the picture's smaller side; tanOut is the horizontal half-angle's
    // tangent, so 2 tanOut / outWidth is one (square) output pixel on either axis.
    const geometry::FrameTangents outTangents =
        geometry::frameTangents(input.outputCamera.fov, outWidth, outHeight);
    state.tanOut = outTangents.x;
    state.splatScale = static_cast<float>(outWidth) *
                       (state.tanLdi / state.tanOut / static_cast<float>(input.ldiWidth));
    state.correction = depthCorrectionParameters(input.outputCamera.near, input.outputCamera.fov,
                                                 outWidth, outHeight);
    // A footprint of up to 7 x 7 must fit between the guard bands.
    if (range.x0 >= range.x1 || range.y0 >= range.y1 || input.outWidth < 7 || input.outHeight < 7) {
        state.setup.valid = false;
        return false;
    }
    state.depthCorrection.update(outWidth, outHeight, state.correction.sx, state.correction.sy,
                                 state.correction.k);

    state.setup = computeWarpSetup(input.ldiView.fullTransform(), input.warpMatrix, range.x0,
                                   range.x1, range.y0, range.y1);
    if (!state.setup.valid) {
        return false;
    }
    if (input.buildSplatTable) {
        state.splatSize.build(state.splatScale, input.outputCamera.dir, input.ldiView.dir,
                              input.bounds, input.binCount);
    }
    // Stored LDIs span their angle on both axes, whatever their shape.
    state.refFrame =
        pixelFrame(input.ldiView, state.tanLdi, state.tanLdi, input.ldiWidth, input.ldiHeight);
    state.outFrame =
        pixelFrame(input.outputCamera, outTangents.x, outTangents.y, outWidth, outHeight);
    // Buffer pixel (x0, y0) is the picture's pixel (0, 0).
    geometry::ImagePlaneFrame& out = state.outFrame;
    const float wx = static_cast<float>(state.window.x0);
    const float wy = static_cast<float>(state.window.y0);
    out.cornerRay = out.cornerRay - wx * out.delBi - wy * out.delUp;
    out.origin = out.origin - wx * out.delBi - wy * out.delUp;
    return true;
}

}  // namespace strata::render
