// Wedge-parallel drawing: the traversal of an LDI cut into angular wedges around the epipole.
// The samples of one LDI pixel all land on one epipolar line of the output view, so the wedge
// between two LDI lines through the epipole lands between the two output lines they map to.
// Frame pixels farther than a footprint's reach (and the pixel rounding) from those lines belong
// to one wedge alone; the rest form strips along the lines. Each wedge is drawn in the
// traversal's order restricted to its pixels, writing only its own frame pixels; a sample whose
// footprint reaches a strip is kept, and after all wedges the kept samples are merged into the
// traversal's order and write the strips. Every frame pixel then receives the same writes in
// the same order as in one sweep of the whole traversal: the picture does not depend on the cut
// or the thread count.
#pragma once

#include <cstdint>
#include <vector>

#include "render/traversal.h"
#include "render/warp_setup.h"

namespace strata::render {

// Wedges of a draw (none when the cut cannot separate them): few, since the strips cost a
// merge; enough to share out among the threads.
inline constexpr int kWedgeCount = 8;

// The wedge count of the draws that follow (kWedgeCount unless set; below 4 or odd: no cut, one
// sweep of the whole traversal). For tests and measurements; the picture is the same.
int wedgeCount();
void setWedgeCount(int count);

// How far a sample's pixel may lie from where its exact position puts it: the conversion to a
// pixel moves each coordinate by at most one.
inline constexpr float kPixelSlack = 1.5f;

// The output side of one wedge, in frame pixels: v0 = a0 x + b0 y + c0 and v1 likewise are the
// signed distances to the output images of its two borders, positive inside. Every sample the
// wedge writes lies within kPixelSlack of the inside. A pixel with v0 >= core and v1 >= core
// belongs to the wedge alone: no other wedge's footprint reaches it. A sample with v0 >= fast and
// v1 >= fast touches only such pixels. The default passes everything.
struct WedgeTest {
    float a0 = 0.0f;
    float b0 = 0.0f;
    float c0 = 0.0f;
    float a1 = 0.0f;
    float b1 = 0.0f;
    float c1 = 0.0f;
    float core = 0.0f;
    float fast = 0.0f;

    bool inFast(std::int32_t x, std::int32_t y) const {
        const auto fx = static_cast<float>(x);
        const auto fy = static_cast<float>(y);
        return a0 * fx + b0 * fy + c0 >= fast && a1 * fx + b1 * fy + c1 >= fast;
    }
    bool inCore(std::int32_t x, std::int32_t y) const {
        const auto fx = static_cast<float>(x);
        const auto fy = static_cast<float>(y);
        return a0 * fx + b0 * fy + c0 >= core && a1 * fx + b1 * fy + c1 >= core;
    }
};

// One wedge: the LDI pixels whose centres p lie left of `from` (cross(from, p - apex) >= 0, when
// testFrom) and not left of `to` (when testTo).
struct Wedge {
    double fromX = 1.0;
    double fromY = 0.0;
    double toX = 1.0;
    double toY = 0.0;
    bool testFrom = false;
    bool testTo = false;
    std::int32_t rowFirst = 0;  // the rows the wedge can meet, inclusive
    std::int32_t rowLast = -1;
    WedgeTest test;
};

struct WedgeCut {
    double apexX = 0.0;  // in the warp's LDI coordinates
    double apexY = 0.0;
    double pixelCentre = 0.5;   // LDI coordinate of the centre of pixel c: c + pixelCentre
    std::vector<Wedge> wedges;  // empty: the traversal is drawn whole, nothing kept back

    // Cuts run to the columns of wedge w; false when none remain.
    bool cut(RowRun& run, const Wedge& w) const;
};

struct WedgeCutInput {
    WarpSetup setup;
    TraversalRange range;
    double pixelCentre = 0.5;
    std::int32_t outWidth = 0;  // the frame the kernels write
    std::int32_t outHeight = 0;
    float reach = 0.0f;  // farthest distance from a sample's pixel to a pixel its write touches
    int count = kWedgeCount;  // even, at least 4; otherwise no cut
};

// The cut of a draw: wedges whose written samples touch pairwise disjoint pixels, or no wedges
// when the geometry gives no such cut (epipole at infinity, a degenerate warp).
WedgeCut makeWedgeCut(const WedgeCutInput& input);

}  // namespace strata::render
