// Wedge-parallel drawing: the traversal of an LDI cut into angular wedges around the epipole.
// The samples of one LDI pixel all land on one epipolar line of the output view, so the wedge
// between two LDI rays from the epipole lands between the two output rays they map to. The frame
// is shared out the same way: every frame pixel has exactly one owner wedge (owner()), the
// wedge whose output rays enclose it. Each wedge is drawn on its own thread, in the traversal's
// order restricted to its LDI pixels, writing only the frame pixels it owns. A sample near a
// border may reach pixels of the neighbour wedge, so each wedge also visits the band of LDI
// pixels along its borders whose samples can land within a footprint of its frame pixels, and
// writes their footprints' pixels that it owns. Every frame pixel then receives the same writes in
// the same order as in one sweep of the whole traversal: the picture does not depend on the cut
// or the thread count.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "render/traversal.h"
#include "render/warp_setup.h"

namespace strata::render {

// A draw on several threads is cut into one wedge per thread, each holding as many samples as
// the others. Every border costs its bands of samples drawn twice, and wedges that do not divide
// evenly among the threads leave one thread drawing alone at the end (three wedges on two
// threads: two thirds of the draw on one of them); measured on two cores, one wedge per thread
// drew every kind and mode 10 to 40 % faster than three or four, and with one core busy with
// another program no cut beat one thread by a measurable margin. Frames are left on one thread
// when sharing does not pay (ThreadChoice measures it), and the clear and resolve bands, many
// more than threads, still go to whichever thread is free.
inline constexpr int kMaxWedges = 64;

// The wedge count setting of the draws that follow: 0 (the default) cuts one wedge per thread
// for two drawing threads or more; a count of 2 or more cuts that many; below
// 0, no cut. For tests and measurements (the environment variable STRATA_WEDGES sets it at start);
// the picture is the same.
int wedgeCount();
void setWedgeCount(int count);
// The wedges a draw on the given thread count is cut into: 0 (no cut) or 2 .. kMaxWedges.
int wedgesFor(int threads);

// Where the samples of an LDI lie, coarsely: the sample count of each square cell of `cell` x
// `cell` grid pixels, row-major. The wedges of a cut share the samples, not the area.
struct SampleDensity {
    std::int32_t cell = 1;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::vector<std::uint32_t> counts;
    std::int64_t total = 0;

    bool empty() const { return counts.empty(); }
    // The samples of the cells that meet the columns [x0, x1) and rows [y0, y1), each cell
    // counted by the share of its area inside.
    double within(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) const;
};

// Cells of a grid of width x height pixels: about kDensitySide per side, whole pixels each.
inline constexpr std::int32_t kDensitySide = 24;
// The density of a grid whose pixel (row, column) holds samples(row, column) samples.
template <class Samples>
SampleDensity makeSampleDensity(std::int32_t width, std::int32_t height, Samples&& samples) {
    SampleDensity d;
    if (width <= 0 || height <= 0) {
        return d;
    }
    const std::int32_t side = std::max(width, height);
    d.cell = std::max<std::int32_t>(1, (side + kDensitySide - 1) / kDensitySide);
    d.columns = (width + d.cell - 1) / d.cell;
    d.rows = (height + d.cell - 1) / d.cell;
    d.counts.assign(static_cast<std::size_t>(d.columns) * static_cast<std::size_t>(d.rows), 0u);
    for (std::int32_t r = 0; r < height; ++r) {
        std::uint32_t* line = d.counts.data() + static_cast<std::size_t>(r / d.cell) * d.columns;
        for (std::int32_t c = 0; c < width; ++c) {
            const std::int64_t n = samples(r, c);
            if (n > 0) {
                line[c / d.cell] += static_cast<std::uint32_t>(n);
                d.total += n;
            }
        }
    }
    return d;
}

// How far a sample's pixel may lie from where its exact position puts it: the conversion to a
// pixel moves each coordinate by at most one.
inline constexpr float kPixelSlack = 1.5f;

// Beyond the float rounding of a line's value at a frame pixel.
inline constexpr float kLineSlack = 0.05f;

// A border ray's line in the frame: a x + b y + c, the signed distance in pixels, positive on
// the side that follows the ray counter-clockwise (in the LDI's coordinates).
struct OutputLine {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;

