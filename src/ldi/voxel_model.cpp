// Voxel files: two passes over the records (count the samples of every cell, then place them
// through per-cell write cursors so any record order lands right), and the splatting warp of
// the converted layered image.
#include "ldi/voxel_model.h"

#include "ldi/draw_support.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "geometry/frame_tangents.h"
#include "imageutil/rgb_image.h"
#include "platform/byte_io.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/frame_margin.h"
#include "render/traversal.h"
#include "render/warp_setup.h"

namespace strata::ldi {

namespace {

constexpr std::uint64_t kMaxVoxelFileBytes = std::uint64_t{1} << 31;
constexpr std::size_t kSampleBytes = 7;
constexpr float kHalfPi = 1.5707964f;

// The voxel footprint thresholds: one pixel below 0.89, then 3 x 3, 5 x 5 from 1.2, 7 x 7 from 2.
int voxelRadius(float size) {
    if (size < 0.89f) {
        return 0;
    }
    if (size < 1.2f) {
        return 1;
    }
    if (size < 2.0f) {
        return 2;
    }
    return 3;
}

}  // namespace

std::int32_t VoxelColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<std::int32_t>(red) << 16 | static_cast<std::int32_t>(green) << 8 |
           static_cast<std::int32_t>(blue);
}

float VoxelDepthToZ(float depth) {
    return 2.0f - 6.0f / (depth + 2.0f);
}

float VoxelZToDepth(float z) {
    return 6.0f / (2.0f - z) - 2.0f;
}

std::int32_t VoxelGridSide(float pixelWidth) {
    if (!std::isfinite(pixelWidth) || !(pixelWidth > 0.0f)) {
        return 0;
    }
    const double side = std::floor(2.0 / static_cast<double>(pixelWidth) + 1.5);
    if (!(side >= 1.0) || side > static_cast<double>(VoxelModel::kMaxSide)) {
        return 0;
    }
    return static_cast<std::int32_t>(side);
}

geometry::ViewCamera VoxelReferenceView(std::int32_t side) {
    geometry::ViewCamera view;
    view.projection = geometry::frustum(-1.0f, 1.0f, -1.0f, 1.0f, 1.0f, 1000.0f);
    view.viewport = geometry::viewport(0, side, 0, side);
    view.near = 1.0f;
    view.far = 1000.0f;
    view.fov = kHalfPi;
    view.pos = {0.0f, 0.0f, 0.0f};
    view.dir = {0.0f, 0.0f, -1.0f};
    view.up = {0.0f, 1.0f, 0.0f};
    return view;
}

VoxelModel::VoxelModel() : frames(1) {}

VoxelModel::VoxelModel(const std::string& path) : frames(1) {
    Open(path);
}

int VoxelModel::Open(const std::string& path) {
    const int converted = ConvertVoxelFile(path);
    if (currentFrame < 0 || currentFrame >= static_cast<std::int32_t>(frames.size())) {
        currentFrame = 0;
    }
    VoxelFrame& frame = frames[static_cast<std::size_t>(currentFrame)];
    frame.view = VoxelReferenceView(frame.width);
    SelectFrame();
    return converted;
}

int VoxelModel::Fail(const std::string& message, bool emptyFrame) {
    loadError_ = message;
    loaded_ = false;
    if (emptyFrame) {
        VoxelFrame& frame = frames[static_cast<std::size_t>(currentFrame)];
        frame.width = 0;
        frame.height = 0;
        frame.samples.clear();
        frame.layerOffset.clear();
        frame.rowStart.clear();
    }
    if (reportErrors) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    return 0;
}

