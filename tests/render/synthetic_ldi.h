// Synthetic QP LDIs for the kernel tests and the benchmark: a square reference camera and, per
// pixel, a list of samples given by eye distance (farthest first), colour, normal and size
// class, quantised the way LDI files store them.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "geometry/depth.h"
#include "geometry/quantise.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_rt_qp.h"
#include "render/row_depth_bounds.h"

namespace strata::render::testing {

struct SyntheticSample {
    float distance = 1.0f;  // eye depth along the reference direction
    std::uint32_t colour = 0;
    int normalIndex = 0;
    int sizeClass = 0;
};

struct SyntheticCamera {
    geometry::Vector3 pos{0.0f, 0.0f, 0.0f};
    geometry::Vector3 dir{0.0f, 0.0f, -1.0f};
    geometry::Vector3 up{0.0f, 1.0f, 0.0f};
    float fov = 0.7853982f;
    float near = 1.0f;
    float far = 100.0f;
};

// Reference camera stored as LDI headers store it: viewport with pixel edges on whole numbers.
inline geometry::ViewCamera syntheticView(const SyntheticCamera& c, std::int32_t width,
                                          std::int32_t height) {
    geometry::ViewCamera v;
    v.pos = c.pos;
    v.dir = c.dir;
    v.up = c.up;
    v.fov = c.fov;
    v.near = c.near;
    v.far = c.far;
    const float t = std::tan(c.fov * 0.5f) * c.near;
    v.projection = geometry::frustum(-t, t, -t, t, c.near, c.far);
    geometry::Matrix4 vp;
    vp(0, 0) = vp(0, 3) = static_cast<float>(width) / 2.0f;
    vp(1, 1) = vp(1, 3) = static_cast<float>(height) / 2.0f;
    vp(2, 2) = vp(3, 3) = 1.0f;
    v.viewport = vp;
    return v;
}

using SampleSource =
    std::function<void(std::int32_t row, std::int32_t column, std::vector<SyntheticSample>&)>;

// Builds an RT/QP LDI of width x height whose pixel (row, column) holds the samples the source
// gives (drawn in the order given). Size classes use bounds 0, 1, 2, ... (class j has mean
// j + 0.5 eye depth units). The visible rectangle and the culler rows are prepared as a load
// prepares them.
inline std::unique_ptr<ldi::LdiRtQp> makeSyntheticQp(const SyntheticCamera& camera,
                                                     std::int32_t width, std::int32_t height,
                                                     const SampleSource& source) {
    std::vector<std::uint32_t> words;
    std::vector<std::int32_t> rowStart(static_cast<std::size_t>(height) + 1, 0);
    std::vector<std::uint16_t> offsets(static_cast<std::size_t>(width + 1) *
                                       static_cast<std::size_t>(height));
    std::vector<SyntheticSample> samples;
    for (std::int32_t r = 0; r < height; ++r) {
        rowStart[static_cast<std::size_t>(r)] = static_cast<std::int32_t>(words.size() / 2);
        std::uint32_t inRow = 0;
        for (std::int32_t c = 0; c < width; ++c) {
            offsets[static_cast<std::size_t>(r * (width + 1) + c)] =
                static_cast<std::uint16_t>(inRow);
            samples.clear();
            source(r, c, samples);
            for (const SyntheticSample& s : samples) {
                const float z = geometry::perspectiveDepth(-s.distance, camera.near, camera.far);
                words.push_back(s.colour);
                words.push_back(
                    geometry::packDepthWord(geometry::depthCode(z), s.sizeClass, s.normalIndex));
                ++inRow;
            }
        }
        offsets[static_cast<std::size_t>(r * (width + 1) + width)] =
            static_cast<std::uint16_t>(inRow);
    }
    rowStart[static_cast<std::size_t>(height)] = static_cast<std::int32_t>(words.size() / 2);

    auto ldi = std::make_unique<ldi::LdiRtQp>();
    const std::int32_t count = static_cast<std::int32_t>(words.size() / 2);
    const std::int32_t counts[1] = {count};
    if (ldi->Create(width, height, 1, counts) == 0) {
        return nullptr;
    }
    std::copy(words.begin(), words.end(), ldi->pixels);
    std::copy(rowStart.begin(), rowStart.end(), ldi->rowStart);
    std::copy(offsets.begin(), offsets.end(), ldi->layerOffset);
    ldi->header.view = syntheticView(camera, width, height);
    ldi->header.binCount = 32;
    for (int i = 0; i <= 32; ++i) {
        ldi->header.bins[static_cast<std::size_t>(i)] = static_cast<float>(i);
    }
    ldi->BuildBinValues();
    ldi->BuildBinFactors();
    ldi->visibleRect.prepare(ldi->header.view, width, height);
    render::buildRowDepthBounds(ldi->header.culler, height, width,
                                [&](std::int32_t r, std::int32_t c, float& lo, float& hi) {
                                    return ldi->NormalisedDepthRange(r, c, lo, hi) != 0;
                                });
    return ldi;
}

}  // namespace strata::render::testing
