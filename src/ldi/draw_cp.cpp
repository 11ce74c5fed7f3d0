// Warp kernels of the compact-pixel kinds. A CP word holds its colour and an 8-bit depth code; the
// code's bin gives the normalised depth (binValue) and the reference eye depth (binFactor), so
// the splat size is the sample's magnification from the reference view, binFactor x (Z / W) x S,
// in reference pixels. The warp, traversal and footprints are those of the QP kernels; CP has no
// normals, so nothing is back-face culled.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "geometry/depth.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/draw_support.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/sample_batch.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/traversal.h"

namespace strata::ldi {
namespace {

using geometry::Vector4;

// Sizes below this are one pixel. The CP size is the sample's magnification from the reference
// view: exactly 1 in the reference view itself, where rounding alone would put about half of
// the samples on the 3 x 3 side of 1 and blur the picture. A magnification of 1 is one pixel
// (the QP and MRQP size classes keep their sizes just under 1 for the same reason).
constexpr float kOnePixel = 1.0f + 1.0f / 256.0f;

// Everything the row kernels read, gathered once per draw so a row runs from locals only.
struct CpKernel {
    // Source arrays.
    const LdiRtCp* ldi = nullptr;
    const std::uint32_t* pixels = nullptr;
    const std::uint8_t* layerCount = nullptr;
    std::int32_t ldiWidth = 0;
    kernel::FrameTarget target;
    kernel::SoftTarget soft;           // high-quality mode
    kernel::SurfaceShaper surface;     // its footprints
    std::uint8_t* coverage = nullptr;  // one byte per frame pixel, or null
    std::int32_t onlyLayer = -1;       // from the front; -1 draws every layer
    // Warp.
    geometry::Matrix4 transform;
    Vector4 zCol;
    // Tables and settings.
    const float* binValue = nullptr;   // normalised depth by code
    const float* binFactor = nullptr;  // reference eye depth (negative) by code
    float splatScale = 0.0f;
    kernel::DepthCorrection correction;
    bool useCorrection = false;
    int mode = 0;
    float ldiNear = 1.0f;  // the reference camera's near and far (false-colour sizes)
    float ldiFar = 2.0f;
    kernel::DepthGrey depthGrey;  // false-colour mode 2
    kernel::WedgeOutput out;      // the wedge this record draws, when the draw is cut
    // Counters.
    std::int64_t visited = 0;
    std::int64_t inside = 0;  // unused: every sample kept by the screen test is written
    std::int64_t written = 0;
};

// The false colour of one CP sample. CP stores no normal: mode 3 shows every sample as facing
// the viewer (black); modes without a rule for CP (4, 7 and any other) write the true colour.
inline std::uint32_t cpFalseColour(const CpKernel& k, std::uint32_t word, float zOut, float s,
                                   std::int32_t fromFront) {
    switch (k.mode) {
        case 1:
            return 0xFFFFFFu;
        case 2:
            return k.depthGrey.colour(zOut);
        case 3:
            return 0x000000u;
        case 5:
        case 6:
            return s < 1.5f   ? 0xFFFFFFu
                   : s < 3.0f ? 0xFFFF00u
                   : s < 5.0f ? 0x0000FFu
                   : s < 7.0f ? 0xFF0000u
                              : 0x00FF00u;
        case render::kLayerFalseColorMode:
            return render::layerColour(fromFront);
        default:
            return word;
    }
}

// What the writes need of a batched sample besides its place: its word and its layer counted
// from the front.
struct CpSampleSide {
    std::uint32_t word[kernel::SampleBatch::kPadded];
    std::int32_t fromFront[kernel::SampleBatch::kPadded];
};

// Draws one row run. The samples are gathered in drawing order into batches, placed a batch at
// a time and written in that order. CP keeps a running index into the pixels: the counts of the
// columns before the run's first pixel are summed once, then each step adds (moving right) or
// subtracts (moving left) one pixel's layer count.
template <bool kFalseColour, bool kSplat, bool kSoft>
void drawRun(CpKernel& k, const render::RowRun& run) {
    // Positions step from the first pixel of the row's whole run (see RowRun::lead).
    Vector4 p =
        geometry::transform(k.transform, {static_cast<float>(render::leadColumn(run)) + 0.5f,
                                          static_cast<float>(run.row) + 0.5f, 0.0f, 1.0f});
    const Vector4 step =
        geometry::transform(k.transform, {static_cast<float>(run.direction), 0.0f, 0.0f, 0.0f});
    const Vector4 runFirst = p;
    render::stepOverLead(run, p, step);
    const std::int32_t direction = run.direction;
    const std::uint8_t* counts =
        k.layerCount + static_cast<std::intptr_t>(run.readRow) * (k.ldiWidth + 1);
    // Moving left, the index starts at the end of the first pixel's layers.
    std::int64_t b = k.ldi->FirstLayer(run.readRow, direction > 0 ? run.column : run.column + 1);
    const std::uint32_t* const pixels = k.pixels;
    const float* const binValue = k.binValue;
    const float* const binFactor = k.binFactor;
    const Vector4 zc = k.zCol;
    const std::int32_t stride = k.target.stride;
    const float splatScale = k.splatScale;
    std::uint32_t* const frame = k.target.pixels;
    const bool useCorrection = k.useCorrection;
    std::uint8_t* const coverage = k.coverage;
    const std::int32_t onlyLayer = k.onlyLayer;
    std::int64_t visited = 0;
    std::int64_t written = 0;

    // The batch lives on the stack of the run: runs drawn at the same time never share one.
    kernel::SampleBatch batch;
    CpSampleSide side;
    int gathered = 0;

    // Places the gathered samples and writes them, in order.
    const auto flush = [&](int count) {
        batch.count = count;
        kernel::placeSamples(batch, zc, k.target);
        for (int j = 0; j < count; ++j) {
            if (batch.placement[j] != kernel::Placement::inside) {
                continue;
            }
            const std::uint32_t word = side.word[j];
            const std::int32_t X = batch.X[j];
            const std::int32_t Y = batch.Y[j];
            if (k.out.skips(X, Y)) {
                continue;
            }
            const float zOut = batch.zOut[j];
            if constexpr (kSoft) {
                // CP stores no normals and too coarse a depth for slopes: each sample's
                // reference pixel on a plane facing the reference camera, never culled; one
                // pixel without splatting.
                render::SurfaceSplat splat;
                const Vector4 centre{batch.px[j], batch.py[j], batch.pz[j], batch.pw[j]};
                if (!k.surface.shape(centre, batch.z[j], 0, batch.sx[j], batch.sy[j], zOut, X, Y,
                                     splat)) {
                    continue;
                }
                if constexpr (!kSplat) {
                    kernel::collapseToPixel(splat);
                }
                splat.colour = word;
                splat.hidden = side.fromFront[j] != 0 ? render::kHiddenSurface : 0;
                k.out.surface(X, Y, splat, *k.soft.buffer, coverage);
                ++written;
                continue;
            }
            float s = 0.9f;  // one pixel
            if constexpr (kSplat) {
                // Reference eye depth over output eye depth (both negative), times S.
                const float eye = kFalseColour
                                      ? geometry::perspectiveEye(batch.z[j], k.ldiNear, k.ldiFar)
                                      : binFactor[word >> 24];
                s = eye * zOut * splatScale;
                if (useCorrection) {
                    s /= k.correction.at(X, Y);
                }
            }
            if (const int radius = kSplat && !(s < kOnePixel) ? render::footprintRadius(s) : 0;
                !k.out.whole(X, Y, radius)) {
                k.out.border(
                    {X, Y, kFalseColour ? cpFalseColour(k, word, zOut, s, side.fromFront[j]) : word,
                     zOut, static_cast<std::uint8_t>(radius), 0});
                ++written;
                continue;
            }
            const std::uint32_t colour =
                kFalseColour ? cpFalseColour(k, word, zOut, s, side.fromFront[j]) : word;
            const std::intptr_t offset = batch.offset[j];
            std::uint32_t* const at = frame + offset;
            int radius = 0;
            if (!kSplat || s < kOnePixel) {
                *at = colour;
            } else if (s < 3.0f) {
                render::writeFootprint3(at, stride, colour);
                radius = 1;
            } else {
                radius = render::footprintRadius(s);
                render::writeFootprint(at, stride, radius, colour);
            }
            if (coverage != nullptr) {
                render::markCoverage(coverage + offset, stride, radius);
            }
            ++written;
        }
    };

    std::int32_t column = run.column;
    for (std::int32_t i = 0; i < run.count; ++i, column += direction) {
        const std::int32_t layers = counts[column];
        if (direction < 0) {
            b -= layers;
        }
        const std::uint32_t* px = pixels + b;
        if (direction > 0) {
            b += layers;
        }
        visited += layers;
        // Layers are stored farthest first: layer `layers - 1` is the front one.
        const kernel::LayerSpan span = kernel::layersToDraw(layers, onlyLayer);
        for (std::int32_t layer = span.first; layer < span.end; ++layer) {
            if (gathered == kernel::SampleBatch::kCapacity) {
                flush(gathered);
                gathered = 0;
            }
            const std::uint32_t word = px[layer];
            batch.set(gathered, p, binValue[word >> 24]);
            side.word[gathered] = word;
            if constexpr (kFalseColour || kSoft) {
                side.fromFront[gathered] = layers - 1 - layer;
            }
            ++gathered;
        }
        p.x += step.x;
        p.y += step.y;
        p.z += step.z;
        p.w += step.w;
    }
    render::noteRunEnd(run, runFirst, step, p);
    flush(gathered);
    k.visited += visited;
    k.written += written;
}

CpKernel makeKernel(const LdiRtCp& ldi, imageutil::RgbImage& frame) {
    const render::WarpState& warp = ldi.warp;
    const LdiRenderOptions& o = ldi.options;
    CpKernel k;
    k.ldi = &ldi;
    k.pixels = ldi.pixels;
    k.layerCount = ldi.layerCount;
    k.ldiWidth = ldi.width();
    k.target = kernel::frameTarget(frame);
    k.coverage = ldi.inspection.coverage;
    k.onlyLayer = ldi.inspection.onlyLayer;
    k.transform = warp.setup.transform;
    k.zCol = warp.setup.zColumn;
    k.binValue = ldi.binValue.data();
    k.binFactor = ldi.binFactor.data();
    k.splatScale = warp.splatScale;
    k.correction = kernel::depthCorrection(warp, frame.width, frame.height);
    k.useCorrection = o.useDepthCorrection != 0;
    k.mode = o.falseColorMode;
    k.ldiNear = ldi.header.view.near;
    k.ldiFar = ldi.header.view.far;
    k.depthGrey = kernel::depthGrey(warp.outputCamera);
    return k;
}

template <bool kFalseColour, bool kSplat, bool kSoft = false>
void traverse(CpKernel& k, LdiRtCp& ldi, render::Traversal kind, const render::WedgeCut& cut,
              const kernel::WriteTargets& targets) {
    kernel::drawRunsInWedges(k, ldi, kind, kernel::rowFilter(ldi, kind), cut, targets,
                             [](CpKernel& wedge, const render::RowRun& part) {
                                 drawRun<kFalseColour, kSplat, kSoft>(wedge, part);
                             });
}

}  // namespace

LdiDrawStats LdiRtCp::Draw(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                           const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                           float* depthBuffer, IntRange xRange, IntRange yRange) {
    (void)viewMatrix;   // the sizes need only the two cameras
    (void)depthBuffer;  // the traversal order alone resolves occlusion
    if (!BeginDraw(*this, warpMatrix, outputCamera, frame, xRange, yRange)) {
        return drawStats;
    }
    if (pixels == nullptr || rowStart == nullptr || layerCount == nullptr ||
        allocatedWidth_ != width() || allocatedHeight_ != height()) {
        return drawStats;
    }
    CpKernel k = makeKernel(*this, frame);
    k.soft = kernel::softTarget(*this, frame);
    k.surface = kernel::surfaceShaper(warp);
    const kernel::DrawPasses passes = kernel::drawPasses(options);
    const bool splat = options.useSplat != 0;
    // The uncovered mode shows the true picture (the frame marks the holes afterwards).
    const bool falseColour =
        options.useFalseColor != 0 && options.falseColorMode != render::kUncoveredFalseColorMode;
    // Depths come from the bin table, as the file gave it.
    float zLow = 0.0f;
    float zHigh = 0.0f;
    for (std::size_t i = 0; i < 256; ++i) {
        if (std::isfinite(binValue[i])) {  // others are never drawn
            zLow = std::min(zLow, binValue[i]);
            zHigh = std::max(zHigh, binValue[i]);
        }
    }
    const render::WedgeCut cut = kernel::wedgeCut(
        *this, frame.width, frame.height, splat ? kernel::footprintReach(3) : 0.0f, zLow, zHigh);
    const kernel::WriteTargets targets{frame.pixels, frame.width, nullptr, k.coverage,
                                       k.soft.buffer};
    for (int i = 0; i < passes.count; ++i) {
        if (k.soft.buffer != nullptr) {
            splat ? traverse<false, true, true>(k, *this, passes[i], cut, targets)
                  : traverse<false, false, true>(k, *this, passes[i], cut, targets);
        } else if (splat) {
            falseColour ? traverse<true, true>(k, *this, passes[i], cut, targets)
                        : traverse<false, true>(k, *this, passes[i], cut, targets);
        } else {
            falseColour ? traverse<true, false>(k, *this, passes[i], cut, targets)
                        : traverse<false, false>(k, *this, passes[i], cut, targets);
        }
    }
    // Every sample kept by the screen test is written.
    kernel::storeCounters(drawStats, k.visited, k.written, k.written);
    return drawStats;
}

}  // namespace strata::ldi