int VoxelModel::ConvertVoxelFile(const std::string& path) {
    platform::debugOutput("------------------------\n");
    platform::debugPrintf("Converting voxel file: %s\n", path.c_str());
    loadError_.clear();
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!platform::readWholeFile(path, bytes, error, kMaxVoxelFileBytes)) {
        return Fail(platform::formatString("Cannot open %s for reading.", path.c_str()), false);
    }
    const auto refuse = [this, &path](const std::string& problem) {
        return Fail(path + ": " + problem, true);
    };
    platform::ByteReader in(bytes);
    const std::int32_t lineCount = in.getI32BE();
    const float pixelWidth = in.getF32BE();
    if (!in.ok()) {
        return refuse("truncated: the file ends inside its 8-byte head");
    }
    platform::debugPrintf("number of lines in file: %d\n", lineCount);
    platform::debugPrintf("pixel width: %f\n", static_cast<double>(pixelWidth));
    if (lineCount < 0) {
        return refuse(platform::formatString("negative line count %d", lineCount));
    }
    const std::int32_t side = VoxelGridSide(pixelWidth);
    if (side == 0) {
        return refuse(platform::formatString(
            "pixel width %g gives no grid (it must be finite and positive, and the grid side "
            "int(2 / width + 1.5) at most %d)",
            static_cast<double>(pixelWidth), kMaxSide));
    }
    platform::debugPrintf("resolution: %d\n", side);
    const std::int64_t centre = (side - 1) / 2;
    const auto cells = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);

    // First pass: the sample count of every cell. A record outside the grid is skipped.
    std::vector<std::int32_t> count(cells, 0);
    std::int64_t tnp = 0;
    std::int64_t outside = 0;
    std::int64_t firstOutside = -1;
    for (std::int32_t line = 0; line < lineCount; ++line) {
        const std::int32_t x = in.getI32BE();
        const std::int32_t y = in.getI32BE();
        const std::int32_t n = in.getI32BE();
        if (!in.ok()) {
            return refuse(platform::formatString(
                "truncated: the file ends inside line record %d of %d", line, lineCount));
        }
        if (n < 0) {
            return refuse(
                platform::formatString("line record %d has a negative sample count %d", line, n));
        }
        const std::uint64_t sampleBytes = static_cast<std::uint64_t>(n) * kSampleBytes;
        if (sampleBytes > in.remaining()) {
            return refuse(platform::formatString(
                "truncated: line record %d promises %d samples, the file holds %zu more bytes",
                line, n, in.remaining()));
        }
        in.skip(static_cast<std::size_t>(sampleBytes));
        tnp += n;
        const std::int64_t row = centre + x;
        const std::int64_t column = centre + y;
        if (row < 0 || row >= side || column < 0 || column >= side) {
            if (firstOutside < 0) {
                firstOutside = line;
            }
            ++outside;
            continue;
        }
        std::int32_t& cell = count[static_cast<std::size_t>(row) * static_cast<std::size_t>(side) +
                                   static_cast<std::size_t>(column)];
        // A row sum over the limit is refused below; keep the cell count from overflowing first.
        if (static_cast<std::int64_t>(cell) + n > kMaxRowSamples) {
            return refuse(platform::formatString("grid row %" PRId64 " holds more than %d samples",
                                                 row, kMaxRowSamples));
        }
        cell += n;
    }
    if (in.remaining() != 0) {
        return refuse(platform::formatString("%zu bytes after the last of the %d line records",
                                             in.remaining(), lineCount));
    }
    if (outside > 0) {
        const std::string message =
            platform::formatString("%s: skipped %" PRId64
                                   " line record(s) outside the %dx%d grid (the first is record "
                                   "%" PRId64 ")",
                                   path.c_str(), outside, side, side, firstOutside);
        if (reportErrors) {
            std::fprintf(stderr, "%s\n", message.c_str());
        }
    }

    // The index: running sums per row, and where each row starts.
    VoxelFrame built;
    built.width = side;
    built.height = side;
    built.view = frames[static_cast<std::size_t>(currentFrame)].view;
    built.lineCount = lineCount;
    built.pixelWidth = pixelWidth;
    built.skippedRecords = outside;
    built.rowStart.assign(static_cast<std::size_t>(side) + 1, 0);
    built.layerOffset.assign((static_cast<std::size_t>(side) + 1) * static_cast<std::size_t>(side),
                             0);
    for (std::int32_t r = 0; r < side; ++r) {
        std::int32_t sum = 0;
        const std::size_t base = static_cast<std::size_t>(r) * (static_cast<std::size_t>(side) + 1);
        for (std::int32_t k = 0; k < side; ++k) {
            sum += count[static_cast<std::size_t>(r) * static_cast<std::size_t>(side) +
                         static_cast<std::size_t>(k)];
            if (sum > kMaxRowSamples) {
                return refuse(platform::formatString("grid row %d holds more than %d samples", r,
                                                     kMaxRowSamples));
            }
            built.layerOffset[base + static_cast<std::size_t>(k) + 1] =
                static_cast<std::int16_t>(sum);
        }
        built.rowStart[static_cast<std::size_t>(r) + 1] =
            built.rowStart[static_cast<std::size_t>(r)] + sum;
    }
    const std::int32_t total = built.rowStart[static_cast<std::size_t>(side)];
    loaded_ = true;
    if (total == 0) {
        frames[static_cast<std::size_t>(currentFrame)] = std::move(built);
        return 1;
    }

    // Second pass: every record's samples go to its own cell, in reverse file order (the file
    // gives them nearest first; drawing in storage order paints nearer samples last).
    platform::debugPrintf("tnp: %" PRId64 "\t total: %d\n", tnp, total);
    built.samples.assign(static_cast<std::size_t>(total), VoxelSample{});
    std::vector<std::int32_t> cursor(cells, 0);
    for (std::int32_t r = 0; r < side; ++r) {
        const std::size_t base = static_cast<std::size_t>(r) * (static_cast<std::size_t>(side) + 1);
        for (std::int32_t k = 0; k < side; ++k) {
            cursor[static_cast<std::size_t>(r) * static_cast<std::size_t>(side) +
                   static_cast<std::size_t>(k)] =
                built.rowStart[static_cast<std::size_t>(r)] +
                built.layerOffset[base + static_cast<std::size_t>(k)];
        }
    }
    platform::ByteReader again(bytes);
    again.skip(8);
    for (std::int32_t line = 0; line < lineCount; ++line) {
        const std::int32_t x = again.getI32BE();
        const std::int32_t y = again.getI32BE();
        const std::int32_t n = again.getI32BE();
        const std::int64_t row = centre + x;
        const std::int64_t column = centre + y;
        if (row < 0 || row >= side || column < 0 || column >= side) {
            again.skip(static_cast<std::size_t>(n) * kSampleBytes);
            continue;
        }
        std::int32_t& at = cursor[static_cast<std::size_t>(row) * static_cast<std::size_t>(side) +
                                  static_cast<std::size_t>(column)];
        for (std::int32_t j = 0; j < n; ++j) {
            const float depth = again.getF32BE();
            const std::uint8_t red = again.getU8();
            const std::uint8_t green = again.getU8();
            const std::uint8_t blue = again.getU8();
            VoxelSample& sample = built.samples[static_cast<std::size_t>(at + n - 1 - j)];
            sample.colour = VoxelColour(red, green, blue);
            sample.z = VoxelDepthToZ(depth);
        }
        at += n;
    }
    frames[static_cast<std::size_t>(currentFrame)] = std::move(built);
    platform::debugOutput("------------------------\n");
    return 1;
}

