// Small pieces every warp kernel shares: false-colour helpers, the choice of traversal passes
// from the render options, the layers an inspection draws, and the hand-over of the 64-bit kernel
// counters to LdiDrawStats.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/vector.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_base.h"
#include "ldi/surface_slopes.h"
#include "platform/fp_mode.h"
#include "platform/worker_pool.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/soft_splat.h"
#include "render/surface_splat.h"
#include "render/traversal.h"
#include "render/warp_state.h"
#include "render/wedge_cut.h"

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

// The frame as the kernels write it: its row stride, the guard band (a sample is kept when
// 2.5 w < x < guardX w and likewise for y) and the last column and row a block of up to 7 x 7
// may be centred on, so no block is written outside the frame.
struct FrameTarget {
    std::uint32_t* pixels = nullptr;
    std::int32_t stride = 0;
    std::int32_t maxX = 0;
    std::int32_t maxY = 0;
    float guardX = 0.0f;
    float guardY = 0.0f;
};

inline FrameTarget frameTarget(imageutil::RgbImage& frame) {
    return {frame.pixels,
            frame.width,
            frame.width - 4,
            frame.height - 4,
            static_cast<float>(frame.width - 6),
            static_cast<float>(frame.height - 6)};
}

// Where a warped sample lands in the frame: its position (x / w, y / w), the pixel it rounds to,
// that pixel's word in the frame (Y stride + X) and its output depth zOut = -1/distance.
struct SamplePlace {
    float sx = 0.0f;
    float sy = 0.0f;
    float zOut = 0.0f;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t offset = 0;
};

// What became of a sample: behind the output eye (w <= 0), outside the guard band (or rounded
// onto its edge), or inside, with its place filled in.
enum class Placement : std::int32_t { behind, outside, inside };

// The incremental warp of one sample: p is the warped centre of its pixel at depth 0, zc the
// warp's depth column, z the sample's normalised depth. Positions are converted with the
// rounding mode in force. Every operation is a separate rounding (no fused multiply-add), so the
// vector path of placeSamples gives the same bits.
inline Placement placeSample(const geometry::Vector4& p, const geometry::Vector4& zc, float z,
                             const FrameTarget& target, SamplePlace& out) {
    const float w = p.w + zc.w * z;
    if (!(w > 0.0f)) {
        return Placement::behind;
    }
    const float x = zc.x * z + p.x;
    const float y = zc.y * z + p.y;
    // The guard band keeps every footprint, up to 7 x 7, inside the frame.
    if (!(2.5f * w < x && x < target.guardX * w && 2.5f * w < y && y < target.guardY * w)) {
        return Placement::outside;
    }
    // Exact division: the position must agree with the guard band test above.
    const float inv = 1.0f / w;
    out.sx = x * inv;
    out.sy = y * inv;
    out.X = static_cast<std::int32_t>(platform::toInt(out.sx + 0.5f));
    out.Y = static_cast<std::int32_t>(platform::toInt(out.sy + 0.5f));
    // Rounding can still put a position on the guard band's edge: never write there.
    if (out.X < 3 || out.X > target.maxX || out.Y < 3 || out.Y > target.maxY) {
        return Placement::outside;
    }
    out.offset = out.Y * target.stride + out.X;
    out.zOut = (zc.z * z + p.z) * inv;
    return Placement::inside;
}

// The stored layers [first, end) of a pixel of `layers` layers, stored farthest first, that a draw
// of only the layer onlyLayer counted from the front visits (onlyLayer -1: every layer). A pixel
// with no such layer gives an empty span.
struct LayerSpan {
    std::int32_t first = 0;
    std::int32_t end = 0;
};

inline LayerSpan layersToDraw(std::int32_t layers, std::int32_t onlyLayer) {
    if (onlyLayer < 0) {
        return {0, layers};
    }
    return {std::max(layers - 1 - onlyLayer, 0), layers - onlyLayer};
}

// The depth-correction divisor of an output pixel, from the quadrant table of the draw. Pixels
// are counted in the frame buffer; the picture's centre is its window's. Positions in the margin
// around the picture use the table's edge entries. The lookup is separable: each frame column
// has its table column and each frame row its table row, worked out once per draw.
struct DepthCorrection {
    const float* table = nullptr;
    std::vector<std::int32_t> column;     // table column of each frame column
    std::vector<std::int32_t> rowOffset;  // first entry of the table row of each frame row

