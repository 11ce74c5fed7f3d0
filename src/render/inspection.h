// Inspection of what a view shows and misses: the two false-colour modes beyond the seven of the
// menus (colour by layer, uncovered pixels marked), the layer colours, and the measure of the
// pixels a frame's coverage mask leaves unreached inside the picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace strata::render {

// Every sample coloured by its layer counted from the front (layerColour).
inline constexpr std::int32_t kLayerFalseColorMode = 8;
// True colours, with the uncovered pixels inside the picture (coverageHoles) in kUncoveredColour.
inline constexpr std::int32_t kUncoveredFalseColorMode = 9;
inline constexpr std::int32_t kLastFalseColorMode = 9;

inline constexpr std::uint32_t kUncoveredColour = 0xFF00FFu;  // magenta

// Layer colours from the front: red, green, blue, yellow, cyan, orange, purple; the eighth
// layer and every farther one white.
inline constexpr std::array<std::uint32_t, 8> kLayerColours = {
    0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x00FFFFu, 0xFF8000u, 0x8000FFu, 0xFFFFFFu};

inline std::uint32_t layerColour(std::int32_t fromFront) {
    return kLayerColours[static_cast<std::size_t>(fromFront < 0 ? 0
                                                                : (fromFront < 7 ? fromFront : 7))];
}

// Marks the (2 radius + 1) square of a footprint centred on `at` in a coverage mask of row
// length stride.
inline void markCoverage(std::uint8_t* at, std::int32_t stride, int radius) {
    for (int dy = -radius; dy <= radius; ++dy) {
        std::uint8_t* row = at + static_cast<std::intptr_t>(dy) * stride;
        for (int dx = -radius; dx <= radius; ++dx) {
            row[dx] = 1;
        }
    }
}

// "front red, 2nd green, ..., 8th and farther white": the key of kLayerFalseColorMode.
std::string layerColourKey();

// The pixels of a width x height coverage mask (non-zero = a sample reached the pixel) that are
// uncovered holes in the picture: unreached, yet with a reached pixel somewhere to their left
// and to their right (in their row or the kCoverageBand rows either side) and somewhere above
// and below (in their column or the kCoverageBand columns either side). Unreached pixels outside
// that (the frame around the scene) are background. `area` counts the picture: reached pixels
// plus holes.
inline constexpr std::int32_t kCoverageBand = 3;  // the radius of the largest footprint

struct CoverageMeasure {
    std::int64_t holes = 0;
    std::int64_t area = 0;

    // holes / area; 0 for an empty picture.
    double share() const {
        return area > 0 ? static_cast<double>(holes) / static_cast<double>(area) : 0.0;
    }
};

// Measures the mask; when holeMask is not null it receives width x height bytes, 1 on holes.
// The mask must hold width x height bytes.
CoverageMeasure measureCoverage(std::span<const std::uint8_t> mask, std::int32_t width,
                                std::int32_t height, std::vector<std::uint8_t>* holeMask = nullptr);

}  // namespace strata::render
