// Splat sizes by (normal, size class): the footprint of class j, the mean of its two bounds,
// scaled by the output/reference pixel ratio S and by the square root of how much more the
// surface faces the output camera than the reference camera. Built once per draw so the kernels
// pay one lookup per sample instead of a square root.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>

#include "geometry/vector.h"

namespace strata::render {

inline constexpr int kSplatTableSize = 4096;  // indexed by the top 12 bits of a depth word
inline constexpr int kMaxSizeClasses = 32;

struct SplatSizeTable {
    // Zero-filled: entries never built (classes past the count, and every index with bit 31 of
    // the depth word set) give size 0, one pixel.
    std::array<float, kSplatTableSize> entries{};

    // Fills entries (n << 5) | j for every normal n and every class j < L, L = min(binCount, 32,
    // bounds.size() - 1); classes j >= L are set to 0. Entry = S sqrt(|N.outDir / N.refDir|)
    // (bounds[j] + bounds[j+1]) / 2. A normal perpendicular to refDir gives an infinite entry,
    // unless maxRatio limits the square-root ratio.
    void build(float splatScale, const geometry::Vector3& outDir, const geometry::Vector3& refDir,
               std::span<const float> bounds, std::int32_t binCount,
               float maxRatio = std::numeric_limits<float>::infinity());

    float operator[](std::uint32_t index) const { return entries[index & (kSplatTableSize - 1)]; }
};

// Number of size classes used from a header: min(binCount, 32), never negative, never more
// than the bounds allow.
std::int32_t sizeClassCount(std::int32_t binCount, std::size_t boundCount);

}  // namespace strata::render