    // Precondition: 0 <= x < frame width, 0 <= y < frame height.
    float at(std::int32_t x, std::int32_t y) const {
        return table[rowOffset[static_cast<std::size_t>(y)] + column[static_cast<std::size_t>(x)]];
    }
};

inline DepthCorrection depthCorrection(const render::WarpState& warp, std::int32_t frameWidth,
                                       std::int32_t frameHeight) {
    const render::DepthCorrectionTable& t = warp.depthCorrection;
    const std::int32_t halfW = warp.window.x0 + (warp.outWidth >> 1);
    const std::int32_t halfH = warp.window.y0 + (warp.outHeight >> 1);
    const std::int32_t lastX = std::max(t.rowLength - 1, 0);
    const std::int32_t lastY = std::max(t.rowCount - 1, 0);
    DepthCorrection c;
    c.table = t.entries.data();
    c.column.resize(static_cast<std::size_t>(std::max(frameWidth, 0)));
    for (std::int32_t x = 0; x < frameWidth; ++x) {
        c.column[static_cast<std::size_t>(x)] = std::min(x < halfW ? halfW - x : x - halfW, lastX);
    }
    c.rowOffset.resize(static_cast<std::size_t>(std::max(frameHeight, 0)));
    for (std::int32_t y = 0; y < frameHeight; ++y) {
        c.rowOffset[static_cast<std::size_t>(y)] =
            std::min(y < halfH ? halfH - y : y - halfH, lastY) * t.rowLength;
    }
    return c;
}

// The high-quality mode of a draw: soft footprints into the frame function's buffer instead of
// blended ones into the frame. buffer is null when the mode is off or the buffer does not match
// the frame.
struct SoftTarget {
    render::SoftSplatBuffer* buffer = nullptr;
};

// Marks the buffer written when the draw will use it.
inline SoftTarget softTarget(LdiBase& ldi, const imageutil::RgbImage& frame) {
    SoftTarget t;
    const render::WarpState& warp = ldi.warp;
    if (ldi.options.highQualitySplats != 0 && ldi.options.useFalseColor == 0 &&
        render::softTargetFits(warp, frame.width, frame.height)) {
        t.buffer = warp.soft;
        t.buffer->written = true;
    }
    return t;
}

// The footprints of the high-quality mode: each sample's reference pixel on its tangent plane,
// carried into the picture by the warp's local linear map at the sample (see SurfaceSplat). The
// map follows from the warp transform's columns and the plane's depth slopes: a step of one
// reference column moves the warped point by colU + zCol du, one row by colV + zCol dv.
struct SurfaceShaper {
    geometry::Vector4 colU;  // T (1, 0, 0, 0)
    geometry::Vector4 colV;  // T (0, 1, 0, 0)
    geometry::Vector4 zCol;  // T (0, 0, 1, 0)
    // Per sample (storage order) depth slopes and culling sides; null for kinds without them
    // (surfaces taken as facing the reference camera, never culled).
    const float* perColumn = nullptr;
    const float* perRow = nullptr;
    const CullSide* side = nullptr;
    const std::uint8_t* openEdges = nullptr;
    float pixelAngle = 0.0f;  // one output pixel seen from the eye: 2 tan(fov / 2) / width

