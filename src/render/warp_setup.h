// The warp from an LDI's reference image into an output view, and its epipole: where the output
// eye projects into the reference image. Traversing the LDI toward the epipole (eye in front) or
// away from it (eye behind) draws nearer samples after the farther ones they hide, so no depth
// test is needed.
#pragma once

#include <cstdint>

#include "geometry/matrix.h"

namespace strata::render {

struct WarpSetup {
    geometry::Matrix4 transform = geometry::Matrix4::identity();  // outputFromLdi: T = V R^-1
    geometry::Vector4 zColumn;  // T (0, 0, 1, 0): the step of a sample per unit of depth
    std::int32_t epipoleX = 0;  // clamped epipole column and row
    std::int32_t epipoleY = 0;
    std::int32_t behind = 0;  // 1 when the output eye lies behind the reference camera
    bool valid = false;       // false when the epipole is not finite: nothing can be drawn
};

// ldiFromWorld: the reference camera's full transform R (world to LDI pixel coordinates with the
// normalised depth as third coordinate); outputFromWorld: the frame's warp matrix V. The ranges
// are half-open: columns [x0, x1), rows [y0, y1).
//
// The epipole is clamped in floating point before it becomes an integer, so a far-away or huge
// epipole never overflows: eye in front, to [x0, x1] and [y0, y1]; eye behind, to [x0 - 1,
// x1 - 1] and [y0 - 1, y1 - 1]. Inside those bounds it is truncated toward zero. A non-finite
// epipole (a broken matrix) leaves valid false.
WarpSetup computeWarpSetup(const geometry::Matrix4& ldiFromWorld,
                           const geometry::Matrix4& outputFromWorld, std::int32_t x0,
                           std::int32_t x1, std::int32_t y0, std::int32_t y1);

// Clamps one epipole coordinate as above. Exposed for tests.
// Returns false for a non-finite value.
bool clampEpipole(float value, bool behind, std::int32_t lo, std::int32_t hi, std::int32_t& out);

}  // namespace strata::render