    float at(std::int32_t x, std::int32_t y) const {
        return a * static_cast<float>(x) + b * static_cast<float>(y) + c;
    }
};

// The output side of one wedge: from and to are its border rays' lines, both positive inside
// (to negated); an untested border (the outer sides of a cut that does not turn full circle, or
// the far side of a half-plane) has a = b = 0 and a large c.
struct WedgeTest {
    OutputLine from;
    OutputLine to;

    // Every pixel of a footprint of the reach around (x, y) lies inside the wedge.
    bool inside(std::int32_t x, std::int32_t y, float reach) const {
        const float r = reach + kLineSlack;
        return from.at(x, y) >= r && to.at(x, y) >= r;
    }
    // No pixel of such a footprint lies inside.
    bool outside(std::int32_t x, std::int32_t y, float reach) const {
        const float r = -(reach + kLineSlack);
        return from.at(x, y) < r || to.at(x, y) < r;
    }
};

// One wedge: the LDI pixels whose centres p lie left of its `from` ray and not left of its `to`
// ray (see BorderRay), where the wedge has them.
struct Wedge {
    std::int32_t fromRay = -1;  // the tested borders' rays, in WedgeCut::rays; -1: untested
    std::int32_t toRay = -1;
    std::int32_t rowFirst = 0;  // the rows the wedge can meet, inclusive
    std::int32_t rowLast = -1;
    WedgeTest test;
};

// A border ray. In the LDI: the points p left of it have cross(dir, p - anchor) >= 0; the
// anchor is the apex, or a point of the ray's own line when the rays are parallel. In the
// frame: its output line. And as a function of the LDI point (u, v), the line's value at the
// point's samples times their output w (la u + lb v + lc; the depth drops out, as the line holds
// the epipole).
struct BorderRay {
    OutputLine out;
    double dirX = 1.0;
    double dirY = 0.0;
    double anchorX = 0.0;
    double anchorY = 0.0;
    double la = 0.0;
    double lb = 0.0;
    double lc = 0.0;
};

// A piece of a row run that one wedge draws: its own LDI pixels, whose samples all land well
// inside its frame pixels, or, in the bands along its borders, its own pixels and a neighbour's.
struct RunPart {
    enum Kind { own, ownBorder, band };
    RowRun run;
    Kind kind = own;
};

struct WedgeCut {
    static constexpr int kMaxParts = 5;  // between six breaks

    double pixelCentre = 0.5;  // LDI coordinate of the centre of pixel c: c + pixelCentre
    std::vector<BorderRay> rays;
    std::vector<Wedge> wedges;  // empty: the traversal is drawn whole, by one thread
    // The output w of a sample of LDI point (u, v) and depth z: wa u + wb v + wc + z wz, for z in
    // [zLow, zHigh].
    double wa = 0.0;
    double wb = 0.0;
    double wc = 0.0;
    double wz = 0.0;
    double zLow = -1.0;
    double zHigh = 1.0;
    float reach = 0.0f;  // the farthest a write reaches from its sample's pixel
    double band = 0.0;   // a band reaches this far from its border, in frame pixels

    // Cuts run to the columns of wedge w; false when none remain.
    bool cut(RowRun& run, const Wedge& w) const;
    // The pieces of run that wedge w draws, in the run's order: its own columns and the band
    // columns along its borders. Returns their count (up to kMaxParts). A sample of an own part
    // lands farther than the band's distance from the wedge's borders.
    int parts(const RowRun& run, const Wedge& w, std::array<RunPart, kMaxParts>& out) const;
    // The wedge that owns frame pixel (x, y).
    int owner(std::int32_t x, std::int32_t y) const;
};

struct WedgeCutInput {
    WarpSetup setup;
    TraversalRange range;
    double pixelCentre = 0.5;
    std::int32_t outWidth = 0;  // the frame the kernels write
    std::int32_t outHeight = 0;
    float reach = 0.0f;  // farthest distance from a sample's pixel to a pixel its write touches
    double zLow = -1.0;  // the depth range of the samples
    double zHigh = 1.0;
    int count = 2;  // at least 2; otherwise no cut
    // Where the samples lie (null or empty: spread evenly), in the grid's pixels; cell centres
    // sit at (cell (i + 0.5) - 0.5 + pixelCentre).
    const SampleDensity* density = nullptr;
};

// The cut of a draw into wedges of about equal samples (of equal LDI area without a density),
// or no wedges when the geometry gives no cut (a degenerate warp). With the epipole at infinity
// (the output eye in the reference camera's plane) the wedges are slabs between parallel epipolar
// lines.
WedgeCut makeWedgeCut(const WedgeCutInput& input);

}  // namespace strata::render