void VoxelModel::SelectFrame() {
    if (currentFrame < 0 || currentFrame >= static_cast<std::int32_t>(frames.size())) {
        currentFrame = 0;
    }
    const VoxelFrame& frame = current();
    width_ = frame.width;
    height_ = frame.height;
    samples_ = frame.samples;
    depthLow_ = 0.0f;
    depthHigh_ = 0.0f;
    for (const VoxelSample& sample : samples_) {
        if (std::isfinite(sample.z)) {  // others are never drawn
            depthLow_ = std::min(depthLow_, sample.z);
            depthHigh_ = std::max(depthHigh_, sample.z);
        }
    }
    layerOffset_ = frame.layerOffset;
    rowStart_ = frame.rowStart;
    const bool offsetsFit = layerOffset_.size() >= static_cast<std::size_t>(std::max(height_, 0)) *
                                                       static_cast<std::size_t>(width_ + 1);
    density_ = offsetsFit ? render::makeSampleDensity(
                                width_, height_,
                                [&](std::int32_t r, std::int32_t c) {
                                    const std::int16_t* o =
                                        layerOffset_.data() +
                                        static_cast<std::ptrdiff_t>(r) * (width_ + 1) + c;
                                    return static_cast<std::int64_t>(o[1]) - o[0];
                                })
                          : render::SampleDensity{};
    view_ = frame.view;
    visibleRect_.prepare(view_, width_, height_);
}

