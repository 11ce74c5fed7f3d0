// The layered sample lists of one camera view: for every pixel of a W x H grid, every surface
// the ray through its centre crosses (up to a layer limit), stored FARTHEST FIRST so that
// drawing in storage order paints nearer samples last. With coverage on, each sample also gets
// 4 x 4 and 2 x 2 sub-cell masks of the pixel that the same surface covers, with one colour per
// covered sub-cell, found by casting a ray through the centre of every sub-cell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "maker/row_runner.h"
#include "maker/shading.h"

namespace strata::maker {

inline constexpr int kMaxLayers = 255;

struct LayerSample {
    float depth = 0.0f;     // distance along the viewing direction (eye depth)
    float distance = 0.0f;  // distance from the eye
    geometry::Vector3 position;
    geometry::Vector3 normal;  // outward, unit
    std::uint32_t colour = 0;  // shaded, 0x00RRGGBB
    int mesh = -1;
    std::uint32_t triangle = 0;
    std::uint16_t mask4 = 0;      // bit 4 r + c: sub-row r (from the bottom), sub-column c
    std::uint8_t mask2 = 0;       // bit 2 r + c
    std::uint32_t sub4Start = 0;  // first colour in LayeredImage::sub4Colours
    std::uint32_t sub2Start = 0;  // first colour in LayeredImage::sub2Colours
};

struct SampleOptions {
    std::int32_t width = 256;
    std::int32_t height = 256;
    int maxLayers = 8;  // 1..kMaxLayers
    int threads = 2;
    bool coverage = false;  // compute the sub-cell masks and colours
    ShadingOptions shading;
    // Hits closer than this along a ray are one surface; 0 picks 1e-4 of the scene radius.
    float mergeTolerance = 0.0f;
    ProgressCallback progress;
};

struct SampleStats {
    std::int64_t rays = 0;         // every ray cast, sub-cell rays included
    std::int64_t hits = 0;         // surface hits found inside the depth range
    std::int64_t hitsOutside = 0;  // hits before a given near or beyond a given far
    std::int64_t samples = 0;
    std::int64_t pixelsCovered = 0;  // pixels with at least one layer
    int minLayers = 0;
    int maxLayers = 0;
    double meanLayers = 0.0;    // over all pixels
    double stddevLayers = 0.0;  // over all pixels
    float minDistance = 0.0f;
    float maxDistance = 0.0f;
    float minDepth = 0.0f;
    float maxDepth = 0.0f;
    Bounds sampleBounds;       // of every sample position
    double seconds = 0.0;      // sampling time
    double loadSeconds = 0.0;  // time to read the scene, when the caller reports it
};

struct LayeredImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    PinholeCamera camera;  // near and far always set (fitted when they were not given)
    float mergeTolerance = 0.0f;
    std::vector<std::uint32_t> pixelStart;  // width * height + 1; pixel (r, c) at r * width + c
    std::vector<LayerSample> samples;
    std::vector<std::uint32_t> sub4Colours;
    std::vector<std::uint32_t> sub2Colours;
    SampleStats stats;

    int layerCount(int row, int column) const {
        const std::size_t p = static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(column);
        return static_cast<int>(pixelStart[p + 1] - pixelStart[p]);
    }
    const LayerSample& sample(int row, int column, int layer) const {
        const std::size_t p = static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(column);
        return samples[pixelStart[p] + static_cast<std::size_t>(layer)];
    }
};

// One grid row as it was found: the layer count of each pixel and the samples of the row, each
// pixel's farthest first, with sub-cell colour starts counted in the row's own sub-cell lists.
struct LayerRow {
    std::vector<std::uint32_t> counts;
    std::vector<LayerSample> samples;
    std::vector<std::uint32_t> sub4;
    std::vector<std::uint32_t> sub2;
    std::int64_t rays = 0;
    std::int64_t hits = 0;
    std::int64_t hitsOutside = 0;
};

// False (error set) for a grid or a layer count out of range.
bool checkSampleOptions(const SampleOptions& options, std::string& error);

// Appends the rows (every one of out.width pixels, out.height of them, bottom row first) to out,
// whose width, height and camera are set and whose lists are empty, then summarises it (below).
// The rows are emptied. False (error set) when the samples are more than 32-bit indices reach.
bool gatherRows(std::vector<LayerRow>& rows, LayeredImage& out, std::string& error);

// The statistics of out's pixel lists and samples (all but rays, hits and times), and near and
// far fitted just around the depths found where out.camera does not give them.
void summarizeLayers(LayeredImage& out);

// Casts the grid. camera must be normalised (normalizeCamera). Near and far not given are fitted
// just around the depths found. Returns false (error set) for sizes or layer counts out of
// range.
bool sampleLayers(const RayCaster& caster, const PinholeCamera& camera,
                  const SampleOptions& options, LayeredImage& out, std::string& error);

}  // namespace strata::maker
