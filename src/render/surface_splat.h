// Soft splats shaped by their sample's surface. A sample stands for one pixel of its reference
// camera on its surface's tangent plane; carried into the output picture, that patch becomes a
// (nearly) parallelogram, the image of the reference pixel square under the warp's local linear
// map J (output pixels per reference pixel, columns along the reference columns and rows).
// Each output pixel near the sample takes the sample with a bilinear tent weight of its position
// in reference pixels, q = J^-1 (pixel - sample): 1 at the sample, 0 one reference pixel away.
// Neighbouring samples' tents add up to one everywhere on a surface, so a surface covers exactly
// its own pixels at any magnification and any angle (an elliptical footprint, as in surface
// splatting, with a tent for its kernel), and its edge stays within a reference pixel of where
// it lies. Each pixel is depth-tested at the depth of the tangent plane there.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "render/soft_splat.h"

namespace strata::render {

// The largest footprint: 3 pixels from its centre pixel every way, as the blended footprints.
inline constexpr int kSurfaceSplatRadius = 3;

struct SurfaceSplat {
    std::int32_t x = 0;  // the buffer pixel the footprint is centred on
    std::int32_t y = 0;
    float fx = 0.0f;  // the sample's position minus (x, y), in pixels
    float fy = 0.0f;
    float inv[4] = {};  // J^-1, row-major: (qu, qv) = inv (dx, dy)
    float zOut = 0.0f;  // output depth (-1/distance) at the sample
    float dzu = 0.0f;   // and its change per reference pixel along the tangent plane
    float dzv = 0.0f;
    float tolerance = 0.0f;
    std::int8_t x0 = 0;  // the pixels whose tent weight may be above 0, as offsets from (x, y)
    std::int8_t x1 = 0;
    std::int8_t y0 = 0;
    std::int8_t y1 = 0;
    // Where the surface ends within the next reference pixel (no sample continues it there),
    // the tent reaches one output pixel past the sample instead of one reference pixel: a
    // stretched sample at the edge of its surface spills no farther than an unstretched one.
    // Tent slopes per reference pixel on each side: +u, -u, +v, -v (1 for a full tent).
    float slopeU[2] = {1.0f, 1.0f};
    float slopeV[2] = {1.0f, 1.0f};
    std::uint32_t colour = 0;
    std::uint64_t hidden = 0;  // kHiddenSurface for a sample hidden in its pixel
    // Colours of the 4 x 4 sub-cells of the reference pixel (bit 4 r + c, sub-row r from the
    // bottom), one per set bit of mask4 in bit order; null: the colour above everywhere.
    const std::uint32_t* subColours = nullptr;
    std::uint32_t mask4 = 0;

