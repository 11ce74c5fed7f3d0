// Depth correction: a splat drawn near the edge of a wide view lies farther from the eye than its
// window depth says, so its size is divided by sqrt(k (dx^2 + dy^2) + 1), the ratio of the ray
// length to the window distance. One quadrant of the output image holds every factor, counted
// outward from the image centre; the kernels look it up with |X - W/2| and |Y - H/2|.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strata::render {

struct DepthCorrectionTable {
    std::int32_t width = 0;  // output image the table was built for
    std::int32_t height = 0;
    float sx = 0.0f;  // window step per output pixel, horizontal and vertical
    float sy = 0.0f;
    float k = 0.0f;
    std::int32_t rowLength = 0;  // width - (width >> 1): entries per quadrant row
    std::int32_t rowCount = 0;   // height - (height >> 1)
    std::vector<float> entries;  // rowCount x rowLength

    // Builds the table for a width x height image, or keeps it when it was built for exactly
    // these values. Sizes below 1 give an empty table. Entry (i, j) = sqrt(k((j + 0.5) sx)^2 +
    // k((i + 0.5) sy)^2 + 1).
    void update(std::int32_t imageWidth, std::int32_t imageHeight, float stepX, float stepY,
                float kFactor);

    // Index of output pixel (X, Y). Precondition: 0 <= X < width, 0 <= Y < height.
    std::size_t indexOf(std::int32_t x, std::int32_t y) const {
        const std::int32_t dx = x - (width >> 1);
        const std::int32_t dy = y - (height >> 1);
        return static_cast<std::size_t>(dy < 0 ? -dy : dy) * static_cast<std::size_t>(rowLength) +
               static_cast<std::size_t>(dx < 0 ? -dx : dx);
    }
    // True when (X, Y) has an entry (pixel column 0 of an even width has none).
    bool covers(std::int32_t x, std::int32_t y) const;
};

// The per-draw parameters of the table: sx = sy = near x (one pixel's tangent), the tangent
// per pixel being that of frameTangents (fov spans the smaller side, pixels are square), and
// k = near (1 / near).
struct DepthCorrectionParameters {
    float sx = 0.0f;
    float sy = 0.0f;
    float k = 0.0f;
};
DepthCorrectionParameters depthCorrectionParameters(float near, float fov, std::int32_t width,
                                                    std::int32_t height);

}  // namespace strata::render
