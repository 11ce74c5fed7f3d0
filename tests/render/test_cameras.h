// Cameras for the renderer tests: a reference camera built the way LDIs store theirs (viewport
// with pixel edges on whole numbers, a perspective projection), and output views around it.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"

namespace strata::render::testing {

// Square view of full angle fov for a width x height grid (x: -1..1 -> 0..width).
inline geometry::ViewCamera referenceCamera(geometry::Vector3 pos, geometry::Vector3 dir,
                                            geometry::Vector3 up, float fov, std::int32_t width,
                                            std::int32_t height, float near = 1.0f,
                                            float far = 100.0f) {
    geometry::ViewCamera c;
    c.pos = pos;
    c.dir = dir;
    c.up = up;
    c.fov = fov;
    c.near = near;
    c.far = far;
    const float t = std::tan(fov * 0.5f) * near;
    c.projection = geometry::frustum(-t, t, -t, t, near, far);
    geometry::Matrix4 v;
    v(0, 0) = static_cast<float>(width) / 2.0f;
    v(0, 3) = static_cast<float>(width) / 2.0f;
    v(1, 1) = static_cast<float>(height) / 2.0f;
    v(1, 3) = static_cast<float>(height) / 2.0f;
    v(2, 2) = 1.0f;
    v(3, 3) = 1.0f;
    c.viewport = v;
    return c;
}

}  // namespace strata::render::testing