void VoxelModel::DrawVoxels(const geometry::Matrix4& warpMatrix,
                            const geometry::Matrix4& /*viewMatrix*/,
                            const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                            bool splat) {
    if (samples_.empty() || width_ <= 0 || height_ <= 0 || frame.pixels == nullptr ||
        frame.width < 8 || frame.height < 8 ||
        static_cast<std::size_t>(height_) + 1 != rowStart_.size()) {
        return;
    }
    // The picture's window in the frame buffer; samples in the margin around it are drawn too.
    const render::OutputWindow window =
        render::outputWindow(outputCamera, frame.width, frame.height);
    const mesh::VisibleRect rect =
        visibleRect_.update(render::wholeBufferCamera(outputCamera, frame.width, frame.height));
    if (rect.visible == 0) {
        return;
    }
    const std::int32_t outW = frame.width;
    const std::int32_t outH = frame.height;
    const float tanRef = std::tan(view_.fov / 2.0f);
    const float tanOut = geometry::frameTangents(outputCamera.fov, window.width, window.height).x;
    const float splatScale =
        static_cast<float>(window.width) / static_cast<float>(width_) * tanRef / tanOut;
    // High-quality mode: soft footprints, depth-tested with their own depth extent (no normals:
    // a fixed slope allowance).
    render::SoftSplatBuffer* const soft =
        soft_ != nullptr && soft_->width == frame.width && soft_->height == frame.height &&
                soft_->pixels.size() == static_cast<std::size_t>(frame.width) * frame.height
            ? soft_
            : nullptr;
    if (soft != nullptr) {
        soft->written = true;
    }
    const render::WarpSetup setup = render::computeWarpSetup(view_.fullTransform(), warpMatrix,
                                                             rect.x0, rect.x1, rect.y0, rect.y1);
    if (!setup.valid) {
        return;
    }
    const geometry::Matrix4& m = setup.transform;
    const geometry::Vector4 a = setup.zColumn;
    // High-quality footprints: each cell on a plane facing the reference view (voxels carry no
    // normals), never culled.
    kernel::SurfaceShaper shaper;
    shaper.colU = {m(0, 0), m(1, 0), m(2, 0), m(3, 0)};
    shaper.colV = {m(0, 1), m(1, 1), m(2, 1), m(3, 1)};
    shaper.zCol = a;
    shaper.pixelAngle = 2.0f * tanOut / static_cast<float>(std::max(window.width, 1));
    const render::TraversalRange range{rect.x0, rect.x1, rect.y0, rect.y1, width_, height_};
    std::uint32_t* const pixels = frame.pixels;
    const std::int32_t stride = frame.width;
    const float guardX = static_cast<float>(outW - 6);
    const float guardY = static_cast<float>(outH - 6);
    const std::int32_t maxX = outW - 4;
    const std::int32_t maxY = outH - 4;
    const VoxelSample* const samples = samples_.data();
    // One record per wedge; see kernel::drawWedges.
    struct VoxelRecord {
        kernel::WedgeOutput out;
        std::int64_t visited = 0;
        std::int64_t inside = 0;
        std::int64_t written = 0;
    };
    render::WedgeCutInput cutInput;
    cutInput.setup = setup;
    cutInput.range = range;
    cutInput.pixelCentre = 0.0;
    cutInput.outWidth = outW;
    cutInput.outHeight = outH;
    cutInput.reach = kernel::footprintReach(splat ? 3 : 0);
    cutInput.zLow = depthLow_;
    cutInput.zHigh = depthHigh_;
    cutInput.density = &density_;
    cutInput.count = kernel::wedgesForDraw(
        density_.empty()
            ? static_cast<std::int64_t>(samples_.size())
            : static_cast<std::int64_t>(density_.within(range.x0, range.y0, range.x1, range.y1)));
    const render::WedgeCut cut = render::makeWedgeCut(cutInput);
    const kernel::WriteTargets targets{pixels, stride, nullptr, nullptr, soft};
    VoxelRecord all;
    // Draws one row run (or a wedge's part of one) on record.
    const auto drawPart = [&](VoxelRecord& record, const render::RowRun& run) {
        // Cell centres sit on whole coordinates; positions step from the first cell of the row's
        // whole run.
        geometry::Vector4 p = geometry::transform(m, {static_cast<float>(render::leadColumn(run)),
                                                      static_cast<float>(run.row), 0.0f, 1.0f});
        const geometry::Vector4 step =
            geometry::transform(m, {static_cast<float>(run.direction), 0.0f, 0.0f, 0.0f});
        const geometry::Vector4 runFirst = p;
        render::stepOverLead(run, p, step);
        const std::int16_t* offsets = layerOffset_.data() +
                                      static_cast<std::ptrdiff_t>(run.readRow) * (width_ + 1) +
                                      run.column;
        const VoxelSample* rowSamples = samples + rowStart_[static_cast<std::size_t>(run.readRow)];
        for (std::int32_t i = 0; i < run.count; ++i, offsets += run.direction) {
            const std::int32_t first = offsets[0];
            const std::int32_t last = offsets[1];
            for (std::int32_t s = first; s < last; ++s) {
                ++record.visited;
                const VoxelSample& sample = rowSamples[s];
                const float v = sample.z;
                const float w = v * a.w + p.w;
                if (!(w > 0.0f)) {
                    continue;
                }
                const float x = v * a.x + p.x;
                const float y = v * a.y + p.y;
                if (!(2.5f * w < x && x < guardX * w && 2.5f * w < y && y < guardY * w)) {
                    continue;
                }
                const float inv = 1.0f / w;
                const auto column = static_cast<std::int32_t>(platform::toInt(x * inv));
                const auto row = static_cast<std::int32_t>(platform::toInt(y * inv));
                // The conversion can still land on the guard band's edge: never write there.
                if (column < 3 || column > maxX || row < 3 || row > maxY) {
                    continue;
                }
                const float zOut = (v * a.z + p.z) * inv;
                const auto colour = static_cast<std::uint32_t>(sample.colour);
                if (soft != nullptr) {
                    render::SurfaceSplat cell;
                    if (!shaper.shape(p, v, 0, x * inv, y * inv, zOut, column, row, cell)) {
                        continue;
                    }
                    if (!splat) {
                        kernel::collapseToPixel(cell);
                    }
                    cell.colour = colour;
                    if (!record.out.whole(column, row, cell.radius())) {
                        record.out.borderSurface(cell);
                    } else {
                        render::writeSurfaceSplat(
                            *soft, cell, [](std::int32_t, std::int32_t) { return true; }, nullptr);
                    }
                    continue;
                }
                const float size = splat ? -zOut * splatScale : 0.0f;
                const int radius = voxelRadius(size);
                if (!record.out.whole(column, row, radius)) {
                    record.out.border(
                        {column, row, colour, zOut, static_cast<std::uint8_t>(radius), 0});
                    continue;
                }
                render::writeFootprint(pixels + static_cast<std::ptrdiff_t>(row) * stride + column,
                                       stride, radius, colour);
            }
            p.x += step.x;
            p.y += step.y;
            p.z += step.z;
            p.w += step.w;
        }
        render::noteRunEnd(run, runFirst, step, p);
    };
    kernel::drawWedges(all, cut, targets, [&](auto&& split) {
        render::traverseSheets(setup, range, render::Traversal::standard,
                               [&](const render::RowRun& run) { split(run, drawPart); });
    });
    const std::int64_t visited = all.visited;
    samplesVisited += visited;
}

}  // namespace strata::ldi
