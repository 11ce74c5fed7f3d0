#include "geometry/frame_tangents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace strata::geometry {
namespace {

// The angle spans the smaller side; the larger side's tangent grows by the aspect ratio, so a
// pixel spans the same tangent on both axes.
TEST(FrameTangents, AngleSpansTheSmallerSideAndPixelsAreSquare) {
    const float fov = 0.7853982f;
    const float t = std::tan(0.5f * fov);
    struct Case {
        std::int32_t width, height;
        float x, y;  // expected half-angle tangents in units of t
    };
    for (const Case c :
         {Case{350, 350, 1.0f, 1.0f}, Case{700, 350, 2.0f, 1.0f}, Case{350, 700, 1.0f, 2.0f},
          Case{1920, 1080, 1920.0f / 1080.0f, 1.0f}, Case{1080, 1920, 1.0f, 1920.0f / 1080.0f},
          Case{2, 1, 2.0f, 1.0f}, Case{1, 1, 1.0f, 1.0f}}) {
        const FrameTangents f = frameTangents(fov, c.width, c.height);
        EXPECT_FLOAT_EQ(f.x, c.x * t) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(f.y, c.y * t) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(2.0f * f.x / static_cast<float>(c.width),
                        2.0f * f.y / static_cast<float>(c.height))
            << c.width << "x" << c.height;
    }
}

// Square frames keep exactly tan(fov / 2) on both axes (pictures stay bit for bit as they
// were); an empty frame falls back to it too.
TEST(FrameTangents, SquareAndEmptyFramesKeepTheHalfAngleTangentExactly) {
    for (const float fov : {0.017f, 0.7853982f, 1.5f, 3.12f}) {
        const float t = std::tan(0.5f * fov);
        for (const std::int32_t side : {1, 8, 350, 1080, 16384}) {
            const FrameTangents f = frameTangents(fov, side, side);
            EXPECT_EQ(f.x, t);
            EXPECT_EQ(f.y, t);
        }
        for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 350}, std::pair{350, -1}}) {
            const FrameTangents f = frameTangents(fov, w, h);
            EXPECT_EQ(f.x, t);
            EXPECT_EQ(f.y, t);
        }
    }
}

}  // namespace
}  // namespace strata::geometry
