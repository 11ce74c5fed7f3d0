// Warp kernels of the quantised-pixel kinds. Every depth pixel is carried into the output view
// by an incremental projective warp: the warp transform applied to the pixel centre at depth 0
// is stepped by one column per pixel (four additions), and a sample of depth z adds z times the
// transform's depth column (three multiply-adds). Samples are written as one pixel or a blended
// footprint, in the occlusion-compatible order of the traversal, so no depth test is needed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "geometry/depth.h"
#include "geometry/normal_table.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/draw_support.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "ldi/sample_batch.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/soft_splat.h"
#include "render/traversal.h"

namespace strata::ldi {
namespace {

using geometry::Vector3;
using geometry::Vector4;

using kernel::clampChannel;
using kernel::grey;

// Everything the row kernels read, gathered once per draw so a row runs from locals only.
struct QpKernel {
    // Source arrays.
    const std::uint32_t* pixels = nullptr;
    const std::int32_t* rowStart = nullptr;
    const std::uint16_t* layerOffset = nullptr;
    std::int32_t ldiWidth = 0;
    // Output.
    std::uint32_t* frame = nullptr;
    float* depth = nullptr;
    std::uint8_t* coverage = nullptr;  // one byte per frame pixel, or null
    std::int32_t onlyLayer = -1;       // from the front; -1 draws every layer
    std::int32_t outW = 0;
    std::int32_t maxX = 0;  // last column and row a 7 x 7 footprint may be centred on
    std::int32_t maxY = 0;
    float guardX = 0.0f;  // (outW - 6): the guard band keeps every footprint inside the frame
    float guardY = 0.0f;
    // Warp.
    geometry::Matrix4 transform;
    Vector4 zCol;
    // Tables and settings.
    const float* sizeTable = nullptr;
    kernel::DepthCorrection correction;
    const float* binValue = nullptr;
    float splatScale = 0.0f;
    bool useCorrection = false;
    bool backface = false;
    bool needFacing = false;   // the backface test or false-colour mode 3 reads facing
    bool fixedRefRay = false;  // settings given: the reference ray is the camera direction
    int mode = 0;
    // Rays.
    const geometry::ImagePlaneFrame* refFrame = nullptr;
    Vector3 refDir;
    Vector3 outCorner;
    Vector3 outDelUp;
    Vector3 outDelBi;
    Vector3 outDirUnit;
    const Vector3* normals = nullptr;
    std::uint32_t normalColour[geometry::kNormalCount] = {};  // false-colour mode 4, per draw
    float depthScale = 0.0f;  // false-colour mode 2: 255 / (1/near - 1/far)
    float invFar = 0.0f;
    float facing = 0.0f;
    kernel::SoftTarget soft;        // high-quality mode
    kernel::SurfaceShaper surface;  // its footprints
    kernel::WedgeOutput out;        // the wedge this record draws, when the draw is cut
    // Counters.
    std::int64_t visited = 0;
    std::int64_t inside = 0;
    std::int64_t written = 0;
};

// The false colour of one sample (alpha byte 0); modes without a colour rule write the
// sample's true colour.
inline std::uint32_t falseColour(const QpKernel& k, std::uint32_t colour, std::uint32_t q,
                                 float zOut, float s, std::int32_t fromFront) {
    switch (k.mode) {
        case 1:
            return grey(255 - static_cast<long>((q & 0xFFFFFu) >> 12));
        case 2:
            return clampChannel(k.depthScale * (-zOut - k.invFar)) * 0x010101u;
        case 3:
            return k.facing > 0.1f ? 0xFFFFFFu : 0x000000u;
        case 4:
            return k.normalColour[(q >> 25) & 63u];
        case 5:
        case 6:
            return s < 1.5f   ? 0xFFFFFFu
                   : s < 3.5f ? 0xFFFF00u
                   : s < 5.5f ? 0x0000FFu
                   : s < 7.5f ? 0xFF0000u
                              : 0x00FF00u;
        case 7:
            return kernel::anisotropyRed(k.normals[(q >> 25) & 63u], k.outDirUnit, k.refDir,
                                         k.binValue[(q >> 20) & 31u], zOut);
        case render::kLayerFalseColorMode:
            return render::layerColour(fromFront);
        default:
            return colour | 0xFF000000u;
    }
}

// The size path of a draw, fixed per draw so the row loop carries no test for it.
enum class SizePath { single, table, accurate };

// What the writes need of a batched sample besides its place: its depth and colour words, its
// layer counted from the front and (accurate sizes only) its pixel's reference ray.
struct QpSampleSide {
    const std::uint32_t* px[kernel::SampleBatch::kPadded];
    std::int32_t fromFront[kernel::SampleBatch::kPadded];
    float rhoX[kernel::SampleBatch::kPadded];  // plain floats: nothing to construct per run
    float rhoY[kernel::SampleBatch::kPadded];
    float rhoZ[kernel::SampleBatch::kPadded];
};

// Draws one row run: startRow, then every layer of every pixel of the run. The samples are
// gathered in drawing order into batches, placed a batch at a time and written in that order.
// Everything the loop reads is copied into locals first: the frame is written through a
// uint32_t pointer, which the compiler must otherwise assume may change any 32-bit field of the
// kernel record.
template <bool kFalseColour, SizePath kSize, bool kSoft>
void drawRun(QpKernel& k, const render::RowRun& run) {
    const float d = static_cast<float>(run.direction);
    // Positions step from the first pixel of the row's whole run (see RowRun::lead).
    const auto column0 = static_cast<float>(render::leadColumn(run));
    Vector4 p = geometry::transform(
        k.transform, {column0 + 0.5f, static_cast<float>(run.row) + 0.5f, 0.0f, 1.0f});
    const Vector4 step = geometry::transform(k.transform, {d, 0.0f, 0.0f, 0.0f});
    const Vector4 runFirst = p;
    render::stepOverLead(run, p, step);
    const bool fixedRefRay = k.fixedRefRay;
    Vector3 rho =
        fixedRefRay ? k.refDir : k.refFrame->pixelRay(static_cast<float>(run.row), column0);
    const Vector3 rhoStep = k.refFrame->delBi * d;
    for (std::int32_t i = 0; !fixedRefRay && i < run.lead; ++i) {
        rho.add(rhoStep);
    }

    const std::int32_t readRow = run.readRow;
    const std::int32_t direction = run.direction;
    const std::uint16_t* offsets =
        k.layerOffset + static_cast<std::intptr_t>(readRow) * (k.ldiWidth + 1) + run.column;
    const std::uint32_t* rowPixels = k.pixels + 2 * static_cast<std::intptr_t>(k.rowStart[readRow]);
    const Vector4 zc = k.zCol;
    const std::int32_t outW = k.outW;
    const kernel::FrameTarget target{k.frame, outW, k.maxX, k.maxY, k.guardX, k.guardY};
    std::uint32_t* const frame = k.frame;
    float* const depth = k.depth;
    std::uint8_t* const coverage = k.coverage;
    const std::int32_t onlyLayer = k.onlyLayer;
    const float* const sizeTable = k.sizeTable;
    const bool useCorrection = k.useCorrection;
    const bool needFacing = k.needFacing;
    const bool backface = k.backface;
    float facing = k.facing;
    std::int64_t visited = 0;
    std::int64_t inside = 0;
    std::int64_t written = 0;
    // The batch lives on the stack of the run: runs drawn at the same time never share one.
    kernel::SampleBatch batch;
    QpSampleSide side;
    int gathered = 0;

    // Places the gathered samples and writes them, in order.
    const auto flush = [&](int count) {
        batch.count = count;
        kernel::placeDepthWords(batch, zc, target);
        for (int j = 0; j < count; ++j) {
            if (batch.placement[j] != kernel::Placement::inside) {
                continue;
            }
            const std::uint32_t* const px = side.px[j];
            const std::uint32_t q = px[1];
            const float sx = batch.sx[j];
            const float sy = batch.sy[j];
            const std::int32_t X = batch.X[j];
            const std::int32_t Y = batch.Y[j];
            if (k.out.skips(X, Y)) {
                continue;
            }
            const float zOut = batch.zOut[j];
            ++inside;

            if constexpr (kSoft) {
                // The sample's reference pixel on its tangent plane, unless its surface is seen
                // from the side that hides it; one pixel without splatting.
                render::SurfaceSplat splat;
                const Vector4 centre{batch.px[j], batch.py[j], batch.pz[j], batch.pw[j]};
                if (!k.surface.shape(centre, batch.z[j],
                                     static_cast<std::size_t>((px - k.pixels) / 2), sx, sy, zOut, X,
                                     Y, splat)) {
                    continue;
                }
                if constexpr (kSize == SizePath::single) {
                    kernel::collapseToPixel(splat);
                }
                splat.colour = px[0];
                splat.hidden = side.fromFront[j] != 0 ? render::kHiddenSurface : 0;
                k.out.surface(X, Y, splat, *k.soft.buffer, coverage);
                ++written;
                continue;
            }
            float s = 0.9f;  // one pixel
            bool haveFacing = false;
            if constexpr (kSize != SizePath::single) {
                if constexpr (kSize == SizePath::table) {
                    // An index of 0x800 or more (bit 31 set) has no table entry: one pixel.
                    // The accurate path reads the normal and class fields alone.
                    s = (q & 0x80000000u) != 0 ? 0.0f : -zOut * sizeTable[q >> 20];
                } else {
                    const Vector3 r{side.rhoX[j], side.rhoY[j], side.rhoZ[j]};
                    const Vector3 omega = k.outCorner + sy * k.outDelUp + sx * k.outDelBi;
                    s = kernel::accurateSize(r, omega, k.normals[(q >> 25) & 63u],
                                             k.binValue[(q >> 20) & 31u], k.splatScale, zOut,
                                             facing);
                    haveFacing = true;
                }
                if (useCorrection) {
                    s /= k.correction.at(X, Y);
                }
            }
            if (needFacing) {
                if (!haveFacing) {
                    const Vector3 omega = k.outCorner + sy * k.outDelUp + sx * k.outDelBi;
                    facing = dot(k.normals[(q >> 25) & 63u], omega);
                }
                if (backface && facing > 0.1f) {
                    continue;  // facing away from the output eye
                }
            }

            if (const int radius = render::footprintRadius(s); !k.out.whole(X, Y, radius)) {
                std::uint32_t word = px[0] | 0xFF000000u;
                std::uint8_t flags = 0;
                if constexpr (kFalseColour) {
                    k.facing = facing;
                    word = falseColour(k, px[0], q, zOut, s, side.fromFront[j]);
                    flags = kernel::BorderWrite::kDepthCentre;
                }
                k.out.border({X, Y, word, zOut, static_cast<std::uint8_t>(radius), flags});
                ++written;
                continue;
            }
            const std::intptr_t at = batch.offset[j];
            if constexpr (kFalseColour) {
                k.facing = facing;
                const std::uint32_t word = falseColour(k, px[0], q, zOut, s, side.fromFront[j]);
                const int radius = render::footprintRadius(s);
                if (radius == 1) {
                    render::writeFootprint3(frame + at, outW, word);
                } else {
                    render::writeFootprint(frame + at, outW, radius, word);
                }
                if (depth != nullptr) {
                    depth[at] = zOut;
                }
                if (coverage != nullptr) {
                    render::markCoverage(coverage + at, outW, radius);
                }
            } else if (kSize == SizePath::single || s < 1.0f) {
                frame[at] = px[0] | 0xFF000000u;
                if (depth != nullptr) {
                    depth[at] = zOut;
                }
                if (coverage != nullptr) {
                    coverage[at] = 1;
                }
            } else if (s < 3.0f) {
                // The most common splat gets its own inline copy of the 3 x 3 footprint.
                render::writeFootprint3(frame + at, outW, px[0] | 0xFF000000u);
                if (depth != nullptr) {
                    render::writeDepthSquare(depth + at, outW, 1, zOut);
                }
                if (coverage != nullptr) {
                    render::markCoverage(coverage + at, outW, 1);
                }
            } else {
                const int radius = render::footprintRadius(s);
                render::writeFootprint(frame + at, outW, radius, px[0] | 0xFF000000u);
                if (depth != nullptr) {
                    render::writeDepthSquare(depth + at, outW, radius, zOut);
                }
                if (coverage != nullptr) {
                    render::markCoverage(coverage + at, outW, radius);
                }
            }
            ++written;
        }
    };

    for (std::int32_t i = 0; i < run.count; ++i, offsets += direction) {
        const std::int32_t first = offsets[0];
        const std::int32_t layers = static_cast<std::int32_t>(offsets[1]) - first;
        const std::uint32_t* px = rowPixels + 2 * static_cast<std::intptr_t>(first);
        visited += layers > 0 ? layers : 0;
        // Layers are stored farthest first: layer `layers - 1` is the front one.
        const kernel::LayerSpan span = kernel::layersToDraw(layers, onlyLayer);
        px += 2 * static_cast<std::intptr_t>(span.first);
        for (std::int32_t layer = span.first; layer < span.end; ++layer, px += 2) {
            if (gathered == kernel::SampleBatch::kCapacity) {
                flush(gathered);
                gathered = 0;
            }
            batch.setWord(gathered, p, px[1]);
            side.px[gathered] = px;
            if constexpr (kFalseColour || kSoft) {
                side.fromFront[gathered] = layers - 1 - layer;
            }
            if constexpr (kSize == SizePath::accurate) {
                side.rhoX[gathered] = rho.x;
                side.rhoY[gathered] = rho.y;
                side.rhoZ[gathered] = rho.z;
            }
            ++gathered;
        }
        p.x += step.x;
        p.y += step.y;
        p.z += step.z;
        p.w += step.w;
        // Only the accurate sizes read the reference ray.
        if (kSize == SizePath::accurate && !fixedRefRay) {
            rho.add(rhoStep);
        }
    }
    render::noteRunEnd(run, runFirst, step, p);
    flush(gathered);
    k.facing = facing;
    k.visited += visited;
    k.inside += inside;
    k.written += written;
}

QpKernel makeKernel(LdiRtQp& ldi, imageutil::RgbImage& frame, float* depthBuffer) {
    const render::WarpState& warp = ldi.warp;
    const LdiRenderOptions& o = ldi.options;
    QpKernel k;
    k.pixels = ldi.pixels;
    k.rowStart = ldi.rowStart;
    k.layerOffset = ldi.layerOffset;
    k.ldiWidth = ldi.width();
    k.frame = frame.pixels;
    k.depth = depthBuffer;
    k.coverage = ldi.inspection.coverage;
    k.onlyLayer = ldi.inspection.onlyLayer;
    k.outW = frame.width;
    k.maxX = frame.width - 4;
    k.maxY = frame.height - 4;
    k.guardX = static_cast<float>(frame.width - 6);
    k.guardY = static_cast<float>(frame.height - 6);
    k.transform = warp.setup.transform;
    k.zCol = warp.setup.zColumn;
    k.sizeTable = warp.splatSize.entries.data();
    k.correction = kernel::depthCorrection(warp, frame.width, frame.height);
    k.binValue = ldi.binValue.data();
    k.splatScale = warp.splatScale;
    k.useCorrection = o.useDepthCorrection != 0;
    k.backface = o.backfaceCulling != 0;
    k.mode = o.falseColorMode;
    k.needFacing = k.backface || (o.useFalseColor != 0 && o.falseColorMode == 3);
    k.fixedRefRay = ldi.settingsGiven != 0;
    k.refFrame = &warp.refFrame;
    k.refDir = ldi.header.view.dir;
    k.outCorner = warp.outFrame.cornerRay;
    k.outDelUp = warp.outFrame.delUp;
    k.outDelBi = warp.outFrame.delBi;
    k.outDirUnit = geometry::normalized(warp.outputCamera.dir);
    k.normals = geometry::normalTable().data();
    for (int i = 0; i < geometry::kNormalCount; ++i) {
        k.normalColour[i] = kernel::normalColour(k.normals[i]);
    }
    const float near = warp.outputCamera.near;
    const float far = warp.outputCamera.far;
    k.depthScale = 255.0f / (1.0f / near - 1.0f / far);
    k.invFar = 1.0f / far;
    k.facing = warp.facing;
    return k;
}

template <bool kFalseColour, SizePath kSize, bool kSoft = false>
void traverse(QpKernel& k, LdiRtQp& ldi, render::Traversal kind, const kernel::RowFilter& filter,
              const render::WedgeCut& cut, const kernel::WriteTargets& targets) {
    kernel::drawRunsInWedges(k, ldi, kind, filter, cut, targets,
                             [](QpKernel& wedge, const render::RowRun& part) {
                                 drawRun<kFalseColour, kSize, kSoft>(wedge, part);
                             });
}

}  // namespace

LdiDrawStats LdiRtQp::Draw(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                           const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                           float* depthBuffer, IntRange xRange, IntRange yRange) {
    (void)viewMatrix;  // the splat-size table needs only the two cameras' directions
    if (!BeginDraw(*this, warpMatrix, outputCamera, frame, xRange, yRange)) {
        return drawStats;
    }
    if (pixels == nullptr || rowStart == nullptr || layerOffset == nullptr ||
        allocatedWidth_ != width() || allocatedHeight_ != height()) {
        return drawStats;
    }
    QpKernel k = makeKernel(*this, frame, depthBuffer);
    k.soft = kernel::softTarget(*this, frame);
    if (k.soft.buffer != nullptr) {
        k.surface = kernel::surfaceShaper(warp);
        const SurfaceSlopes& slopes = kernel::surfaceSlopesFor(
            *this, {pixels, 2, 1, rowStart, layerOffset, width(), height(), allocatedPixels_});
        k.surface.perColumn = slopes.perColumn.data();
        k.surface.perRow = slopes.perRow.data();
        k.surface.side = slopes.side.data();
        k.surface.openEdges = slopes.openEdges.data();
    }

    const kernel::DrawPasses passes = kernel::drawPasses(options);
    const float reach = options.useSplat != 0 ? kernel::footprintReach(3) : 0.0f;
    const render::WedgeCut cut = kernel::wedgeCut(*this, frame.width, frame.height, reach);
    const kernel::WriteTargets targets{frame.pixels, frame.width, depthBuffer, k.coverage,
                                       k.soft.buffer};
    for (int i = 0; i < passes.count; ++i) {
        const kernel::RowFilter filter = kernel::rowFilter(*this, passes[i]);
        const auto pass = [&]<bool kFalseColour, SizePath kSize, bool kSoft = false>() {
            traverse<kFalseColour, kSize, kSoft>(k, *this, passes[i], filter, cut, targets);
        };
        const SizePath size = options.useSplat == 0       ? SizePath::single
                              : options.sizeAccurate == 0 ? SizePath::table
                                                          : SizePath::accurate;
        const bool falseColour = options.useFalseColor != 0;
        if (k.soft.buffer != nullptr) {
            // High quality: true colour only; footprints from the surfaces, whatever the size
            // path, or single pixels.
            size == SizePath::single ? pass.template operator()<false, SizePath::single, true>()
                                     : pass.template operator()<false, SizePath::table, true>();
        } else if (size == SizePath::single) {
            falseColour ? pass.template operator()<true, SizePath::single>()
                        : pass.template operator()<false, SizePath::single>();
        } else if (size == SizePath::table) {
            falseColour ? pass.template operator()<true, SizePath::table>()
                        : pass.template operator()<false, SizePath::table>();
        } else {
            falseColour ? pass.template operator()<true, SizePath::accurate>()
                        : pass.template operator()<false, SizePath::accurate>();
        }
    }
    warp.facing = k.facing;
    kernel::storeCounters(drawStats, k.visited, k.inside, k.written);
    return drawStats;
}

void LdiRtQuad::HandOver(LdiRtQp& drawer) {
    drawer.options = options;
    drawer.inspection = inspection;
    drawer.settingsGiven = settingsGiven;
    drawer.warp.soft = warp.soft;
}

void LdiRtQuad::TakeBack(LdiRtQp& drawer) {
    // The inspection mask and the soft buffer belong to this frame only.
    drawer.inspection = LdiInspection{};
    drawer.warp.soft = nullptr;
}

LdiDrawStats LdiRtQuad::Draw(const geometry::Matrix4& warpMatrix,
                             const geometry::Matrix4& viewMatrix,
                             const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                             float* depthBuffer, IntRange xRange, IntRange yRange) {
    outputView = outputCamera;
    drawStats.reset();
    if (LdiRtQp* whole = Joined()) {
        HandOver(*whole);
        drawStats =
            whole->Draw(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer, xRange, yRange);
        TakeBack(*whole);
        return drawStats;
    }
    // The top half, then the bottom half, with the same arguments and this object's settings.
    for (LdiRtQp* half : {top(), bottom()}) {
        if (half == nullptr) {
            continue;
        }
        HandOver(*half);
        const LdiDrawStats s =
            half->Draw(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer, xRange, yRange);
        TakeBack(*half);
        drawStats.visited += s.visited;
        drawStats.inside += s.inside;
        drawStats.written += s.written;
    }
    return drawStats;
}

LdiDrawStats LdiRtQuad::DrawVisible(const geometry::Matrix4& warpMatrix,
                                    const geometry::Matrix4& viewMatrix,
                                    const geometry::ViewCamera& outputCamera,
                                    imageutil::RgbImage& frame, float* depthBuffer) {
    outputView = outputCamera;
    drawStats.reset();
    if (LdiRtQp* whole = Joined()) {
        HandOver(*whole);
        drawStats = whole->DrawVisible(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer);
        TakeBack(*whole);
        return drawStats;
    }
    // Each half over its own visible rectangle: the quad's is the top half's.
    for (LdiRtQp* half : {top(), bottom()}) {
        if (half == nullptr) {
            continue;
        }
        HandOver(*half);
        const LdiDrawStats s =
            half->DrawVisible(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer);
        TakeBack(*half);
        drawStats.visited += s.visited;
        drawStats.inside += s.inside;
        drawStats.written += s.written;
    }
    return drawStats;
}

}  // namespace strata::ldi
