// Small pieces every warp kernel shares: false-colour helpers, the choice of traversal passes
// from the render options, and the hand-over of the 64-bit kernel counters to LdiDrawStats.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "geometry/vector.h"
#include "ldi/ldi_base.h"
#include "render/traversal.h"

namespace strata::ldi::kernel {

// Grey g (limited to 0..255) in all three channels.
inline std::uint32_t grey(long g) {
    const auto v = static_cast<std::uint32_t>(std::clamp<long>(g, 0, 255));
    return v * 0x010101u;
}

// Rounded and limited to 0..255 in floating point first, so no value (NaN, huge) reaches the
// integer conversion out of range. NaN gives 0.
inline std::uint32_t clampChannel(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (v >= 255.0f) {
        return 255;
    }
    return static_cast<std::uint32_t>(std::lround(v));
}

// A unit normal as a colour: x to red, y to green, z to blue, each 255 times the component.
inline std::uint32_t normalColour(const geometry::Vector3& n) {
    return (clampChannel(255.0f * n.x) << 16) | (clampChannel(255.0f * n.y) << 8) |
           clampChannel(255.0f * n.z);
}

// Anisotropy as red: how much more the surface faces the output view than the reference view,
// sqrt(|n . outDir| / |n . refDir|), scaled by the class size and the output depth (-1/distance).
// A normal perpendicular to the reference direction is full red.
inline std::uint32_t anisotropyRed(const geometry::Vector3& n, const geometry::Vector3& outDirUnit,
                                   const geometry::Vector3& refDir, float classSize, float zOut) {
    const float t = std::fabs(geometry::dot(n, refDir));
    if (t == 0.0f) {
        return 0xFF0000u;
    }
    const float red =
        std::sqrt(std::fabs(geometry::dot(n, outDirUnit)) / t) * classSize * zOut * -15.0f;
    return clampChannel(red) << 16;
}

// The traversals of one draw: the lower or upper half alone, both halves (lower first), the
// bench rows, or the standard sweep.
struct DrawPasses {
    render::Traversal kinds[2] = {render::Traversal::standard, render::Traversal::standard};
    int count = 1;

    render::Traversal operator[](int i) const { return kinds[i]; }
};

inline DrawPasses drawPasses(const LdiRenderOptions& options) {
    DrawPasses passes;
    if (options.lowerHalfOnly != 0) {
        passes.kinds[0] = render::Traversal::lowerHalf;
        if (options.upperHalfOnly != 0) {
            passes.kinds[1] = render::Traversal::upperHalf;
            passes.count = 2;
        }
    } else if (options.upperHalfOnly != 0) {
        passes.kinds[0] = render::Traversal::upperHalf;
    } else if (options.benchFlag != 0) {
        passes.kinds[0] = render::Traversal::bench;
    }
    return passes;
}

// The kernels count in 64 bits; the statistics record holds int32 counters, clamped.
inline void storeCounters(LdiDrawStats& stats, std::int64_t visited, std::int64_t inside,
                          std::int64_t written) {
    stats.visited = static_cast<std::int32_t>(std::min<std::int64_t>(visited, INT32_MAX));
    stats.inside = static_cast<std::int32_t>(std::min<std::int64_t>(inside, INT32_MAX));
    stats.written = static_cast<std::int32_t>(std::min<std::int64_t>(written, INT32_MAX));
}

}  // namespace strata::ldi::kernel
