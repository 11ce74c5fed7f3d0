#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "geometry/normal_table.h"
#include "render/depth_correction_table.h"
#include "render/frame_margin.h"
#include "render/output_view.h"
#include "render/row_depth_bounds.h"
#include "render/splat_size_table.h"

namespace strata::render {
namespace {

TEST(DepthCorrectionTable, OddSizesCoverEveryPixelOfTheQuadrant) {
    DepthCorrectionTable table;
    table.update(7, 5, 0.1f, 0.2f, 1.0f);
    EXPECT_EQ(table.rowLength, 4);  // 7 - (7 >> 1)
    EXPECT_EQ(table.rowCount, 3);   // 5 - (5 >> 1)
    ASSERT_EQ(table.entries.size(), 12u);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            ASSERT_TRUE(table.covers(x, y)) << x << "," << y;
            ASSERT_LT(table.indexOf(x, y), table.entries.size());
        }
    }
    // Entry (i, j) from the closed form.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            const float dx = (j + 0.5f) * 0.1f;
            const float dy = (i + 0.5f) * 0.2f;
            EXPECT_FLOAT_EQ(table.entries[static_cast<std::size_t>(i * 4 + j)],
                            std::sqrt(dx * dx + dy * dy + 1.0f));
        }
    }
    // The pixel (3, 2) sits on the centre entry; (6, 4) on the far corner.
    EXPECT_EQ(table.indexOf(3, 2), 0u);
    EXPECT_EQ(table.indexOf(6, 4), 11u);
    EXPECT_EQ(table.indexOf(0, 0), 2u * 4u + 3u);
}

TEST(DepthCorrectionTable, CentreEntryOfTheDefaultFrame) {
    const DepthCorrectionParameters p = depthCorrectionParameters(0.1f, 0.7853982f, 350, 350);
    EXPECT_FLOAT_EQ(p.k, 1.0f);
    DepthCorrectionTable table;
    table.update(350, 350, p.sx, p.sy, p.k);
    const float expected =
        std::sqrt(p.k * ((0.5f * p.sx) * (0.5f * p.sx) + (0.5f * p.sy) * (0.5f * p.sy)) + 1.0f);
    EXPECT_EQ(table.entries[0], expected);
    // The kernels look up |X - (W >> 1)| and |Y - (H >> 1)|: pixel 175 reads the centre entry,
    // pixel 174 the next one out.
    EXPECT_EQ(table.indexOf(175, 175), 0u);
    EXPECT_EQ(table.indexOf(174, 175), 1u);
    EXPECT_EQ(table.indexOf(175, 174), 175u);
    EXPECT_EQ(table.indexOf(174, 174), 176u);
    const float next =
        std::sqrt(p.k * ((1.5f * p.sx) * (1.5f * p.sx) + (0.5f * p.sy) * (0.5f * p.sy)) + 1.0f);
    EXPECT_EQ(table.entries[1], next);
    // Even width: column 0 lies one past the quadrant; the kernels never reach it.
    EXPECT_FALSE(table.covers(0, 175));
    EXPECT_TRUE(table.covers(1, 175));
}

TEST(DepthCorrectionTable, ParametersFromNearFieldOfViewAndHalfSizes) {
    // sx = sy = near tan(fov/2) / (S/2) with S the smaller side (square pixels), k = near (1 /
    // near), for wide, tall and square frames.
    const float fov = 2.0f * std::atan(0.75f);
    struct Case {
        std::int32_t width, height, side;
    };
    for (const Case c : {Case{200, 100, 100}, Case{100, 200, 100}, Case{200, 200, 200}}) {
        const DepthCorrectionParameters p = depthCorrectionParameters(0.5f, fov, c.width, c.height);
        const float step = 0.5f * 0.75f / (0.5f * static_cast<float>(c.side));
        EXPECT_NEAR(p.sx, step, 1e-6f * step) << c.width << "x" << c.height;
        EXPECT_NEAR(p.sy, step, 1e-6f * step) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(p.k, 1.0f);
    }
}

