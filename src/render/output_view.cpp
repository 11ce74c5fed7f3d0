#include "render/output_view.h"

#include "geometry/frame_tangents.h"

namespace strata::render {

geometry::Matrix4 warpProjection(float fov, std::int32_t width, std::int32_t height) {
    const geometry::FrameTangents t = geometry::frameTangents(fov, width, height);
    return geometry::frustum(-t.x, t.x, -t.y, t.y, 1.0f, -1.0f);
}

OutputView makeOutputView(const geometry::Vector3& pos, const geometry::Vector3& dir,
                          const geometry::Vector3& up, float fov, std::int32_t width,
                          std::int32_t height) {
    OutputView view;
    view.camera.pos = pos;
    view.camera.dir = dir;
    view.camera.up = up;
    view.camera.near = kDefaultNear;
    view.camera.far = kDefaultFar;
    view.camera.fov = fov;
    view.camera.viewport = geometry::viewport(0, width, 0, height);
    view.camera.projection = warpProjection(fov, width, height);
    view.viewMatrix = view.camera.viewMatrix();
    view.warpMatrix = geometry::product(
        geometry::product(view.camera.viewport, view.camera.projection), view.viewMatrix);
    return view;
}

}  // namespace strata::render