    // Shapes out for sample `index` of normalised depth z, in the pixel whose warped centre at
    // depth 0 is p, placed at (sx, sy) in buffer pixel (x, y) at output depth zOut. False when
    // the sample is culled (its surface seen from the side that hides it) or seen edge-on.
    [[gnu::always_inline]] bool shape(const geometry::Vector4& p, float z, std::size_t index,
                                      float sx, float sy, float zOut, std::int32_t x,
                                      std::int32_t y, render::SurfaceSplat& out) const {
        const float du = perColumn != nullptr ? perColumn[index] : 0.0f;
        const float dv = perRow != nullptr ? perRow[index] : 0.0f;
        const float w = p.w + zCol.w * z;
        const float inv = 1.0f / w;
        const float uw = colU.w + zCol.w * du;
        const float vw = colV.w + zCol.w * dv;
        const float jux = (colU.x + zCol.x * du - sx * uw) * inv;
        const float juy = (colU.y + zCol.y * du - sy * uw) * inv;
        const float jvx = (colV.x + zCol.x * dv - sx * vw) * inv;
        const float jvy = (colV.y + zCol.y * dv - sy * vw) * inv;
        if (side != nullptr) {
            // The reference camera saw the patch upright; the output camera sees it mirrored
            // exactly when it looks at the other side of the surface.
            const float det = jux * jvy - jvx * juy;
            const CullSide s = side[index];
            if ((s == CullSide::whenMirrored && det < 0.0f) ||
                (s == CullSide::whenUpright && det > 0.0f)) {
                return false;
            }
        }
        if (!render::shapeSurfaceSplat(out, sx, sy, x, y, jux, juy, jvx, jvy)) {
            return false;
        }
        if (openEdges != nullptr) {
            render::clipSurfaceSplat(out, openEdges[index], jux, juy, jvx, jvy);
        }
        out.zOut = zOut;
        out.dzu = (colU.z + zCol.z * du - zOut * uw) * inv;
        out.dzv = (colV.z + zCol.z * dv - zOut * vw) * inv;
        // Neighbouring samples' planes meet within a pixel's width at the sample's distance,
        // and within a share of the depth the plane spans over the footprint.
        out.tolerance = kSurfaceDepthPixels * pixelAngle * -zOut +
                        kSurfaceDepthShare * (std::fabs(out.dzu) + std::fabs(out.dzv));
        return true;
    }

    static constexpr float kSurfaceDepthPixels = 2.0f;
    static constexpr float kSurfaceDepthShare = 0.25f;
};

inline SurfaceShaper surfaceShaper(const render::WarpState& warp) {
    SurfaceShaper s;
    const geometry::Matrix4& t = warp.setup.transform;
    s.colU = {t(0, 0), t(1, 0), t(2, 0), t(3, 0)};
    s.colV = {t(0, 1), t(1, 1), t(2, 1), t(3, 1)};
    s.zCol = warp.setup.zColumn;
    s.pixelAngle = 2.0f * warp.tanOut / static_cast<float>(std::max(warp.outWidth, 1));
    return s;
}

// Samples magnified 1.5 times or more on average (an output pixel covering at most this area of
// reference pixels, |det J^-1|) show the sub-cell colours of a pixel that has them.
inline constexpr float kSubCellArea = 1.0f / 2.25f;

// The one-pixel footprint of a sample drawn without splatting, in the same form.
inline void collapseToPixel(render::SurfaceSplat& s) {
    s.inv[0] = s.inv[1] = s.inv[2] = s.inv[3] = 0.0f;
    s.slopeU[0] = s.slopeU[1] = s.slopeV[0] = s.slopeV[1] = 1.0f;
    s.x0 = s.x1 = s.y0 = s.y1 = 0;
}

// The surface slopes of an LDI for a draw, built on its first high-quality draw and kept until
// its samples or reference camera change.
inline const SurfaceSlopes& surfaceSlopesFor(LdiBase& ldi, const SampleGrid& grid) {
    if (!ldi.surfaceSlopes.matches(grid, ldi.header.view)) {
        BuildSurfaceSlopes(grid, ldi.header.view, ldi.surfaceSlopes);
    }
    return ldi.surfaceSlopes;
}

// The accurate splat size of a sample of normal n on reference ray rho seen along output ray
// omega: the class size (a reference eye depth) over the output eye depth (-1/zOut), times the
// draw's scale S, times sqrt of how much more the surface faces the output ray than the
// reference ray. Sets facing to n . omega.
inline float accurateSize(const geometry::Vector3& rho, const geometry::Vector3& omega,
                          const geometry::Vector3& n, float classSize, float splatScale, float zOut,
                          float& facing) {
    const float m = std::sqrt(rho.squaredLength() / omega.squaredLength());
    const float fIn = geometry::dot(n, rho);
    facing = geometry::dot(n, omega);
    const float ratio = std::sqrt(std::fabs(m * facing / fIn));
    return classSize * splatScale * ratio * -zOut;
}

// False colour by output depth: grey 255 at the near plane, 0 at the far plane, linear in
// 1/distance. zOut is -1/distance.
struct DepthGrey {
    float scale = 0.0f;  // 255 / (1/near - 1/far)
    float invFar = 0.0f;

    std::uint32_t colour(float zOut) const {
        return clampChannel(scale * (-zOut - invFar)) * 0x010101u;
    }
};

