#include "render/warp_setup.h"

#include <algorithm>
#include <cmath>

namespace strata::render {

bool clampEpipole(float value, bool behind, std::int32_t lo, std::int32_t hi, std::int32_t& out) {
    if (!std::isfinite(value)) {
        return false;
    }
    // Limit in floating point first so the conversion below is always defined.
    const float limited =
        std::clamp(value, static_cast<float>(lo) - 1.0f, static_cast<float>(hi) + 1.0f);
    const auto e = static_cast<std::int32_t>(limited);  // toward zero
    if (!behind) {
        out = e < lo ? lo : (e >= hi ? hi : e);
    } else {
        out = e < lo ? lo - 1 : (e >= hi ? hi - 1 : e);
    }
    return true;
}

WarpSetup computeWarpSetup(const geometry::Matrix4& ldiFromWorld,
                           const geometry::Matrix4& outputFromWorld, std::int32_t x0,
                           std::int32_t x1, std::int32_t y0, std::int32_t y1) {
    WarpSetup s;
    s.transform = geometry::product(outputFromWorld, geometry::inverse(ldiFromWorld));
    s.zColumn = geometry::transform(s.transform, {0.0f, 0.0f, 1.0f, 0.0f});

    // The output eye is (0, 0, -1, 0) in the output clip space of the warp projection.
    const geometry::Matrix4 ldiFromOutput = geometry::inverse(s.transform);
    const geometry::Vector4 eye = geometry::transform(ldiFromOutput, {0.0f, 0.0f, -1.0f, 0.0f});
    float w = eye.w;
    // Keep w away from 0; an eye in the reference image plane lands far outside the image.
    w = w >= 0.0f ? std::max(w, 0.001f) : std::min(w, -0.001f);
    const float inv = 1.0f / w;
    const float ex = eye.x * inv;
    const float ey = eye.y * inv;
    s.behind = inv >= 0.0f ? 0 : 1;
    s.valid = clampEpipole(ex, s.behind != 0, x0, x1, s.epipoleX) &&
              clampEpipole(ey, s.behind != 0, y0, y1, s.epipoleY);
    return s;
}

}  // namespace strata::render
