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
#include "platform/fp_mode.h"
#include "platform/worker_pool.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/soft_splat.h"
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
    float pixelAngle = 0.0f;  // 2 tan(fov / 2) / picture width: one output pixel seen from the eye

    // A sample of the given splat size at (x, y) of the frame buffer: the footprint that size
    // selects, depth-tested with a tolerance of the footprint's own depth extent: its width in
    // output pixels (at least one) grown by the surface's slope along the output ray, at the
    // sample's output depth zOut (-1/distance). hidden: not the front sample of its LDI pixel.
    void splat(std::int32_t x, std::int32_t y, float size, float slope, std::uint32_t colour,
               float zOut, bool hidden = false) const {
        render::softSplat(*buffer, x, y, render::footprintRadius(size), colour, zOut,
                          tolerance(size, slope, zOut), hidden);
    }

    float tolerance(float size, float slope, float zOut) const {
        const float extent = std::max(size, 1.0f) * (1.0f + slope);
        return extent * pixelAngle * -zOut;
    }
};

// The backface test of the high-quality mode drops every sample facing away from the output
// eye (normal . output ray above this), where the default mode keeps those within 0.1 of
// grazing: the depth test cannot stop a back face's footprint spilling past a silhouette.
inline constexpr float kSoftBackfaceFacing = 0.0f;

// Marks the buffer written when the draw will use it.
inline SoftTarget softTarget(LdiBase& ldi, const imageutil::RgbImage& frame) {
    SoftTarget t;
    const render::WarpState& warp = ldi.warp;
    if (ldi.options.highQualitySplats != 0 && ldi.options.useFalseColor == 0 &&
        render::softTargetFits(warp, frame.width, frame.height)) {
        t.buffer = warp.soft;
        t.buffer->written = true;
        t.pixelAngle = 2.0f * warp.tanOut / static_cast<float>(std::max(warp.outWidth, 1));
    }
    return t;
}

// The slope (tangent of the angle between the surface and the view plane) a surface of normal
// n shows along the output ray omega, whose dot product with n is facing; grazing surfaces are
// limited to kMaxSurfaceSlope. Surfaces without normals take kUnknownSurfaceSlope.
inline constexpr float kMaxSurfaceSlope = 4.0f;
inline constexpr float kUnknownSurfaceSlope = 2.0f;
inline float surfaceSlope(float facing, const geometry::Vector3& omega) {
    // tan^2 = (|omega|^2 - facing^2) / facing^2: one division.
    const float facing2 = facing * facing;
    const float length2 = omega.squaredLength();
    return facing2 * (1.0f + kMaxSurfaceSlope * kMaxSurfaceSlope) > length2
               ? std::sqrt((length2 - facing2) / facing2)
               : kMaxSurfaceSlope;
}

// The accurate splat size of a sample of normal n on reference ray rho seen along output ray
// omega: the class size (a reference eye depth) over the output eye depth (-1/zOut), times the
// draw's scale S, times sqrt of how much more the surface faces the output ray than the
// reference ray (limited to kHighQualitySizeRatio in the high-quality mode). Sets facing to
// n . omega.
template <bool kCapped>
inline float accurateSize(const geometry::Vector3& rho, const geometry::Vector3& omega,
                          const geometry::Vector3& n, float classSize, float splatScale, float zOut,
                          float& facing) {
    const float m = std::sqrt(rho.squaredLength() / omega.squaredLength());
    const float fIn = geometry::dot(n, rho);
    facing = geometry::dot(n, omega);
    float ratio = std::sqrt(std::fabs(m * facing / fIn));
    if constexpr (kCapped) {
        ratio = std::min(ratio, render::kHighQualitySizeRatio);
    }
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
    static constexpr std::uint8_t kSoft = 1;         // a soft splat, not a blended footprint
    static constexpr std::uint8_t kDepthCentre = 2;  // the depth buffer takes the centre only
    static constexpr std::uint8_t kHidden = 4;       // a soft splat of a sample hidden in its pixel

    static constexpr std::uint8_t softFlags(bool hidden) {
        return hidden ? kSoft | kHidden : kSoft;
    }

    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t word = 0;
    float zOut = 0.0f;
    float tolerance = 0.0f;  // soft splats
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

// Writes the pixels of w's footprint (frame or soft buffer, depth, coverage) for which
// take(x, y) holds, each exactly as the whole write would.
template <class Take>
void writeBorder(const WriteTargets& t, const BorderWrite& w, Take&& take) {
    const int r = w.radius;
    const render::SoftFootprint& f = render::kSoftFootprints[r];
    const bool soft = (w.flags & BorderWrite::kSoft) != 0;
    const std::uint64_t spread = soft ? render::spreadColour(w.word) : 0;
    const std::uint64_t hidden = (w.flags & BorderWrite::kHidden) != 0 ? render::kHiddenSurface : 0;
    for (int dy = -r; dy <= r; ++dy) {
        const std::int32_t y = w.y + dy;
        const std::intptr_t row = static_cast<std::intptr_t>(y) * t.stride;
        for (int dx = -r; dx <= r; ++dx) {
            const std::int32_t x = w.x + dx;
            if (!take(x, y)) {
                continue;
            }
            const std::intptr_t at = row + x;
            const std::uint8_t weight = r == 0 ? render::kWeightNew : f.weight[dy + 3][dx + 3];
            if (soft) {
                render::softWrite(t.soft->pixels[static_cast<std::size_t>(at)], w.zOut, w.tolerance,
                                  weight, spread, hidden);
            } else {
                std::uint32_t& p = t.frame[at];
                p = weight == render::kWeightNew    ? w.word
                    : weight == render::kWeightHalf ? render::blendHalf(p, w.word)
                                                    : render::blendQuarter(p, w.word);
                if (t.depth != nullptr &&
                    ((w.flags & BorderWrite::kDepthCentre) == 0 || (dx == 0 && dy == 0))) {
                    t.depth[at] = w.zOut;
                }
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
};

// Left to the program, a draw is shared among the threads from this many samples on: below, the
// hand-over to the workers and the bands cost more than the second core gains.
inline constexpr std::int64_t kParallelSamples = 100000;

// The wedges a draw of about the given samples is cut into (0: none).
inline int wedgesForDraw(std::int64_t samples) {
    if (platform::drawThreadsAutomatic() && samples < kParallelSamples) {
        return 0;
    }
    return render::wedgesFor(platform::drawThreads());
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
