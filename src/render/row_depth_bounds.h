// Per-row depth bounds for the scanline culler: the smallest and largest normalised depth of the
// samples of every LDI row. A row without samples keeps [1, -1].
#pragma once

#include <cstdint>

#include "geometry/scanline_culler.h"

namespace strata::render {

// depthRange(row, column, min, max) -> bool reports the depth range of one pixel's layers (false
// when the pixel is empty). Sizes the culler to `rows` rows.
template <class DepthRangeFn>
void buildRowDepthBounds(geometry::ScanlineCuller& culler, std::int32_t rows, std::int32_t columns,
                         DepthRangeFn&& depthRange) {
    culler.allocate(rows);
    for (std::int32_t r = 0; r < rows; ++r) {
        float lo = 1.0f;
        float hi = -1.0f;
        for (std::int32_t c = 0; c < columns; ++c) {
            float pixelMin = 1.0f;
            float pixelMax = -1.0f;
            if (depthRange(r, c, pixelMin, pixelMax)) {
                if (!(pixelMin >= lo)) {
                    lo = pixelMin;
                }
                if (pixelMax > hi) {
                    hi = pixelMax;
                }
            }
        }
        culler.setRow(r, lo, hi);
    }
}

}  // namespace strata::render
