// The trackball: turns mouse drags into two accumulated angles (pitch about x from vertical
// motion, yaw about y from horizontal motion) and rebuilds the orientation quaternion from them
// on every turn, so it never drifts from unit length. A plain record, copied by value.
#pragma once

#include <cstdint>

#include "geometry/quaternion.h"

namespace strata::app {

struct Trackball {
    geometry::Quaternion orientation;  // (0, 0, 0, 1)
    float pitch = 0.0f;
    float yaw = 0.0f;
    float reserved = 0.0f;
    float radius = 0.0f;
    std::int32_t height = 0;
    std::int32_t width = 0;
    float pitchLimit = 20.0f;
    float yawLimit = 20.0f;
    float gain = 1.0f;

    void setSize(std::int32_t w, std::int32_t h, float r) {
        width = w;
        height = h;
        radius = r;
    }
    void setGain(float g) { gain = g; }
    // Maps both points into the trackball plane (scale / min(width, height) per pixel, about the
    // window centre) and turns by their difference. Ignored while the window has no area.
    void drag(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, float scale);
    // pitch -= a * gain, yaw += b * gain, each limited to its limit; orientation = yaw about y
    // times pitch about x. A non-finite result leaves the trackball unchanged.
    void turn(float a, float b);
};

}  // namespace strata::app
