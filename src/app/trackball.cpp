#include "app/trackball.h"

#include <algorithm>
#include <cmath>

namespace strata::app {

void Trackball::drag(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
                     float scale) {
    const std::int32_t m = std::min(width, height);
    if (m <= 0) {
        return;
    }
    const float k = (1.0f / static_cast<float>(m)) * scale * 0.5f;
    const auto mapX = [&](std::int32_t x) { return static_cast<float>(2 * x - width) * k; };
    const auto mapY = [&](std::int32_t y) { return static_cast<float>(2 * y - height) * k; };
    const float dx = mapX(x1) - mapX(x0);
    const float dy = mapY(y1) - mapY(y0);
    turn(dy, dx);
}

void Trackball::turn(float a, float b) {
    const float newPitch = std::clamp(pitch - a * gain, -pitchLimit, pitchLimit);
    const float newYaw = std::clamp(yaw + b * gain, -yawLimit, yawLimit);
    if (!std::isfinite(newPitch) || !std::isfinite(newYaw)) {
        return;
    }
    pitch = newPitch;
    yaw = newYaw;
    const double halfYaw = 0.5 * static_cast<double>(yaw);
    const double halfPitch = 0.5 * static_cast<double>(pitch);
    const geometry::Quaternion aboutY{0.0, std::sin(halfYaw), 0.0, std::cos(halfYaw)};
    const geometry::Quaternion aboutX{std::sin(halfPitch), 0.0, 0.0, std::cos(halfPitch)};
    orientation = geometry::product(aboutY, aboutX);
}

}  // namespace strata::app
