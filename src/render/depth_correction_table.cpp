#include "render/depth_correction_table.h"

#include <cmath>

#include "geometry/frame_tangents.h"

namespace strata::render {

void DepthCorrectionTable::update(std::int32_t imageWidth, std::int32_t imageHeight, float stepX,
                                  float stepY, float kFactor) {
    if (imageWidth == width && imageHeight == height && stepX == sx && stepY == sy &&
        kFactor == k && !entries.empty()) {
        return;
    }
    width = imageWidth > 0 ? imageWidth : 0;
    height = imageHeight > 0 ? imageHeight : 0;
    sx = stepX;
    sy = stepY;
    k = kFactor;
    // Odd sizes need the larger half: rows a .. H-1 and columns b .. W-1 are covered.
    rowLength = width - (width >> 1);
    rowCount = height - (height >> 1);
    entries.assign(static_cast<std::size_t>(rowLength) * static_cast<std::size_t>(rowCount), 0.0f);
    for (std::int32_t i = 0; i < rowCount; ++i) {
        const float dy = (static_cast<float>(i) + 0.5f) * sy;
        for (std::int32_t j = 0; j < rowLength; ++j) {
            const float dx = (static_cast<float>(j) + 0.5f) * sx;
            entries[static_cast<std::size_t>(i) * static_cast<std::size_t>(rowLength) +
                    static_cast<std::size_t>(j)] = std::sqrt(k * (dx * dx + dy * dy) + 1.0f);
        }
    }
}

bool DepthCorrectionTable::covers(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return false;
    }
    const std::int32_t dx = x - (width >> 1);
    const std::int32_t dy = y - (height >> 1);
    return (dx < 0 ? -dx : dx) < rowLength && (dy < 0 ? -dy : dy) < rowCount;
}

DepthCorrectionParameters depthCorrectionParameters(float near, float fov, std::int32_t width,
                                                    std::int32_t height) {
    const geometry::FrameTangents t = geometry::frameTangents(fov, width, height);
    DepthCorrectionParameters p;
    p.sx = near * t.x / (static_cast<float>(width) / 2.0f);
    p.sy = near * t.y / (static_cast<float>(height) / 2.0f);
    p.k = near * (1.0f / near);
    return p;
}

}  // namespace strata::render