    // The farthest the footprint reaches from (x, y) along a row or column.
    int radius() const {
        return std::max(std::max(-x0, static_cast<int>(x1)), std::max(-y0, static_cast<int>(y1)));
    }
};

// Weight of a tent of one reference pixel at the centre; footprints of neighbouring samples add
// up to this over a surface.
inline constexpr float kTentWeight = static_cast<float>(kWeightNew);

// Shapes s for a sample at (sx, sy) of the buffer whose centre pixel is (x, y), with the warp's
// local map J = (ju | jv): output pixels per reference column (jux, juy) and per reference row
// (jvx, jvy). False when J is degenerate (the patch seen edge-on) or not finite: nothing to draw.
inline bool shapeSurfaceSplat(SurfaceSplat& s, float sx, float sy, std::int32_t x, std::int32_t y,
                              float jux, float juy, float jvx, float jvy) {
    const float det = jux * jvy - jvx * juy;
    if (!(std::fabs(det) > 1e-12f) || !std::isfinite(det)) {
        return false;
    }
    const float r = 1.0f / det;
    s.inv[0] = jvy * r;
    s.inv[1] = -jvx * r;
    s.inv[2] = -juy * r;
    s.inv[3] = jux * r;
    s.x = x;
    s.y = y;
    s.fx = sx - static_cast<float>(x);
    s.fy = sy - static_cast<float>(y);
    // The tent reaches one reference pixel along both axes: the parallelogram J [-1, 1]^2.
    const float ex = std::fabs(jux) + std::fabs(jvx);
    const float ey = std::fabs(juy) + std::fabs(jvy);
    const auto low = [](float f, float e) {
        constexpr float kLimit = static_cast<float>(kSurfaceSplatRadius);
        return static_cast<std::int8_t>(std::clamp(std::floor(f - e) + 1.0f, -kLimit, 0.0f));
    };
    const auto high = [](float f, float e) {
        constexpr float kLimit = static_cast<float>(kSurfaceSplatRadius);
        return static_cast<std::int8_t>(std::clamp(std::ceil(f + e) - 1.0f, 0.0f, kLimit));
    };
    if (!std::isfinite(ex) || !std::isfinite(ey)) {
        return false;
    }
    s.x0 = low(s.fx, ex);
    s.x1 = high(s.fx, ex);
    s.y0 = low(s.fy, ey);
    s.y1 = high(s.fy, ey);
    return true;
}

// Clips the tent of s on the sides where its surface ends (bits: +u, -u, +v, -v) to one output
// pixel past the sample, given the map's columns (jux, juy) and (jvx, jvy).
inline void clipSurfaceSplat(SurfaceSplat& s, unsigned openEdges, float jux, float juy, float jvx,
                             float jvy) {
    if (openEdges == 0) {
        return;
    }
    const float lengthU = std::max(1.0f, std::sqrt(jux * jux + juy * juy));
    const float lengthV = std::max(1.0f, std::sqrt(jvx * jvx + jvy * jvy));
    s.slopeU[0] = (openEdges & 1u) != 0 ? lengthU : 1.0f;
    s.slopeU[1] = (openEdges & 2u) != 0 ? lengthU : 1.0f;
    s.slopeV[0] = (openEdges & 4u) != 0 ? lengthV : 1.0f;
    s.slopeV[1] = (openEdges & 8u) != 0 ? lengthV : 1.0f;
}

// Writes the pixels of s's footprint for which take(x, y) holds, marking them in coverage (one
// byte per buffer pixel, or null). Precondition: the footprint's box lies inside the buffer.
template <class Take>
[[gnu::always_inline]] inline void writeSurfaceSplat(SoftSplatBuffer& buffer, const SurfaceSplat& s,
                                                     Take&& take, std::uint8_t* coverage) {
    const std::uint64_t spread = spreadColour(s.colour);
    buffer.touch(s.x + s.x0, s.y + s.y0, s.x + s.x1, s.y + s.y1);
    for (int dy = s.y0; dy <= s.y1; ++dy) {
        const float oy = static_cast<float>(dy) - s.fy;
        const std::int32_t py = s.y + dy;
        const std::intptr_t row = static_cast<std::intptr_t>(py) * buffer.width;
        for (int dx = s.x0; dx <= s.x1; ++dx) {
            const float ox = static_cast<float>(dx) - s.fx;
            const float qu = s.inv[0] * ox + s.inv[1] * oy;
            const float qv = s.inv[2] * ox + s.inv[3] * oy;
            const float a = 1.0f - std::fabs(qu) * s.slopeU[qu < 0.0f ? 1 : 0];
            const float b = 1.0f - std::fabs(qv) * s.slopeV[qv < 0.0f ? 1 : 0];
            if (!(a > 0.0f && b > 0.0f)) {
                continue;
            }
            const auto weight = static_cast<std::uint32_t>(kTentWeight * a * b + 0.5f);
            const std::int32_t px = s.x + dx;
            if (weight == 0 || !take(px, py)) {
                continue;
            }
            std::uint64_t colour = spread;
            if (s.subColours != nullptr) {
                // The sub-cell under the pixel, or the nearest one beyond the reference pixel.
                const int i = std::clamp(static_cast<int>(std::floor((qu + 0.5f) * 4.0f)), 0, 3);
                const int j = std::clamp(static_cast<int>(std::floor((qv + 0.5f) * 4.0f)), 0, 3);
                const std::uint32_t bit = 1u << (4 * j + i);
                if ((s.mask4 & bit) != 0) {
                    colour = spreadColour(s.subColours[std::popcount(s.mask4 & (bit - 1u))]);
                }
            }
            softWrite(buffer.pixels[static_cast<std::size_t>(row + px)],
                      s.zOut + s.dzu * qu + s.dzv * qv, s.tolerance, weight, colour, s.hidden);
            if (coverage != nullptr) {
                coverage[row + px] = 1;
            }
        }
    }
}

}  // namespace strata::render
