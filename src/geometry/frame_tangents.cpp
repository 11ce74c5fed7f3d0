#include "geometry/frame_tangents.h"

#include <algorithm>
#include <cmath>

namespace strata::geometry {

FrameTangents frameTangents(float fov, std::int32_t width, std::int32_t height) {
    const float t = std::tan(0.5f * fov);
    if (width < 1 || height < 1 || width == height) {
        return {t, t};
    }
    // The smaller side keeps t; the larger one grows by the frame's aspect ratio.
    const float side = static_cast<float>(std::min(width, height));
    return {t * (static_cast<float>(width) / side), t * (static_cast<float>(height) / side)};
}

}  // namespace strata::geometry