TEST(DepthCorrectionTable, RebuiltWhenSizeOrParametersChange) {
    DepthCorrectionTable table;
    table.update(8, 8, 0.1f, 0.1f, 1.0f);
    EXPECT_EQ(table.entries.size(), 16u);
    const float* before = table.entries.data();
    table.update(8, 8, 0.1f, 0.1f, 1.0f);
    EXPECT_EQ(table.entries.data(), before);  // same values: kept
    table.update(9, 13, 0.1f, 0.1f, 1.0f);    // larger output: regrown, no stale size
    EXPECT_EQ(table.entries.size(), 5u * 7u);
    for (int y = 0; y < 13; ++y) {
        for (int x = 0; x < 9; ++x) {
            ASSERT_TRUE(table.covers(x, y));
        }
    }
    table.update(9, 13, 0.3f, 0.1f, 1.0f);  // zoom changes sx: new values
    EXPECT_FLOAT_EQ(table.entries[1], std::sqrt(0.45f * 0.45f + 0.05f * 0.05f + 1.0f));
}

std::vector<float> bounds33() {
    std::vector<float> b(2049, 0.0f);
    for (int i = 0; i < 40; ++i) {
        b[static_cast<std::size_t>(i)] = static_cast<float>(i);
    }
    return b;
}

TEST(SplatSizeTable, SameDirectionGivesScaledClassMeans) {
    SplatSizeTable table;
    const geometry::Vector3 dir{0.0f, 0.0f, -1.0f};
    const std::vector<float> b = bounds33();
    table.build(2.0f, dir, dir, b, 5);
    for (int n = 0; n < 64; ++n) {
        for (int j = 0; j < 32; ++j) {
            const float expected =
                j < 5 ? 2.0f * (2.0f * static_cast<float>(j) + 1.0f) * 0.5f : 0.0f;
            ASSERT_FLOAT_EQ(table[static_cast<std::uint32_t>((n << 5) | j)], expected);
        }
    }
}

TEST(SplatSizeTable, ClassCountLimitedAndUpperHalfStaysZero) {
    EXPECT_EQ(sizeClassCount(2048, 2049), 32);
    EXPECT_EQ(sizeClassCount(-3, 2049), 0);
    EXPECT_EQ(sizeClassCount(10, 4), 3);
    EXPECT_EQ(sizeClassCount(10, 0), 0);

    SplatSizeTable table;
    const std::vector<float> b = bounds33();
    table.build(1.0f, {0.0f, 0.6f, -0.8f}, {0.0f, 0.0f, -1.0f}, b, 2048);
    // Normal n, class 31 is filled (class 32 would have spilled into normal n + 1).
    const auto normals = geometry::normalTable();
    const geometry::Vector3 n0 = normals[0];
    const float ratio = std::sqrt(std::fabs((0.6f * n0.y - 0.8f * n0.z) / (-n0.z)));
    EXPECT_FLOAT_EQ(table[31], ratio * (31.0f + 32.0f) * 0.5f);
    for (std::uint32_t i = 2048; i < 4096; ++i) {
        ASSERT_EQ(table[i], 0.0f);  // bit 31 of a depth word: one pixel
    }
    // Every filled entry is finite for these directions.
    for (std::uint32_t i = 0; i < 2048; ++i) {
        ASSERT_TRUE(std::isfinite(table[i]));
    }
}

TEST(RowDepthBounds, RowRangesFromPixelRangesEmptyRowsKeepTheirStart) {
    geometry::ScanlineCuller culler;
    // Row 0: pixels (0.1..0.4) and (-0.2..0.3); row 1: empty; row 2: one pixel at 0.9.
    buildRowDepthBounds(culler, 3, 2, [](std::int32_t r, std::int32_t c, float& lo, float& hi) {
        if (r == 0) {
            lo = c == 0 ? 0.1f : -0.2f;
            hi = c == 0 ? 0.4f : 0.3f;
            return true;
        }
        if (r == 2 && c == 1) {
            lo = hi = 0.9f;
            return true;
        }
        return false;
    });
    ASSERT_EQ(culler.rows, 3);
    EXPECT_FLOAT_EQ(culler.zMin[0], -0.2f);
    EXPECT_FLOAT_EQ(culler.zMax[0], 0.4f);
    EXPECT_FLOAT_EQ(culler.zMin[1], 1.0f);
    EXPECT_FLOAT_EQ(culler.zMax[1], -1.0f);
    EXPECT_FLOAT_EQ(culler.zMin[2], 0.9f);
    EXPECT_FLOAT_EQ(culler.zMax[2], 0.9f);
}

