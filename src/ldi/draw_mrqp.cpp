// Warp kernels of the multi-resolution kinds. Each MRQP depth pixel carries a 4 x 4 and a 2 x 2
// coverage mask of its reference pixel, with one colour per set bit. A sample that stays about
// one output pixel is drawn with its full colour; a magnified one is drawn as its mask at the
// resolution closest to its size (2 x 2, 4 x 4, the 4 x 4 stretched to 5 x 5 or 6 x 6 by
// doubling sub-cells), so edges inside a reference pixel stay sharp where the QP kinds blur.
// The warp, traversal and size rules are those of the QP kernels.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "geometry/depth.h"
#include "geometry/normal_table.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/draw_support.h"
#include "ldi/ldi_rt_mrqp.h"
#include "platform/bit_count.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/traversal.h"

namespace strata::ldi {
namespace {

using geometry::Vector3;
using geometry::Vector4;

// Where the four sub-columns (or sub-rows) of a 4 x 4 mask land in a block: first output
// column and number of columns of each. Stretching doubles one or two sub-cells.
struct Spans {
    std::int32_t start[4];
    std::int32_t span[4];
};
constexpr Spans kPlain{{0, 1, 2, 3}, {1, 1, 1, 1}};         // 4 wide
constexpr Spans kFirstDoubled{{0, 2, 3, 4}, {2, 1, 1, 1}};  // 5 wide
constexpr Spans kLastDoubled{{0, 1, 2, 3}, {1, 1, 1, 2}};   // 5 wide
constexpr Spans kOuterDoubled{{0, 2, 3, 4}, {2, 1, 1, 2}};  // 6 wide

// The block writers below write colours into the frame and, with one value for every bit, the
// same pixels into the coverage mask: T is the frame's or the mask's element.

// Writes the set bits of a 4 x 4 mask (bit 4 j + i: sub-row j from the bottom, sub-column i)
// into the block whose bottom-left pixel is origin, laid out by kCols and kRows. Each set bit
// takes the next colour of colours (or `single` for every bit); a doubled sub-cell writes its
// colour twice. A full mask, the common case inside surfaces, is written row by row.
template <const Spans& kCols, const Spans& kRows, bool kOneColour, class T>
inline void writeMask4(T* origin, std::intptr_t stride, std::uint32_t mask,
                       const std::type_identity_t<T>* colours, std::type_identity_t<T> single) {
    if (mask == 0xFFFFu) {
        constexpr int kWidth = kCols.start[3] + kCols.span[3];
        for (int j = 0; j < 4; ++j) {
            T row[kWidth];
            for (int i = 0; i < 4; ++i) {
                for (int dx = 0; dx < kCols.span[i]; ++dx) {
                    row[kCols.start[i] + dx] = kOneColour ? single : colours[4 * j + i];
                }
            }
            for (int dy = 0; dy < kRows.span[j]; ++dy) {
                std::memcpy(origin + (kRows.start[j] + dy) * stride, row, sizeof row);
            }
        }
        return;
    }
    int next = 0;
    for (int j = 0; j < 4; ++j) {
        const std::uint32_t rowBits = (mask >> (4 * j)) & 0xFu;
        if (rowBits == 0) {
            continue;
        }
        T* rowAt = origin + kRows.start[j] * stride;
        for (int i = 0; i < 4; ++i) {
            if (((rowBits >> i) & 1u) == 0) {
                continue;
            }
            const T c = kOneColour ? single : colours[next++];
            for (int dy = 0; dy < kRows.span[j]; ++dy) {
                T* cell = rowAt + dy * stride + kCols.start[i];
                for (int dx = 0; dx < kCols.span[i]; ++dx) {
                    cell[dx] = c;
                }
            }
        }
    }
}

// The 4 x 4 mask stretched to 5 x 5 around the corner (cx, cy) nearest the sample at (ex, ey)
// (corner coordinates): with a fraction of one half or more the first sub-column (sub-row) is
// doubled and the block starts 3 before the corner, else the last one and it starts 2 before.
template <bool kOneColour, class T>
inline void writeStretched(T* frame, std::intptr_t stride, std::int32_t cx, std::int32_t cy,
                           float ex, float ey, std::uint32_t mask,
                           const std::type_identity_t<T>* colours, std::type_identity_t<T> single) {
    const bool firstX = ex - static_cast<float>(platform::toInt(ex)) >= 0.5f;
    const bool firstY = ey - static_cast<float>(platform::toInt(ey)) >= 0.5f;
    T* origin = frame + (cy - (firstY ? 3 : 2)) * stride + (cx - (firstX ? 3 : 2));
    if (firstX) {
        firstY ? writeMask4<kFirstDoubled, kFirstDoubled, kOneColour>(origin, stride, mask, colours,
                                                                      single)
               : writeMask4<kFirstDoubled, kLastDoubled, kOneColour>(origin, stride, mask, colours,
                                                                     single);
    } else {
        firstY ? writeMask4<kLastDoubled, kFirstDoubled, kOneColour>(origin, stride, mask, colours,
                                                                     single)
               : writeMask4<kLastDoubled, kLastDoubled, kOneColour>(origin, stride, mask, colours,
                                                                    single);
    }
}

// The 2 x 2 mask (bits 0..3 here: bit 2 j + i) into the block at origin.
template <bool kOneColour, class T>
inline void writeMask2(T* origin, std::intptr_t stride, std::uint32_t mask,
                       const std::type_identity_t<T>* colours, std::type_identity_t<T> single) {
    if (!kOneColour && mask == 0xFu) {
        std::memcpy(origin, colours, 2 * sizeof(T));
        std::memcpy(origin + stride, colours + 2, 2 * sizeof(T));
        return;
    }
    int next = 0;
    for (int bit = 0; bit < 4; ++bit) {
        if (((mask >> bit) & 1u) != 0) {
            origin[(bit >> 1) * stride + (bit & 1)] = kOneColour ? single : colours[next++];
        }
    }
}

// The block a sample is drawn as: one pixel, the full 2 x 2 square, the 2 x 2 mask, the 4 x 4
// mask plain, stretched to 5 x 5, or stretched to 6 x 6.
enum class Block { pixel, square2, mask2, mask4, stretched, mask6 };

// Where a sample lands: its pixel, the pixel corner nearest it and its corner coordinates.
struct BlockPlace {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t cx = 0;
    std::int32_t cy = 0;
    float ex = 0.0f;
    float ey = 0.0f;
};

// Writes one sample's block into base (the frame, or the coverage mask with single = 1).
template <bool kOneColour, class T>
inline void writeBlock(T* base, std::intptr_t stride, Block block, const BlockPlace& at,
                       std::uint32_t mask4, std::uint32_t mask2,
                       const std::type_identity_t<T>* colours4,
                       const std::type_identity_t<T>* colours2, std::type_identity_t<T> single) {
    switch (block) {
        case Block::pixel:
            base[at.y * stride + at.x] = single;
            break;
        case Block::square2: {
            T* o = base + (at.cy - 1) * stride + (at.cx - 1);
            o[0] = o[1] = o[stride] = o[stride + 1] = single;
            break;
        }
        case Block::mask2:
            writeMask2<kOneColour>(base + (at.cy - 1) * stride + (at.cx - 1), stride, mask2,
                                   colours2, single);
            break;
        case Block::mask4:
            writeMask4<kPlain, kPlain, kOneColour>(base + (at.cy - 2) * stride + (at.cx - 2),
                                                   stride, mask4, colours4, single);
            break;
        case Block::stretched:
            writeStretched<kOneColour>(base, stride, at.cx, at.cy, at.ex, at.ey, mask4, colours4,
                                       single);
            break;
        case Block::mask6:
            writeMask4<kOuterDoubled, kOuterDoubled, kOneColour>(
                base + (at.cy - 3) * stride + (at.cx - 3), stride, mask4, colours4, single);
            break;
    }
}

// The farthest a block reaches from its sample's pixel, in whole pixels: the 6 x 6 mask sits on
// the pixel corner nearest the sample, one of the pixel's own corners.
constexpr int kBlockRadius = 3;
constexpr int kPatchSide = 2 * kBlockRadius + 1;

// The same for one kind of block.
inline int blockRadius(Block block) {
    switch (block) {
        case Block::pixel:
            return 0;
        case Block::square2:
        case Block::mask2:
            return 1;
        case Block::mask4:
            return 2;
        default:
            return kBlockRadius;
    }
}

// Writes a block near a wedge border: write(patch, value, at) writes it with value into a patch
// of the pixels around at's pixel, as placed by at moved into the patch. The pixels it wrote
// that the wedge owns are then copied into base.
template <class T, class Write>
void writeOwned(const kernel::WedgeOutput& out, T* base, std::intptr_t stride, const BlockPlace& at,
                T value, Write&& write) {
    std::array<T, kPatchSide * kPatchSide> patch{};
    std::array<std::uint8_t, kPatchSide * kPatchSide> hit{};
    const std::int32_t x0 = at.x - kBlockRadius;
    const std::int32_t y0 = at.y - kBlockRadius;
    // Moving the corner coordinates by whole numbers keeps their fractions exactly.
    BlockPlace moved = at;
    moved.x -= x0;
    moved.y -= y0;
    moved.cx -= x0;
    moved.cy -= y0;
    moved.ex -= static_cast<float>(x0);
    moved.ey -= static_cast<float>(y0);
    write(patch.data(), value, moved);
    write(hit.data(), std::uint8_t{1}, moved);
    for (int dy = 0; dy < kPatchSide; ++dy) {
        for (int dx = 0; dx < kPatchSide; ++dx) {
            const auto i = static_cast<std::size_t>(dy * kPatchSide + dx);
            if (hit[i] != 0 && out.owns(x0 + dx, y0 + dy)) {
                base[(y0 + dy) * stride + x0 + dx] = patch[i];
            }
        }
    }
}

// Everything the row kernels read, gathered once per draw so a row runs from locals only.
struct MrqpKernel {
    // Source arrays.
    const std::uint32_t* pixels = nullptr;
    const std::uint32_t* colours4 = nullptr;
    const std::uint32_t* colours2 = nullptr;
    const std::uint32_t* fullColours = nullptr;
    const std::int32_t* rowStart[3] = {};
    const std::uint16_t* layerOffset[3] = {};
    std::int32_t ldiWidth = 0;
    kernel::FrameTarget target;
    std::uint8_t* coverage = nullptr;  // one byte per frame pixel, or null
    std::int32_t onlyLayer = -1;       // from the front; -1 draws every layer
    // Warp.
    geometry::Matrix4 transform;
    Vector4 zCol;
    // Tables and settings.
    const float* sizeTable = nullptr;
    kernel::DepthCorrection correction;
    kernel::SoftTarget soft;        // high-quality mode
    kernel::SurfaceShaper surface;  // its footprints
    const float* binValue = nullptr;
    float splatScale = 0.0f;
    bool useCorrection = false;
    bool backface = false;
    bool needFacing = false;  // the backface test or false-colour mode 3 reads facing
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
    kernel::DepthGrey depthGrey;                              // false-colour mode 2
    float facing = 0.0f;
    kernel::WedgeOutput out;  // the wedge this record draws, when the draw is cut
    // Counters.
    std::int64_t visited = 0;
    std::int64_t inside = 0;
    std::int64_t written = 0;
};

inline std::uint32_t sizeColour(float s) {
    return s < 1.0f   ? 0xFFFFFFu
           : s < 2.0f ? 0xFFFF00u
           : s < 3.0f ? 0x0000FFu
           : s < 3.5f ? 0xD8811Au
           : s < 4.0f ? 0xFF00FFu
           : s < 5.0f ? 0xFF0000u
           : s < 6.0f ? 0x00FF00u
           : s < 7.0f ? 0xD8811Au
                      : 0x7F9FEFu;
}

// The false colour of one sample; modes without a colour rule write the full colour.
inline std::uint32_t mrqpFalseColour(const MrqpKernel& k, std::uint32_t full, std::uint32_t v,
                                     float zOut, float s, float facing, std::int32_t fromFront) {
    switch (k.mode) {
        case 1:
            return kernel::grey(255 - static_cast<long>((v & 0xFFFFFu) >> 12));
        case 2:
            return k.depthGrey.colour(zOut);
        case 3:
            return facing > 0.1f ? 0xFFFFFFu : 0x000000u;
        case 4:
            return k.normalColour[(v >> 25) & 63u];
        case 5:
        case 6:
            return sizeColour(s);
        case 7:
            return kernel::anisotropyRed(k.normals[(v >> 25) & 63u], k.outDirUnit, k.refDir,
                                         k.binValue[(v >> 20) & 31u], zOut);
        case render::kLayerFalseColorMode:
            return render::layerColour(fromFront);
        default:
            return full;
    }
}

// The size path of a draw, fixed per draw so the row loop carries no test for it.
enum class SizePath { single, table, accurate };

// Draws one row run: every layer of every pixel. The three array levels are indexed from their
// own layer offsets at each pixel; within a pixel the 4 x 4 and 2 x 2 colour indices advance by
// the set bits of each layer's masks, whether or not the layer is drawn.
template <bool kFalseColour, SizePath kSize, bool kSoft>
void drawRun(MrqpKernel& k, const render::RowRun& run) {
    const float d = static_cast<float>(run.direction);
    // Positions step from the first pixel of the row's whole run (see RowRun::lead).
    const auto column0 = static_cast<float>(render::leadColumn(run));
    Vector4 p = geometry::transform(
        k.transform, {column0 + 0.5f, static_cast<float>(run.row) + 0.5f, 0.0f, 1.0f});
    const Vector4 step = geometry::transform(k.transform, {d, 0.0f, 0.0f, 0.0f});
    const Vector4 runFirst = p;
    render::stepOverLead(run, p, step);
    Vector3 rho = k.refFrame->pixelRay(static_cast<float>(run.row), column0);
    const Vector3 rhoStep = k.refFrame->delBi * d;
    for (std::int32_t i = 0; kSize == SizePath::accurate && i < run.lead; ++i) {
        rho.add(rhoStep);
    }

    const std::int32_t readRow = run.readRow;
    const std::int32_t direction = run.direction;
    const std::intptr_t rowAt = static_cast<std::intptr_t>(readRow) * (k.ldiWidth + 1) + run.column;
    const std::uint16_t* off0 = k.layerOffset[0] + rowAt;
    const std::uint16_t* off1 = k.layerOffset[1] + rowAt;
    const std::uint16_t* off2 = k.layerOffset[2] + rowAt;
    const std::uint32_t* rowPixels =
        k.pixels + 2 * static_cast<std::intptr_t>(k.rowStart[0][readRow]);
    const std::uint32_t* rowFull = k.fullColours + k.rowStart[0][readRow];
    const std::uint32_t* rowColours4 = k.colours4 + k.rowStart[1][readRow];
    const std::uint32_t* rowColours2 = k.colours2 + k.rowStart[2][readRow];
    const Vector4 zc = k.zCol;
    const std::intptr_t stride = k.target.stride;
    std::uint32_t* const frame = k.target.pixels;
    const float* const sizeTable = k.sizeTable;
    const bool useCorrection = k.useCorrection;
    const bool needFacing = k.needFacing;
    const bool backface = k.backface;
    std::uint8_t* const coverageMask = k.coverage;
    const std::int32_t onlyLayer = k.onlyLayer;
    float facing = k.facing;
    std::int64_t visited = 0;
    std::int64_t inside = 0;
    std::int64_t written = 0;

    std::intptr_t at = 0;  // offset of the current pixel's entries from the run's first
    for (std::int32_t i = 0; i < run.count; ++i, at += direction) {
        const std::int32_t first = off0[at];
        const std::int32_t layers = static_cast<std::int32_t>(off0[at + 1]) - first;
        const std::uint32_t* px = rowPixels + 2 * static_cast<std::intptr_t>(first);
        const std::uint32_t* const pixelFirst = px;
        const std::uint32_t* full = rowFull + first;
        const std::uint32_t* const colours4First = rowColours4 + off1[at];
        const std::uint32_t* const colours2First = rowColours2 + off2[at];
        // The colours of a layer follow those of every layer stored before it in the pixel,
        // drawn or not: the set mask bits of the earlier layers count them. Counted only when
        // a block needs them.
        const auto colours4Of = [&](std::int32_t layer) {
            const std::uint32_t* c = colours4First;
            for (std::int32_t l = 0; l < layer; ++l) {
                c += platform::countBits(pixelFirst[2 * l + 1] & LdiRtMrqp::kMask4x4);
            }
            return c;
        };
        const auto colours2Of = [&](std::int32_t layer) {
            const std::uint32_t* c = colours2First;
            for (std::int32_t l = 0; l < layer; ++l) {
                c +=
                    platform::countBits((pixelFirst[2 * l + 1] >> LdiRtMrqp::kMask2x2Shift) & 0xFu);
            }
            return c;
        };
        // Layers are stored farthest first: layer `layers - 1` is the front one.
        const kernel::LayerSpan span = kernel::layersToDraw(layers, onlyLayer);
        px += 2 * static_cast<std::intptr_t>(span.first);
        for (std::int32_t layer = span.first; layer < span.end; ++layer, px += 2) {
            const std::uint32_t v = px[0];
            const std::uint32_t coverage = px[1];

            kernel::SamplePlace placed;
            const kernel::Placement placement =
                kernel::placeSample(p, zc, geometry::decodeDepth(v & 0xFFFFFu), k.target, placed);
            if (placement == kernel::Placement::behind) {
                continue;  // behind the output eye
            }
            ++visited;
            // Outside the guard band that keeps every block, up to 6 x 6, inside the frame.
            if (placement != kernel::Placement::inside) {
                continue;
            }
            if (k.out.skips(placed.X, placed.Y)) {
                continue;  // a neighbour wedge's sample that cannot reach this one's pixels
            }
            ++inside;
            const float sx = placed.sx;
            const float sy = placed.sy;
            const std::int32_t X = placed.X;
            const std::int32_t Y = placed.Y;
            const float zOut = placed.zOut;

            if constexpr (kSoft) {
                // The sample's reference pixel on its tangent plane, unless its surface is seen
                // from the side that hides it; one pixel without splatting. Magnified samples
                // show the colours of their 4 x 4 sub-cells.
                render::SurfaceSplat splat;
                if (!k.surface.shape(p, geometry::decodeDepth(v & 0xFFFFFu),
                                     static_cast<std::size_t>((px - k.pixels) / 2), sx, sy, zOut, X,
                                     Y, splat)) {
                    continue;
                }
                if constexpr (kSize == SizePath::single) {
                    kernel::collapseToPixel(splat);
                } else if (std::fabs(splat.inv[0] * splat.inv[3] - splat.inv[1] * splat.inv[2]) <
                           kernel::kSubCellArea) {
                    splat.mask4 = coverage & LdiRtMrqp::kMask4x4;
                    splat.subColours = colours4Of(layer);
                }
                splat.colour = full[layer];
                splat.hidden = layer + 1 < layers ? render::kHiddenSurface : 0;
                k.out.surface(X, Y, splat, *k.soft.buffer, coverageMask);
                ++written;
                continue;
            }

            float s = 3.9f;  // splatting off: the 4 x 4 mask stretched to 5 x 5
            bool haveFacing = false;
            if constexpr (kSize != SizePath::single) {
                bool fixedSize = false;
                if constexpr (kSize == SizePath::table) {
                    // An index of 0x800 or more (bit 31 set) has no table entry: a fixed size,
                    // the 2 x 2 mask (one pixel in false colour), which the depth correction
                    // does not shrink.
                    fixedSize = (v & 0x80000000u) != 0;
                    s = fixedSize ? (kFalseColour ? 0.0f : 1.0f) : -zOut * sizeTable[v >> 20];
                } else {
                    // The class size (a reference eye depth) over the output eye depth, times
                    // S, scaled by how much more the surface faces the output ray than the
                    // reference ray: the table path's size, per sample.
                    const Vector3 omega = k.outCorner + sy * k.outDelUp + sx * k.outDelBi;
                    s = kernel::accurateSize(rho, omega, k.normals[(v >> 25) & 63u],
                                             k.binValue[(v >> 20) & 31u], k.splatScale, zOut,
                                             facing);
                    haveFacing = true;
                }
                if (useCorrection && !fixedSize) {
                    s /= k.correction.at(X, Y);
                }
            }
            if (needFacing) {
                if (!haveFacing) {
                    const Vector3 omega = k.outCorner + sy * k.outDelUp + sx * k.outDelBi;
                    facing = dot(k.normals[(v >> 25) & 63u], omega);
                }
                if (backface && facing > 0.1f) {
                    continue;  // facing away from the output eye
                }
            }

            // Blocks of even size sit on the pixel corner nearest the sample: the frame's pixel
            // centres lie on whole numbers, so corners lie on whole numbers in (sx + 0.5).
            BlockPlace place;
            place.x = X;
            place.y = Y;
            place.ex = sx + 0.5f;
            place.ey = sy + 0.5f;
            place.cx = static_cast<std::int32_t>(platform::toInt(place.ex + 0.5f));
            place.cy = static_cast<std::int32_t>(platform::toInt(place.ey + 0.5f));
            const std::uint32_t mask4 = coverage & LdiRtMrqp::kMask4x4;
            const std::uint32_t mask2 = (coverage >> LdiRtMrqp::kMask2x2Shift) & 0xFu;
            Block block;
            if constexpr (kFalseColour) {
                block = s < 1.0f   ? Block::pixel
                        : s < 2.0f ? Block::square2
                        : s < 4.0f ? Block::mask4
                        : s < 5.0f ? Block::stretched
                                   : Block::mask6;
            } else {
                // Splatting off: size 3.9, the stretched 5 x 5.
                block = kSize == SizePath::single ? Block::stretched
                        : s < 1.0f                ? Block::pixel
                        : s < 2.0f                ? Block::mask2
                        : s < 3.5f                ? Block::mask4
                        : s < 4.5f                ? Block::stretched
                                                  : Block::mask6;
            }
            // Writes the block into base (frame or coverage mask); near a wedge border, through
            // a patch.
            const bool whole = k.out.whole(X, Y, blockRadius(block));
            const auto write = [&]<bool kOneColour, class T>(T* base, const T* c4, const T* c2,
                                                             T single) {
                if (whole) {
                    writeBlock<kOneColour>(base, stride, block, place, mask4, mask2, c4, c2,
                                           single);
                    return;
                }
                writeOwned(k.out, base, stride, place, single,
                           [&]<class P>(P* patch, P value, const BlockPlace& moved) {
                               if constexpr (std::is_same_v<P, T>) {
                                   writeBlock<kOneColour>(patch, kPatchSide, block, moved, mask4,
                                                          mask2, c4, c2, value);
                               } else {  // marks the pixels written
                                   writeBlock<true>(patch, kPatchSide, block, moved, mask4, mask2,
                                                    nullptr, nullptr, value);
                               }
                           });
            };
            if constexpr (kFalseColour) {
                const std::uint32_t colour =
                    mrqpFalseColour(k, full[layer], v, zOut, s, facing, layers - 1 - layer);
                write.template operator()<true, std::uint32_t>(frame, nullptr, nullptr, colour);
            } else {
                const bool usesColours4 =
                    block == Block::mask4 || block == Block::stretched || block == Block::mask6;
                write.template operator()<false, std::uint32_t>(
                    frame, usesColours4 ? colours4Of(layer) : nullptr,
                    block == Block::mask2 ? colours2Of(layer) : nullptr, full[layer]);
            }
            // The pixels the block wrote, as the mask laid them out.
            if (coverageMask != nullptr) {
                write.template operator()<true, std::uint8_t>(coverageMask, nullptr, nullptr,
                                                              std::uint8_t{1});
            }
            ++written;
        }
        p.x += step.x;
        p.y += step.y;
        p.z += step.z;
        p.w += step.w;
        if constexpr (kSize == SizePath::accurate) {
            rho.add(rhoStep);
        }
    }
    render::noteRunEnd(run, runFirst, step, p);
    k.facing = facing;
    k.visited += visited;
    k.inside += inside;
    k.written += written;
}

MrqpKernel makeKernel(LdiRtMrqp& ldi, imageutil::RgbImage& frame) {
    const render::WarpState& warp = ldi.warp;
    const LdiRenderOptions& o = ldi.options;
    MrqpKernel k;
    k.pixels = ldi.pixels;
    k.colours4 = ldi.colours4x4;
    k.colours2 = ldi.colours2x2;
    k.fullColours = ldi.fullColours;
    for (int level = 0; level < 3; ++level) {
        k.rowStart[level] = ldi.rowStart[static_cast<std::size_t>(level)];
        k.layerOffset[level] = ldi.layerOffset[static_cast<std::size_t>(level)];
    }
    k.ldiWidth = ldi.width();
    k.target = kernel::frameTarget(frame);
    k.coverage = ldi.inspection.coverage;
    k.onlyLayer = ldi.inspection.onlyLayer;
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
    k.depthGrey = kernel::depthGrey(warp.outputCamera);
    k.facing = warp.facing;
    return k;
}

template <bool kFalseColour, SizePath kSize, bool kSoft>
void traverse(MrqpKernel& k, LdiRtMrqp& ldi, render::Traversal kind, const render::WedgeCut& cut,
              const kernel::WriteTargets& targets) {
    kernel::drawRunsInWedges(k, ldi, kind, kernel::rowFilter(ldi, kind), cut, targets,
                             [](MrqpKernel& wedge, const render::RowRun& part) {
                                 drawRun<kFalseColour, kSize, kSoft>(wedge, part);
                             });
}

template <bool kFalseColour, bool kSoft = false>
void traverseBySize(MrqpKernel& k, LdiRtMrqp& ldi, render::Traversal kind,
                    const render::WedgeCut& cut, const kernel::WriteTargets& targets) {
    if (ldi.options.useSplat == 0) {
        traverse<kFalseColour, SizePath::single, kSoft>(k, ldi, kind, cut, targets);
    } else if (ldi.options.sizeAccurate == 0) {
        traverse<kFalseColour, SizePath::table, kSoft>(k, ldi, kind, cut, targets);
    } else {
        traverse<kFalseColour, SizePath::accurate, kSoft>(k, ldi, kind, cut, targets);
    }
}

}  // namespace

LdiDrawStats LdiRtMrqp::Draw(const geometry::Matrix4& warpMatrix,
                             const geometry::Matrix4& viewMatrix,
                             const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                             float* depthBuffer, IntRange xRange, IntRange yRange) {
    (void)viewMatrix;   // the splat-size table needs only the two cameras' directions
    (void)depthBuffer;  // the traversal order alone resolves occlusion
    if (!BeginDraw(*this, warpMatrix, outputCamera, frame, xRange, yRange)) {
        return drawStats;
    }
    // The colour arrays may be absent only when no mask bit can index them.
    if (pixels == nullptr || (colours4x4 == nullptr && allocatedCounts_[1] > 0) ||
        (colours2x2 == nullptr && allocatedCounts_[2] > 0) || fullColours == nullptr ||
        rowStart[0] == nullptr || rowStart[1] == nullptr || rowStart[2] == nullptr ||
        layerOffset[0] == nullptr || layerOffset[1] == nullptr || layerOffset[2] == nullptr ||
        allocatedWidth_ != width() || allocatedHeight_ != height()) {
        return drawStats;
    }
    MrqpKernel k = makeKernel(*this, frame);
    k.soft = kernel::softTarget(*this, frame);
    if (k.soft.buffer != nullptr) {
        k.surface = kernel::surfaceShaper(warp);
        const SurfaceSlopes& slopes = kernel::surfaceSlopesFor(
            *this,
            {pixels, 2, 0, rowStart[0], layerOffset[0], width(), height(), allocatedCounts_[0]});
        k.surface.perColumn = slopes.perColumn.data();
        k.surface.perRow = slopes.perRow.data();
        k.surface.side = slopes.side.data();
        k.surface.openEdges = slopes.openEdges.data();
    }
    const kernel::DrawPasses passes = kernel::drawPasses(options);
    // The uncovered mode shows the true picture (the frame marks the holes afterwards).
    const bool falseColour =
        options.useFalseColor != 0 && options.falseColorMode != render::kUncoveredFalseColorMode;
    // Every block, even without splatting, may reach kBlockRadius pixels from its sample's.
    const render::WedgeCut cut =
        kernel::wedgeCut(*this, frame.width, frame.height, kernel::footprintReach(kBlockRadius));
    const kernel::WriteTargets targets{frame.pixels, frame.width, nullptr, k.coverage,
                                       k.soft.buffer};
    for (int i = 0; i < passes.count; ++i) {
        if (k.soft.buffer != nullptr) {
            // Footprints from the surfaces, whatever the size path, or single pixels.
            options.useSplat == 0
                ? traverse<false, SizePath::single, true>(k, *this, passes[i], cut, targets)
                : traverse<false, SizePath::table, true>(k, *this, passes[i], cut, targets);
        } else {
            falseColour ? traverseBySize<true>(k, *this, passes[i], cut, targets)
                        : traverseBySize<false>(k, *this, passes[i], cut, targets);
        }
    }
    warp.facing = k.facing;
    kernel::storeCounters(drawStats, k.visited, k.inside, k.written);
    return drawStats;
}

}  // namespace strata::ldi
