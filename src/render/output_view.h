// The output camera of a frame, built the way the viewer builds it: a viewport over the frame,
// a square warp projection whose third output coordinate after the divide is -1/distance, and
// the warp matrix viewport x warp projection x view matrix that every draw receives.
#pragma once

#include <cstdint>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"

namespace strata::render {

inline constexpr float kDefaultFov = 0.7853982f;  // pi / 4
inline constexpr float kDefaultNear = 0.1f;
inline constexpr float kDefaultFar = 10000.0f;

struct OutputView {
    geometry::ViewCamera camera;  // viewport and warp projection inside, near 0.1, far 10000
    geometry::Matrix4 viewMatrix;
    geometry::Matrix4 warpMatrix;  // world to output clip space
};

// Camera at pos looking along dir (unit) with up (unit, perpendicular to dir), full view angle
// fov (radians, 0 < fov < pi), for a width x height frame.
OutputView makeOutputView(const geometry::Vector3& pos, const geometry::Vector3& dir,
                          const geometry::Vector3& up, float fov, std::int32_t width,
                          std::int32_t height);

// The warp projection frustum(-t, t, -t, t, 1, -1) with t = tan(fov / 2).
geometry::Matrix4 warpProjection(float fov);

}  // namespace strata::render
