// The tangent plane of every sample of an LDI, in its reference camera's pixel space: how the
// sample's normalised depth changes per column and per row along its surface, and from which
// side its surface may be culled. The high-quality splats carry each sample's patch of that
// plane (one reference pixel) into the output picture, so a surface the reference camera saw at
// a grazing angle is stretched where a new camera sees it face on, and nowhere else.
//
// Slopes come from the neighbouring pixels' samples of the same surface (depth codes are
// precise), and from the stored normal only where no neighbour continues the surface (the 64
// stored directions are too coarse near grazing angles). The side does not trust the winding of
// whatever made the file: a front sample is seen by the reference camera, so its surface faces
// that camera; a hidden sample keeps the side its stored normal gives only in pixels whose front
// sample agrees with its own stored normal, and only when it is the front of a closed object
// (the next sample behind it leaves the object) or the back of one.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/view_camera.h"

namespace strata::ldi {

// The culling side of a sample. A surface seen from the side the reference camera saw it keeps
// its orientation in the output; one seen from the other side is mirrored (the patch's image has
// the opposite orientation).
enum class CullSide : std::int8_t {
    never = 0,         // two-sided, or the side is not known
    whenMirrored = 1,  // the front of a closed surface: hidden when seen from behind
    whenUpright = -1,  // the back of a closed surface: hidden unless seen from behind
};

// The samples of an LDI as the slope builder reads them: sample i of pixel (row, column) is
// sample rowStart[row] + layerOffset[row (width + 1) + column] + i, stored farthest first; its
// depth word is words[stride * index + depthWord] (bits 0..19 the depth code, bits 25..30 the
// normal index).
struct SampleGrid {
    const std::uint32_t* words = nullptr;
    std::int32_t stride = 2;
    std::int32_t depthWord = 1;
    const std::int32_t* rowStart = nullptr;
    const std::uint16_t* layerOffset = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t count = 0;  // samples in all
};

struct SurfaceSlopes {
    // Per sample in storage order: normalised depth per column and per row, and the culling side.
    std::vector<float> perColumn;
    std::vector<float> perRow;
    std::vector<CullSide> side;
    // Per sample: the directions in which the neighbouring pixel holds no sample of the same
    // surface (kOpenRight ...): the surface ends there, somewhere before the next pixel.
    std::vector<std::uint8_t> openEdges;

    // What the slopes were built from; a draw rebuilds them when it differs.
    const std::uint32_t* words = nullptr;
    std::int64_t count = -1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    geometry::ViewCamera view;

    bool matches(const SampleGrid& grid, const geometry::ViewCamera& reference) const;
    void clear() { *this = SurfaceSlopes{}; }
};

// Bits of SurfaceSlopes::openEdges: no continuation toward the next column, the previous column,
// the next row, the previous row.
inline constexpr std::uint8_t kOpenRight = 1;
inline constexpr std::uint8_t kOpenLeft = 2;
inline constexpr std::uint8_t kOpenUp = 4;
inline constexpr std::uint8_t kOpenDown = 8;

// The steepest surface the neighbour slopes follow: a neighbour whose depth differs by more
// than this many pixel widths (at the sample's distance) per pixel is another surface. tan 83.
inline constexpr float kSteepestSlope = 16.0f;

// Builds the slopes of every sample of grid, whose reference camera is view (its near and far
// give the depth mapping).
void BuildSurfaceSlopes(const SampleGrid& grid, const geometry::ViewCamera& view,
                        SurfaceSlopes& out);

}  // namespace strata::ldi
