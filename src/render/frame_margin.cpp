#include "render/frame_margin.h"

#include <algorithm>
#include <cmath>

#include "geometry/frame_tangents.h"

namespace strata::render {

OutputWindow outputWindow(const geometry::ViewCamera& camera, std::int32_t bufferWidth,
                          std::int32_t bufferHeight) {
    const OutputWindow whole{0, 0, bufferWidth, bufferHeight};
    const geometry::Matrix4& v = camera.viewport;
    // viewport(x0, x1, y0, y1) scales by w / 2 and moves by (w - 1) / 2 (plus any shift).
    const float w = 2.0f * v(0, 0);
    const float h = 2.0f * v(1, 1);
    if (!(w >= 1.0f && h >= 1.0f && w <= static_cast<float>(bufferWidth) &&
          h <= static_cast<float>(bufferHeight))) {
        return whole;
    }
    const float x0 = v(0, 3) - (w - 1.0f) * 0.5f;
    const float y0 = v(1, 3) - (h - 1.0f) * 0.5f;
    const float rx = std::nearbyint(x0);
    const float ry = std::nearbyint(y0);
    const float rw = std::nearbyint(w);
    const float rh = std::nearbyint(h);
    if (std::fabs(x0 - rx) > 1e-3f || std::fabs(y0 - ry) > 1e-3f || std::fabs(w - rw) > 1e-3f ||
        std::fabs(h - rh) > 1e-3f || rx < 0.0f || ry < 0.0f ||
        rx + rw > static_cast<float>(bufferWidth) || ry + rh > static_cast<float>(bufferHeight)) {
        return whole;
    }
    return {static_cast<std::int32_t>(rx), static_cast<std::int32_t>(ry),
            static_cast<std::int32_t>(rw), static_cast<std::int32_t>(rh)};
}

geometry::ViewCamera wholeBufferCamera(const geometry::ViewCamera& camera, std::int32_t bufferWidth,
                                       std::int32_t bufferHeight) {
    geometry::ViewCamera wide = camera;
    const OutputWindow window = outputWindow(camera, bufferWidth, bufferHeight);
    if (window.width < bufferWidth || window.height < bufferHeight ||
        window.width != window.height) {
        // The view volume is square: its half-angle tangent is the larger of the two axes',
        // each grown to reach the buffer's farther edge on that axis.
        const geometry::FrameTangents t =
            geometry::frameTangents(camera.fov, window.width, window.height);
        const float cx = static_cast<float>(window.x0) + 0.5f * static_cast<float>(window.width);
        const float cy = static_cast<float>(window.y0) + 0.5f * static_cast<float>(window.height);
        const float reach = std::max(
            t.x * (std::max(cx, static_cast<float>(bufferWidth) - cx) / (cx - window.x0)),
            t.y * (std::max(cy, static_cast<float>(bufferHeight) - cy) / (cy - window.y0)));
        wide.fov = 2.0f * std::atan(reach);
    }
    return wide;
}

OutputView withMargin(const OutputView& view, std::int32_t margin) {
    OutputView shifted = view;
    const float m = static_cast<float>(margin);
    const geometry::Matrix4 shift = geometry::translation(m, m, 0.0f);
    shifted.camera.viewport = geometry::product(shift, view.camera.viewport);
    shifted.warpMatrix = geometry::product(shift, view.warpMatrix);
    return shifted;
}

}  // namespace strata::render
