#include "geometry/scanline_culler.h"

#include <algorithm>
#include <cmath>

namespace strata::geometry {

void ScanlineCuller::allocate(std::int32_t rowCount) {
    rows = std::max(rowCount, 0);
    zMin.assign(static_cast<std::size_t>(rows), 1.0f);
    zMax.assign(static_cast<std::size_t>(rows), -1.0f);
}

void ScanlineCuller::setRow(std::int32_t row, float minDepth, float maxDepth) {
    if (row < 0 || row >= rows) {
        return;
    }
    zMin[static_cast<std::size_t>(row)] = minDepth;
    zMax[static_cast<std::size_t>(row)] = maxDepth;
}

void ScanlineCuller::setTransform(const Matrix4& warp, std::int32_t width, std::int32_t height,
                                  std::int32_t firstColumn, std::int32_t endColumn) {
    transform = warp;
    xres = width;
    yres = height;
    x0 = firstColumn;
    x1 = endColumn;
}

bool ScanlineCuller::rowCulled(std::int32_t row) {
    if (row < 0 || row >= rows) {
        return false;
    }
    const float y = static_cast<float>(row);
    const float lo = zMin[static_cast<std::size_t>(row)];
    const float hi = zMax[static_cast<std::size_t>(row)];
    const Vector4 corners[4] = {{static_cast<float>(x0), y, lo, 1.0f},
                                {static_cast<float>(x0), y, hi, 1.0f},
                                {static_cast<float>(x1), y, lo, 1.0f},
                                {static_cast<float>(x1), y, hi, 1.0f}};
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const Vector4 p = geometry::transform(transform, corners[i]);
        // A corner at or behind the eye is mirrored by the divide: keep the row.
        if (!(p.w > 0.0f)) {
            return false;
        }
        const float px = p.x / p.w;
        const float py = p.y / p.w;
        if (!std::isfinite(px) || !std::isfinite(py)) {
            return false;  // no bound to test against
        }
        if (i == 0) {
            minX = maxX = px;
            minY = maxY = py;
        } else {
            minX = std::min(minX, px);
            maxX = std::max(maxX, px);
            minY = std::min(minY, py);
            maxY = std::max(maxY, py);
        }
    }
    if (maxX >= 0.0f && maxY >= 0.0f && minX <= static_cast<float>(xres) &&
        minY <= static_cast<float>(yres)) {
        return false;
    }
    ++rejected;
    return true;
}

}  // namespace strata::geometry
