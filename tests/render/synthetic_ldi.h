// Synthetic LDIs for the kernel tests and the benchmark: a square reference camera and, per
// pixel, a list of samples given by eye distance (farthest first), colour, normal and size
// class (MRQP: and coverage masks with their colours), quantised the way LDI files store them.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "geometry/depth.h"
#include "geometry/quantise.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
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

namespace detail {

// Header camera, tables, visible rectangle and culler rows, as a load prepares them.
template <class Ldi>
void finishSynthetic(Ldi& ldi, const SyntheticCamera& camera, std::int32_t width,
                     std::int32_t height) {
    ldi.header.view = syntheticView(camera, width, height);
    ldi.BuildBinValues();
    ldi.BuildBinFactors();
    ldi.visibleRect.prepare(ldi.header.view, width, height);
    render::buildRowDepthBounds(ldi.header.culler, height, width,
                                [&](std::int32_t r, std::int32_t c, float& lo, float& hi) {
                                    return ldi.NormalisedDepthRange(r, c, lo, hi) != 0;
                                });
}

}  // namespace detail

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
    ldi->header.binCount = 32;
    for (int i = 0; i <= 32; ++i) {
        ldi->header.bins[static_cast<std::size_t>(i)] = static_cast<float>(i);
    }
    detail::finishSynthetic(*ldi, camera, width, height);
    return ldi;
}

// The CP depth code of an eye distance: 256 bins uniform over normalised depth + 1 in [0, 2].
inline std::uint32_t cpCode(float distance, const SyntheticCamera& camera) {
    const float z = geometry::perspectiveDepth(-distance, camera.near, camera.far);
    const int code = static_cast<int>(std::floor((z + 1.0f) * 128.0f));
    return static_cast<std::uint32_t>(code < 0 ? 0 : code > 255 ? 255 : code);
}

// An RT/CP LDI (256 uniform depth bins; normals and size classes are not stored).
inline std::unique_ptr<ldi::LdiRtCp> makeSyntheticCp(const SyntheticCamera& camera,
                                                     std::int32_t width, std::int32_t height,
                                                     const SampleSource& source) {
    std::vector<std::uint32_t> words;
    std::vector<std::uint8_t> counts(static_cast<std::size_t>(width + 1) *
                                     static_cast<std::size_t>(height));
    std::vector<std::int32_t> rowStart(static_cast<std::size_t>(height) + 1, 0);
    std::vector<SyntheticSample> samples;
    for (std::int32_t r = 0; r < height; ++r) {
        rowStart[static_cast<std::size_t>(r)] = static_cast<std::int32_t>(words.size());
        for (std::int32_t c = 0; c < width; ++c) {
            samples.clear();
            source(r, c, samples);
            counts[static_cast<std::size_t>(r * (width + 1) + c)] =
                static_cast<std::uint8_t>(samples.size());
            for (const SyntheticSample& s : samples) {
                words.push_back((s.colour & 0xFFFFFFu) | cpCode(s.distance, camera) << 24);
            }
        }
    }
    rowStart[static_cast<std::size_t>(height)] = static_cast<std::int32_t>(words.size());
    auto ldi = std::make_unique<ldi::LdiRtCp>();
    const std::int32_t total[1] = {static_cast<std::int32_t>(words.size())};
    if (ldi->Create(width, height, 1, total) == 0) {
        return nullptr;
    }
    std::copy(words.begin(), words.end(), ldi->pixels);
    std::copy(rowStart.begin(), rowStart.end(), ldi->rowStart);
    std::copy(counts.begin(), counts.end(), ldi->layerCount);
    ldi->header.binCount = 256;
    for (int i = 0; i <= 256; ++i) {
        ldi->header.bins[static_cast<std::size_t>(i)] = static_cast<float>(i) / 128.0f;
    }
    detail::finishSynthetic(*ldi, camera, width, height);
    return ldi;
}

// One MRQP depth pixel: the sample, its coverage masks (4 x 4 in bits 0..15, 2 x 2 in bits
// 0..3) and one colour per set bit, in bit order (missing colours are 0).
struct SyntheticMrqpSample {
    SyntheticSample sample;
    std::uint32_t mask4 = 0;
    std::uint32_t mask2 = 0;
    std::vector<std::uint32_t> colours4;
    std::vector<std::uint32_t> colours2;
    bool bit31 = false;  // set bit 31 of the depth word
};

using MrqpSampleSource =
    std::function<void(std::int32_t row, std::int32_t column, std::vector<SyntheticMrqpSample>&)>;