TEST(OutputView, PointAheadLandsOnTheCentreWithInverseDistanceDepth) {
    const OutputView view = makeOutputView({1.0f, 2.0f, 3.0f}, {0.0f, 0.0f, -1.0f},
                                           {0.0f, 1.0f, 0.0f}, kDefaultFov, 350, 350);
    EXPECT_FLOAT_EQ(view.camera.near, 0.1f);
    EXPECT_FLOAT_EQ(view.camera.far, 10000.0f);
    const geometry::Vector4 p = geometry::transform(view.warpMatrix, {1.0f, 2.0f, -2.0f, 1.0f});
    EXPECT_FLOAT_EQ(p.x / p.w, 174.5f);  // pixel centres on whole numbers
    EXPECT_FLOAT_EQ(p.y / p.w, 174.5f);
    EXPECT_FLOAT_EQ(p.z / p.w, -0.2f);  // -1 / distance
    // A point on the right edge of the view (tan(fov/2) to the side) lands on x = 349.5.
    const float t = std::tan(kDefaultFov * 0.5f);
    const geometry::Vector4 e =
        geometry::transform(view.warpMatrix, {1.0f + 5.0f * t, 2.0f, -2.0f, 1.0f});
    EXPECT_NEAR(e.x / e.w, 349.5f, 1e-3f);
}

// The output view of a wide or tall frame keeps pixels square (its projection scales both axes
// by the same number of pixels per tangent), and the whole-buffer camera's square volume reaches
// the farther buffer edge of the larger axis; square frames keep the angle as it was.
TEST(OutputView, NonSquareFramesHaveSquarePixelsAndAWideEnoughClipVolume) {
    const float fov = 0.7853982f;
    const float t = std::tan(0.5f * fov);
    struct Case {
        std::int32_t width, height;
    };
    for (const Case c : {Case{350, 350}, Case{700, 350}, Case{350, 700}, Case{1920, 1080}}) {
        const OutputView view = makeOutputView({0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, -1.0f},
                                               {0.0f, 1.0f, 0.0f}, fov, c.width, c.height);
        const geometry::Matrix4 m = geometry::product(view.camera.viewport, view.camera.projection);
        const float side = static_cast<float>(std::min(c.width, c.height));
        // Pixels per unit tangent, on either axis: the smaller side spans 2 t.
        EXPECT_FLOAT_EQ(m(0, 0), side / (2.0f * t)) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(m(1, 1), side / (2.0f * t)) << c.width << "x" << c.height;

        const OutputView framed = withMargin(view, kFrameMargin);
        const geometry::ViewCamera wide = wholeBufferCamera(
            framed.camera, c.width + 2 * kFrameMargin, c.height + 2 * kFrameMargin);
        const float larger = static_cast<float>(std::max(c.width, c.height));
        const float reach = t * (larger + 2.0f * kFrameMargin) / side;
        EXPECT_NEAR(std::tan(0.5f * wide.fov), reach, 1e-5f * reach) << c.width << "x" << c.height;
        // Without a margin a square frame keeps its angle; a wide one takes its larger side's.
        const geometry::ViewCamera whole = wholeBufferCamera(view.camera, c.width, c.height);
        EXPECT_NEAR(std::tan(0.5f * whole.fov), t * larger / side, 1e-5f * t * larger / side);
        if (c.width == c.height) {
            EXPECT_EQ(whole.fov, fov);
        }
    }
}

}  // namespace
}  // namespace strata::render
