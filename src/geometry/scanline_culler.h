// Scanline culling: one test per LDI row. The row's depth range, pushed through the warp
// transform at its two end columns, bounds where its samples can land; rows that land wholly off
// the output image are skipped.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/matrix.h"

namespace strata::geometry {

struct ScanlineCuller {
    std::int32_t x0 = 0;  // LDI column range of the traversal
    std::int32_t x1 = 0;
    std::int32_t xres = 0;  // output image size
    std::int32_t yres = 0;
    std::int32_t rows = 0;
    Matrix4 transform = Matrix4::identity();  // LDI pixel space to output pixel space
    std::vector<float> zMin;                  // per-row normalised depth range
    std::vector<float> zMax;
    std::int32_t rejected = 0;

    // Sizes the per-row ranges; a row starts empty (zMin 1, zMax -1).
    void allocate(std::int32_t rowCount);
    void setRow(std::int32_t row, float minDepth, float maxDepth);
    void setTransform(const Matrix4& warp, std::int32_t width, std::int32_t height,
                      std::int32_t firstColumn, std::int32_t endColumn);
    void resetCount() { rejected = 0; }
    // True (and counted) when the row's samples all land off the output image. Rows without
    // ranges, rows with a corner at or behind the output eye (w <= 0) and rows whose corners do
    // not project to finite positions are never culled.
    bool rowCulled(std::int32_t row);
};

}  // namespace strata::geometry
