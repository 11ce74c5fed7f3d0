// The output camera of a frame, built the way the viewer builds it: a viewport over the frame,
// a warp projection with square pixels whose third output coordinate after the divide is
// -1/distance, and the warp matrix viewport x warp projection x view matrix that every draw
// receives.
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
// fov (radians, 0 < fov < pi) across the smaller side of a width x height frame.
OutputView makeOutputView(const geometry::Vector3& pos, const geometry::Vector3& dir,
                          const geometry::Vector3& up, float fov, std::int32_t width,
                          std::int32_t height);

// The warp projection frustum(-tx, tx, -ty, ty, 1, -1) of a width x height frame, with the
// half-angle tangents of frameTangents (fov spans the frame's smaller side, pixels are square).
geometry::Matrix4 warpProjection(float fov, std::int32_t width, std::int32_t height);

}  // namespace strata::render
