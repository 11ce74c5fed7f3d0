// The voxel model: a volume stored as columns of coloured samples along the viewing axis of a
// square grid (".vox", big-endian), converted at load time into a layered image and drawn with
// the same occlusion-compatible warp as the LDIs, with its own splat thresholds.
//
// File layout, all fields big-endian:
//   lineCount int32, pixelWidth float32 (grid side R = int(2 / pixelWidth + 1.5)),
//   lineCount records: x int32, y int32, sampleCount int32, then sampleCount samples of
//   depth float32, red uint8, green uint8, blue uint8.
// A record fills grid cell (row c + x, column c + y) with c = (R - 1) / 2. A sample's depth v
// in -1..1 becomes the reference view's normalised depth z = 2 - 6 / (v + 2); the samples of a
// record are given nearest first.
//
// The reference view of a converted file: eye at (0, 0, 0) looking along -z with +y up, 90
// degrees, frustum(-1, 1, -1, 1, 1, 1000), viewport(0, R, 0, R): cell (row, column) lies on the
// ray through (2 column + 1) / R - 1, (2 row + 1) / R - 1 at distance 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "mesh/visible_rectangle.h"
#include "render/soft_splat.h"
#include "render/wedge_cut.h"

namespace strata::imageutil {
class RgbImage;
}

namespace strata::ldi {

struct VoxelSample {
    std::int32_t colour = 0;  // red << 16 | green << 8 | blue
    std::int32_t spare = 0;
    float z = 0.0f;  // normalised depth of the reference view
};

// The per-file conversion of a sample: colour word and depth.
std::int32_t VoxelColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
float VoxelDepthToZ(float depth);  // 2 - 6 / (depth + 2)
// The inverse, for writers: the file depth whose z is the given normalised depth.
float VoxelZToDepth(float z);
// The grid side of a pixel width: int(2 / pixelWidth + 1.5); 0 when pixelWidth is not a finite
// positive number or the side would exceed VoxelModel::kMaxSide.
std::int32_t VoxelGridSide(float pixelWidth);
// The reference view of a converted frame of side R (see the file comment).
geometry::ViewCamera VoxelReferenceView(std::int32_t side);

struct VoxelFrame {
    std::int32_t width = 0;  // grid width and height, both R
    std::int32_t height = 0;
    geometry::ViewCamera view;
    std::vector<VoxelSample> samples;
    // Per row r, R + 1 running sums: the samples of cell (r, k) are
    // samples[rowStart[r] + layerOffset[r (R + 1) + k] ..  rowStart[r] + layerOffset[r (R + 1) +
    // k + 1]).
    std::vector<std::int16_t> layerOffset;
    std::vector<std::int32_t> rowStart;  // R + 1 entries
    // As read from the file: the record count, the pixel width and the records skipped because
    // their cell lies outside the grid.
    std::int32_t lineCount = 0;
    float pixelWidth = 0.0f;
    std::int64_t skippedRecords = 0;
};

class VoxelModel {
  public:
    // Largest grid side accepted, and most samples one grid row may hold (its running sums are
    // 16-bit).
    static constexpr std::int32_t kMaxSide = 4096;
    static constexpr std::int32_t kMaxRowSamples = 32767;

    // An empty model with one empty frame.
    VoxelModel();
    // One frame: converts path into frame 0 (ConvertVoxelFile), gives it the reference view of
    // its grid and makes it current (SelectFrame). loaded() tells whether the file converted.
    explicit VoxelModel(const std::string& path);

    // What the path constructor does, on an existing model: converts path into the current
    // frame, gives it the reference view of its grid and selects it. 1 when the file converted.
    int Open(const std::string& path);

    // Converts the voxel file at path into the current frame, writing its progress lines to the
    // debug output ("------------------------", "Converting voxel file: <path>", "number of
    // lines in file: N", "pixel width: W", "resolution: R", "tnp: T\t total: S", dashes).
    // Returns 1 on success. A file that does not open prints "Cannot open <path> for
    // reading." to stderr and leaves the frame as it was; a refused file (pixel width not
    // finite and positive, a grid side over kMaxSide, a negative count, a row over
    // kMaxRowSamples samples, a truncated file or bytes after the last record) prints one line
    // naming the file and the problem and leaves the frame empty. Records whose cell lies
    // outside the grid are skipped with one line; records may come in any cell order, and
    // several records of one cell add up.
    int ConvertVoxelFile(const std::string& path);
    // Copies the current frame's size, arrays and reference view into the drawing copies and
    // prepares the visible rectangle of its reference view.
    void SelectFrame();
    // Draws the current frame (after SelectFrame) into frame as the output camera sees it
    // (warpMatrix: world to output clip space of outputCamera). splat false writes single
    // pixels; true sizes each sample s = splatScale / distance with splatScale = frame width /
    // R x tan(ref fov / 2) / tan(output fov / 2): s < 0.89 one pixel, < 1.2 the 3 x 3, < 2 the
    // 5 x 5, else the 7 x 7 footprint. Samples whose footprint would leave the frame are
    // skipped. Every sample stepped over counts in samplesVisited.
    void DrawVoxels(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                    const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                    bool splat);

    bool loaded() const { return loaded_; }
    const std::string& loadError() const { return loadError_; }
    const VoxelFrame& current() const { return frames[static_cast<std::size_t>(currentFrame)]; }
    std::int64_t sampleCount() const { return static_cast<std::int64_t>(samples_.size()); }

    std::int32_t frameCount = 1;
    std::int32_t currentFrame = 0;
    std::vector<VoxelFrame> frames;
    std::int64_t samplesVisited = 0;  // never reset by drawing
    // When false, failures are kept in loadError but not printed.
    bool reportErrors = true;
    // High-quality mode: the frame function's soft-splat buffer (of the frame's size), or null.
    void SetSoftTarget(render::SoftSplatBuffer* soft) { soft_ = soft; }

  private:
    int Fail(const std::string& message, bool emptyFrame);

    // Drawing copies of the current frame.
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::vector<VoxelSample> samples_;
    float depthLow_ = 0.0f;  // the samples' depths lie in [depthLow_, depthHigh_]
    float depthHigh_ = 0.0f;
    std::vector<std::int16_t> layerOffset_;
    std::vector<std::int32_t> rowStart_;
    render::SampleDensity density_;  // where the samples lie, for the wedge cut
    geometry::ViewCamera view_;
    mesh::VisibleRectangle visibleRect_;
    bool loaded_ = false;
    std::string loadError_;
    render::SoftSplatBuffer* soft_ = nullptr;
};

}  // namespace strata::ldi