inline DepthGrey depthGrey(const geometry::ViewCamera& output) {
    return {255.0f / (1.0f / output.near - 1.0f / output.far), 1.0f / output.far};
}

// The rows of a traversal the scanline culler rejects, decided once per draw on the calling
// thread (the culler counts what it rejects) in the traversal's order.
struct RowFilter {
    std::vector<std::uint8_t> culled;  // per LDI row; empty: nothing culled

    bool keeps(std::int32_t row) const {
        return culled.empty() || culled[static_cast<std::size_t>(row)] == 0;
    }
};

inline RowFilter rowFilter(LdiBase& ldi, render::Traversal kind) {
    RowFilter filter;
    if (ldi.options.scanlineCulling == 0) {
        return filter;
    }
    geometry::ScanlineCuller& culler = ldi.header.culler;
    filter.culled.assign(static_cast<std::size_t>(std::max(ldi.height(), 0)), 0);
    render::traverseSheets(ldi.warp.setup, ldi.warp.range, kind, [&](const render::RowRun& run) {
        if (culler.rowCulled(run.row)) {
            filter.culled[static_cast<std::size_t>(run.row)] = 1;
        }
    });
    return filter;
}

// Calls drawRun(run) for every row run of the traversal that the filter keeps.
template <class DrawRun>
void traverseRuns(LdiBase& ldi, render::Traversal kind, const RowFilter& filter,
                  DrawRun&& drawRun) {
    render::traverseSheets(ldi.warp.setup, ldi.warp.range, kind, [&](const render::RowRun& run) {
        if (filter.keeps(run.row)) {
            drawRun(run);
        }
    });
}

// Calls drawRun(run) for every row run of the traversal, except the rows the scanline culler
// rejects when scanline culling is on.
template <class DrawRun>
void traverseRuns(LdiBase& ldi, render::Traversal kind, DrawRun&& drawRun) {
    traverseRuns(ldi, kind, rowFilter(ldi, kind), drawRun);
}

// The write of a sample whose footprint may reach past its wedge's own frame pixels.
struct BorderWrite {
    static constexpr std::uint8_t kDepthCentre = 2;  // the depth buffer takes the centre only

    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t word = 0;
    float zOut = 0.0f;
    std::uint8_t radius = 0;
    std::uint8_t flags = 0;
};

// What writes go into.
struct WriteTargets {
    std::uint32_t* frame = nullptr;
    std::int32_t stride = 0;
    float* depth = nullptr;
    std::uint8_t* coverage = nullptr;
    render::SoftSplatBuffer* soft = nullptr;
};

// Writes the pixels of w's blended footprint (frame, depth, coverage) for which take(x, y)
// holds, each exactly as the whole write would.
template <class Take>
void writeBorder(const WriteTargets& t, const BorderWrite& w, Take&& take) {
    const int r = w.radius;
    const render::SoftFootprint& f = render::kSoftFootprints[r];
    for (int dy = -r; dy <= r; ++dy) {
        const std::int32_t y = w.y + dy;
        const std::intptr_t row = static_cast<std::intptr_t>(y) * t.stride;
        for (int dx = -r; dx <= r; ++dx) {
            const std::int32_t x = w.x + dx;
            if (!take(x, y)) {
                continue;
            }
            const std::intptr_t at = row + x;
            // The blended footprints' pattern, as the soft footprints' weights give it.
            const std::uint8_t weight = r == 0 ? render::kWeightNew : f.weight[dy + 3][dx + 3];
            std::uint32_t& p = t.frame[at];
            p = weight == render::kWeightNew    ? w.word
                : weight == render::kWeightHalf ? render::blendHalf(p, w.word)
                                                : render::blendQuarter(p, w.word);
            if (t.depth != nullptr &&
                ((w.flags & BorderWrite::kDepthCentre) == 0 || (dx == 0 && dy == 0))) {
                t.depth[at] = w.zOut;
            }
            if (t.coverage != nullptr) {
                t.coverage[at] = 1;
            }
        }
    }
}

// The farthest a footprint of the given radius reaches from its centre pixel.
inline float footprintReach(int radius) {
    return 1.4143f * static_cast<float>(radius);
}

