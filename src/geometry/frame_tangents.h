// How an output camera's view angle maps onto a frame of any shape. The angle `fov` spans the
// smaller side of the frame and pixels are square: a wide frame sees more to the sides and a
// tall one more above and below than the square frame of the same angle, which sees exactly
// `fov` on both axes.
#pragma once

#include <cstdint>

namespace strata::geometry {

struct FrameTangents {
    float x = 0.0f;  // tan of half the horizontal view angle
    float y = 0.0f;  // tan of half the vertical view angle
};

// The half-angle tangents of a width x height frame seen with full view angle fov (radians)
// across its smaller side; one pixel spans 2 x / width = 2 y / height on either axis. A square
// frame (or one with a side below 1) gives tan(fov / 2) on both axes.
FrameTangents frameTangents(float fov, std::int32_t width, std::int32_t height);

}  // namespace strata::geometry
