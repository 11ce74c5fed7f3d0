#include "render/inspection.h"

#include <algorithm>

namespace strata::render {

std::string layerColourKey() {
    return "front red, 2nd green, 3rd blue, 4th yellow, 5th cyan, 6th orange, 7th purple, 8th and "
           "farther white";
}

CoverageMeasure measureCoverage(std::span<const std::uint8_t> mask, std::int32_t width,
                                std::int32_t height, std::vector<std::uint8_t>* holeMask) {
    CoverageMeasure m;
    const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
    if (holeMask != nullptr) {
        holeMask->assign(w * h, 0);
    }
    if (w == 0 || h == 0 || mask.size() < w * h) {
        return m;
    }
    // First and last reached pixel of every column (rows) and every row (columns).
    std::vector<std::int32_t> columnFirst(w, height);
    std::vector<std::int32_t> columnLast(w, -1);
    std::vector<std::int32_t> rowFirst(h, width);
    std::vector<std::int32_t> rowLast(h, -1);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            if (mask[y * w + x] != 0) {
                const auto row = static_cast<std::int32_t>(y);
                const auto column = static_cast<std::int32_t>(x);
                columnFirst[x] = std::min(columnFirst[x], row);
                columnLast[x] = std::max(columnLast[x], row);
                rowFirst[y] = std::min(rowFirst[y], column);
                rowLast[y] = std::max(rowLast[y], column);
            }
        }
    }
    // Extents over a band of rows (columns) either side, so that a whole row or column that no
    // sample reached (a crack between spread samples) still lies inside.
    const auto widen = [](std::vector<std::int32_t>& first, std::vector<std::int32_t>& last) {
        const std::vector<std::int32_t> f = first;
        const std::vector<std::int32_t> l = last;
        const auto n = static_cast<std::int32_t>(f.size());
        for (std::int32_t i = 0; i < n; ++i) {
            for (std::int32_t j = std::max(i - kCoverageBand, 0);
                 j <= std::min(i + kCoverageBand, n - 1); ++j) {
                first[static_cast<std::size_t>(i)] =
                    std::min(first[static_cast<std::size_t>(i)], f[static_cast<std::size_t>(j)]);
                last[static_cast<std::size_t>(i)] =
                    std::max(last[static_cast<std::size_t>(i)], l[static_cast<std::size_t>(j)]);
            }
        }
    };
    widen(rowFirst, rowLast);
    widen(columnFirst, columnLast);
    for (std::size_t y = 0; y < h; ++y) {
        const auto row = static_cast<std::int32_t>(y);
        for (std::size_t x = 0; x < w; ++x) {
            if (mask[y * w + x] != 0) {
                ++m.area;
                continue;
            }
            const auto column = static_cast<std::int32_t>(x);
            if (rowFirst[y] < column && column < rowLast[y] && columnFirst[x] < row &&
                row < columnLast[x]) {
                ++m.holes;
                ++m.area;
                if (holeMask != nullptr) {
                    (*holeMask)[y * w + x] = 1;
                }
            }
        }
    }
    return m;
}

}  // namespace strata::render