// Where the writes of one wedge go. A sample whose footprint lies wholly inside the wedge's own
// frame pixels is written at once by the kernel (whole); any other goes to border(), which
// writes the footprint's pixels the wedge owns. Without a cut everything is written whole.
struct WedgeOutput {
    const render::WedgeCut* cut = nullptr;
    int wedge = 0;
    const WriteTargets* targets = nullptr;
    bool band = false;  // draws a neighbour's samples: only those reaching the wedge count

    // A neighbour's sample at pixel (x, y) whose footprints cannot reach the wedge's pixels.
    bool skips(std::int32_t x, std::int32_t y) const {
        return band && cut->wedges[static_cast<std::size_t>(wedge)].test.outside(x, y, cut->reach);
    }

    [[gnu::always_inline]] bool whole(std::int32_t x, std::int32_t y, int radius) const {
        return cut == nullptr || cut->wedges[static_cast<std::size_t>(wedge)].test.inside(
                                     x, y, footprintReach(radius));
    }
    // Whether the wedge owns frame pixel (x, y). Pixels clearly inside or outside need no search
    // for their owner.
    bool owns(std::int32_t x, std::int32_t y) const {
        const render::WedgeTest& t = cut->wedges[static_cast<std::size_t>(wedge)].test;
        const float from = t.from.at(x, y);
        const float to = t.to.at(x, y);
        if (from >= render::kLineSlack && to >= render::kLineSlack) {
            return true;
        }
        return from >= -render::kLineSlack && to >= -render::kLineSlack &&
               cut->owner(x, y) == wedge;
    }
    void border(const BorderWrite& w) const {
        if (cut->wedges[static_cast<std::size_t>(wedge)].test.outside(w.x, w.y,
                                                                      footprintReach(w.radius))) {
            return;
        }
        writeBorder(*targets, w, [this](std::int32_t x, std::int32_t y) { return owns(x, y); });
    }
    void borderSurface(const render::SurfaceSplat& s) const {
        if (cut->wedges[static_cast<std::size_t>(wedge)].test.outside(s.x, s.y,
                                                                      footprintReach(s.radius()))) {
            return;
        }
        render::writeSurfaceSplat(
            *targets->soft, s, [this](std::int32_t x, std::int32_t y) { return owns(x, y); },
            targets->coverage);
    }
    // Writes the surface splat of the sample at frame pixel (x, y) into `soft`: all of it where
    // the wedge holds its whole footprint, else the pixels the wedge owns.
    [[gnu::always_inline]] void surface(std::int32_t x, std::int32_t y,
                                        const render::SurfaceSplat& s,
                                        render::SoftSplatBuffer& soft,
                                        std::uint8_t* coverage) const {
        if (!whole(x, y, s.radius())) {
            borderSurface(s);
            return;
        }
        render::writeSurfaceSplat(
            soft, s, [](std::int32_t, std::int32_t) { return true; }, coverage);
    }
};

// Left to the program, a draw is shared among the threads from this many samples on: below, the
// hand-over to the workers and the bands cost more than the second core gains.
inline constexpr std::int64_t kParallelSamples = 100000;

// The wedges a draw of about the given samples is cut into (0: none).
inline int wedgesForDraw(std::int64_t samples) {
    if (platform::drawThreadsAutomatic() && samples < kParallelSamples) {
        return 0;
    }
    return render::wedgesFor(platform::frameThreads());
}

// About the samples of the traversal range r of ldi: by the density once it is known, else
// taking them as spread evenly over the grid.
inline std::int64_t drawSamples(LdiBase& ldi, const render::TraversalRange& r) {
    const std::int64_t all = ldi.DepthPixelCount();
    if (platform::drawThreadsAutomatic() && all >= kParallelSamples) {
        return static_cast<std::int64_t>(ldi.SampleDensityOfGrid().within(r.x0, r.y0, r.x1, r.y1));
    }
    const double area = static_cast<double>(std::max(r.x1 - r.x0, 0)) * std::max(r.y1 - r.y0, 0);
    const double grid = static_cast<double>(std::max(ldi.width(), 1)) * std::max(ldi.height(), 1);
    return static_cast<std::int64_t>(static_cast<double>(all) * area / grid);
}