// An RT/MRQP LDI; size classes as makeSyntheticQp (class j has mean j + 0.5).
inline std::unique_ptr<ldi::LdiRtMrqp> makeSyntheticMrqp(const SyntheticCamera& camera,
                                                         std::int32_t width, std::int32_t height,
                                                         const MrqpSampleSource& source) {
    std::vector<std::uint32_t> words;
    std::vector<std::uint32_t> full;
    std::vector<std::uint32_t> colours[2];  // 4 x 4, 2 x 2
    std::vector<std::int32_t> rowStart[3];
    std::vector<std::uint16_t> offsets[3];
    for (int level = 0; level < 3; ++level) {
        rowStart[level].assign(static_cast<std::size_t>(height) + 1, 0);
        offsets[level].assign(
            static_cast<std::size_t>(width + 1) * static_cast<std::size_t>(height), 0);
    }
    std::vector<SyntheticMrqpSample> samples;
    const auto sizes = [&] {
        return std::array<std::size_t, 3>{full.size(), colours[0].size(), colours[1].size()};
    };
    for (std::int32_t r = 0; r < height; ++r) {
        const auto rowFirst = sizes();
        for (int level = 0; level < 3; ++level) {
            rowStart[level][static_cast<std::size_t>(r)] =
                static_cast<std::int32_t>(rowFirst[static_cast<std::size_t>(level)]);
        }
        for (std::int32_t c = 0; c <= width; ++c) {
            const auto now = sizes();
            for (int level = 0; level < 3; ++level) {
                offsets[level][static_cast<std::size_t>(r * (width + 1) + c)] =
                    static_cast<std::uint16_t>(now[static_cast<std::size_t>(level)] -
                                               rowFirst[static_cast<std::size_t>(level)]);
            }
            if (c == width) {
                break;
            }
            samples.clear();
            source(r, c, samples);
            for (const SyntheticMrqpSample& m : samples) {
                const SyntheticSample& s = m.sample;
                const float z = geometry::perspectiveDepth(-s.distance, camera.near, camera.far);
                std::uint32_t word =
                    geometry::packDepthWord(geometry::depthCode(z), s.sizeClass, s.normalIndex);
                if (m.bit31) {
                    word |= 0x80000000u;
                }
                words.push_back(word);
                words.push_back((m.mask4 & 0xFFFFu) | (m.mask2 & 0xFu) << 16);
                full.push_back(s.colour);
                const std::uint32_t masks[2] = {m.mask4 & 0xFFFFu, m.mask2 & 0xFu};
                const std::vector<std::uint32_t>* given[2] = {&m.colours4, &m.colours2};
                for (int k = 0; k < 2; ++k) {
                    for (int bit = 0; bit < std::popcount(masks[k]); ++bit) {
                        const auto b = static_cast<std::size_t>(bit);
                        colours[k].push_back(b < given[k]->size() ? (*given[k])[b] : 0u);
                    }
                }
            }
        }
    }
    const auto totals = sizes();
    for (int level = 0; level < 3; ++level) {
        rowStart[level][static_cast<std::size_t>(height)] =
            static_cast<std::int32_t>(totals[static_cast<std::size_t>(level)]);
    }
    auto ldi = std::make_unique<ldi::LdiRtMrqp>();
    const std::int32_t counts[4] = {
        static_cast<std::int32_t>(full.size()), static_cast<std::int32_t>(colours[0].size()),
        static_cast<std::int32_t>(colours[1].size()), static_cast<std::int32_t>(full.size())};
    if (ldi->Create(width, height, 4, counts) == 0) {
        return nullptr;
    }
    for (int i = 0; i < 4; ++i) {
        ldi->header.setMrqpCount(i, counts[i]);
    }
    std::copy(words.begin(), words.end(), ldi->pixels);
    std::copy(full.begin(), full.end(), ldi->fullColours);
    std::copy(colours[0].begin(), colours[0].end(), ldi->colours4x4);
    std::copy(colours[1].begin(), colours[1].end(), ldi->colours2x2);
    for (int level = 0; level < 3; ++level) {
        const auto l = static_cast<std::size_t>(level);
        std::copy(rowStart[level].begin(), rowStart[level].end(), ldi->rowStart[l]);
        std::copy(offsets[level].begin(), offsets[level].end(), ldi->layerOffset[l]);
    }
    ldi->header.binCount = 32;
    for (int i = 0; i <= 32; ++i) {
        ldi->header.bins[static_cast<std::size_t>(i)] = static_cast<float>(i);
    }
    detail::finishSynthetic(*ldi, camera, width, height);
    return ldi;
}

}  // namespace strata::render::testing