// The wedge cut of a draw of ldi into a frame of the given size, of samples whose depths lie in
// [zLow, zHigh]: wedgesFor(drawing threads) wedges sharing the samples (unless the wedge count is
// set), none for one thread or, left to the program, for a small draw.
inline render::WedgeCut wedgeCut(LdiBase& ldi, std::int32_t outWidth, std::int32_t outHeight,
                                 float reach, double zLow = -1.0, double zHigh = 1.0) {
    render::WedgeCutInput in;
    in.setup = ldi.warp.setup;
    in.range = ldi.warp.range;
    in.outWidth = outWidth;
    in.outHeight = outHeight;
    in.reach = reach;
    in.zLow = zLow;
    in.zHigh = zHigh;
    // The samples the traversal meets.
    const render::TraversalRange& r = ldi.warp.range;
    in.count = wedgesForDraw(drawSamples(ldi, r));
    if (in.count > 0) {
        in.density = &ldi.SampleDensityOfGrid();
    }
    return render::makeWedgeCut(in);
}

// Draws a traversal wedge by wedge on the drawing pool. k is the kernel record (with members
// out, visited, inside and written). traverse(split) must hand every run of the traversal, in
// order, to split(run, drawPart), which calls drawPart(Kernel& record, const RowRun& part) for
// the parts of the run to draw, in order. Each wedge draws on copies of k: one for its own
// parts, which writes without tests, one for its own parts near its borders, and one for its
// neighbours' band parts, whose counters are dropped. Without wedges, every run is drawn whole
// on k.
template <class Kernel, class Traverse>
void drawWedges(Kernel& k, const render::WedgeCut& cut, const WriteTargets& targets,
                Traverse&& traverse) {
    if (cut.wedges.empty()) {
        traverse([&k](const render::RowRun& run, auto&& drawPart) { drawPart(k, run); });
        return;
    }
    const std::size_t n = cut.wedges.size();
    // Per wedge: own, ownBorder and band records, as RunPart::Kind counts them.
    std::vector<Kernel> records(3 * n, k);
    for (std::size_t i = 0; i < records.size(); ++i) {
        Kernel& r = records[i];
        r.visited = 0;
        r.inside = 0;
        r.written = 0;
        if (i % 3 != render::RunPart::own) {
            r.out = WedgeOutput{&cut, static_cast<int>(i / 3), &targets,
                                i % 3 == render::RunPart::band};
        }
    }
    platform::drawPool().run(static_cast<int>(n), [&](int i) {
        const auto wedge = static_cast<std::size_t>(i);
        Kernel* const mine = &records[3 * wedge];
        std::array<render::RunPart, render::WedgeCut::kMaxParts> parts;
        traverse([&](const render::RowRun& run, auto&& drawPart) {
            const int count = cut.parts(run, cut.wedges[wedge], parts);
            for (int p = 0; p < count; ++p) {
                const render::RunPart& part = parts[static_cast<std::size_t>(p)];
                drawPart(mine[part.kind], part.run);
            }
        });
    });
    for (std::size_t i = 0; i < n; ++i) {
        for (const Kernel* r : {&records[3 * i + render::RunPart::own],
                                &records[3 * i + render::RunPart::ownBorder]}) {
            k.visited += r->visited;
            k.inside += r->inside;
            k.written += r->written;
        }
    }
}

// The row runs of the traversal that pass filter, drawn wedge by wedge (drawWedges) through
// drawRun(Kernel& record, const RowRun& part).
template <class Kernel, class DrawRun>
void drawRunsInWedges(Kernel& k, LdiBase& ldi, render::Traversal kind, const RowFilter& filter,
                      const render::WedgeCut& cut, const WriteTargets& targets, DrawRun&& drawRun) {
    drawWedges(k, cut, targets, [&](auto&& split) {
        traverseRuns(ldi, kind, filter, [&](const render::RowRun& run) { split(run, drawRun); });
    });
}

// The kernels count in 64 bits; the statistics record holds int32 counters, clamped.
inline void storeCounters(LdiDrawStats& stats, std::int64_t visited, std::int64_t inside,
                          std::int64_t written) {
    stats.visited = static_cast<std::int32_t>(std::min<std::int64_t>(visited, INT32_MAX));
    stats.inside = static_cast<std::int32_t>(std::min<std::int64_t>(inside, INT32_MAX));
    stats.written = static_cast<std::int32_t>(std::min<std::int64_t>(written, INT32_MAX));
}

}  // namespace strata::ldi::kernel
