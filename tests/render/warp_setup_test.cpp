#include "render/warp_setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/output_view.h"
#include "render/test_cameras.h"
#include "render/warp_state.h"

namespace strata::render {
namespace {

constexpr float kFov = 0.7853982f;

geometry::ViewCamera reference() {
    return testing::referenceCamera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, kFov, 64, 64);
}

WarpSetup setupFor(const geometry::Vector3& eye, const geometry::Vector3& dir) {
    const OutputView out = makeOutputView(eye, dir, {0, 1, 0}, kFov, 100, 100);
    return computeWarpSetup(reference().fullTransform(), out.warpMatrix, 0, 64, 0, 64);
}

TEST(WarpSetup, EpipoleOfAnEyeOnTheAxisIsTheImageCentre) {
    const WarpSetup back = setupFor({0, 0, 3}, {0, 0, -1});  // behind the reference camera
    ASSERT_TRUE(back.valid);
    EXPECT_EQ(back.behind, 1);
    EXPECT_NEAR(back.epipoleX, 32, 1);  // 32 up to float rounding, truncated
    EXPECT_NEAR(back.epipoleY, 32, 1);
    const WarpSetup front = setupFor({0, 0, -3}, {0, 0, -1});
    ASSERT_TRUE(front.valid);
    EXPECT_EQ(front.behind, 0);
    EXPECT_NEAR(front.epipoleX, 32, 1);
    EXPECT_NEAR(front.epipoleY, 32, 1);
}

TEST(WarpSetup, EpipoleInsideTheGridFollowsTheEye) {
    // An eye in front of the reference camera projects where a scene point there would.
    const geometry::Vector3 eye{1.0f, -0.5f, -4.0f};
    const WarpSetup s = setupFor(eye, {0, 0, -1});
    ASSERT_TRUE(s.valid);
    const geometry::Vector4 p =
        geometry::transform(reference().fullTransform(), geometry::point(eye));
    EXPECT_EQ(s.epipoleX, static_cast<int>(p.x / p.w));
    EXPECT_EQ(s.epipoleY, static_cast<int>(p.y / p.w));
    EXPECT_EQ(s.behind, 0);
}

TEST(WarpSetup, SidewaysEyeClampsToTheBorder) {
    // Eye in the reference camera's eye plane: w is pushed away from 0, then clamped.
    const WarpSetup plane = setupFor({5, 0, 0}, {0, 0, -1});
    ASSERT_TRUE(plane.valid);
    EXPECT_TRUE(plane.epipoleX == 0 || plane.epipoleX == 64 || plane.epipoleX == 63);
    const WarpSetup right = setupFor({50, 0, -1}, {0, 0, -1});
    ASSERT_TRUE(right.valid);
    EXPECT_EQ(right.behind, 0);
    EXPECT_EQ(right.epipoleX, 64);
    EXPECT_NEAR(right.epipoleY, 32, 1);
    const WarpSetup leftBehind = setupFor({-5, 0, 1}, {0, 0, -1});
    ASSERT_TRUE(leftBehind.valid);
    EXPECT_EQ(leftBehind.behind, 1);
    EXPECT_EQ(leftBehind.epipoleX, 64 - 1);  // mirrored through the eye plane: right border
    const WarpSetup leftFront = setupFor({-50, 0, -1}, {0, 0, -1});
    EXPECT_EQ(leftFront.behind, 0);
    EXPECT_EQ(leftFront.epipoleX, 0);
}

TEST(WarpSetup, ZColumnIsTheDepthStep) {
    const WarpSetup s = setupFor({0.3f, 0.2f, 2.0f}, {0, 0, -1});
    const geometry::Vector4 a = geometry::transform(s.transform, {10.5f, 20.5f, 0.25f, 1.0f});
    const geometry::Vector4 b = geometry::transform(s.transform, {10.5f, 20.5f, 0.0f, 1.0f});
    EXPECT_NEAR(a.x, b.x + 0.25f * s.zColumn.x, 1e-3f);
    EXPECT_NEAR(a.w, b.w + 0.25f * s.zColumn.w, 1e-5f);
}

TEST(ClampEpipole, BordersFloatingPointClampAndNonFinite) {
    int e = 0;
    ASSERT_TRUE(clampEpipole(64.0f, false, 0, 64, e));
    EXPECT_EQ(e, 64);  // at the maximum, eye in front
    ASSERT_TRUE(clampEpipole(64.0f, true, 0, 64, e));
    EXPECT_EQ(e, 63);  // eye behind: one before
    ASSERT_TRUE(clampEpipole(-7.0f, true, 0, 64, e));
    EXPECT_EQ(e, -1);  // eye behind, far left: one column before the first
    ASSERT_TRUE(clampEpipole(-7.0f, false, 0, 64, e));
    EXPECT_EQ(e, 0);
    ASSERT_TRUE(clampEpipole(17.9f, false, 0, 64, e));
    EXPECT_EQ(e, 17);  // inside: truncated
    ASSERT_TRUE(clampEpipole(-0.5f, true, 0, 64, e));
    EXPECT_EQ(e, 0);  // truncated toward zero
    // Far beyond the int32 range: limited before conversion.
    ASSERT_TRUE(clampEpipole(3e30f, false, 0, 64, e));
    EXPECT_EQ(e, 64);
    ASSERT_TRUE(clampEpipole(-3e30f, true, 5, 64, e));
    EXPECT_EQ(e, 4);
    EXPECT_FALSE(clampEpipole(std::numeric_limits<float>::quiet_NaN(), false, 0, 64, e));
    EXPECT_FALSE(clampEpipole(std::numeric_limits<float>::infinity(), true, 0, 64, e));
}

TEST(WarpSetup, BrokenMatrixSkipsTheDraw) {
    geometry::Matrix4 broken = geometry::Matrix4::identity();
    broken(0, 0) = std::numeric_limits<float>::quiet_NaN();
    const WarpSetup s = computeWarpSetup(reference().fullTransform(), broken, 0, 64, 0, 64);
    EXPECT_FALSE(s.valid);
}

TEST(BeginDraw, ScaleTablesAndRangesOfADraw) {
    // Reference: tan(fov/2) = 0.5 over 64 columns; output: tan(fov/2) = 0.25 across the 80 rows
    // of a 100 x 80 frame (0.3125 across its 100 columns: square pixels), near 0.1, one unit
    // behind the reference camera.
    DrawSetupInput in;
    in.ldiView =
        testing::referenceCamera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, 2.0f * std::atan(0.5f), 64, 64);
    in.ldiWidth = 64;
    in.ldiHeight = 64;
    const OutputView out =
        makeOutputView({0, 0, 1}, {0, 0, -1}, {0, 1, 0}, 2.0f * std::atan(0.25f), 100, 80);
    in.warpMatrix = out.warpMatrix;
    in.outputCamera = out.camera;
    in.outWidth = 100;
    in.outHeight = 80;
    in.x0 = -5;  // limited to the grid
    in.x1 = 100;
    in.y0 = 0;
    in.y1 = 64;
    const float bounds[] = {0.0f, 1.0f, 2.0f, 3.0f};
    in.bounds = bounds;
    in.binCount = 3;
    in.buildSplatTable = true;
    WarpState state;
    state.facing = 0.7f;
    ASSERT_TRUE(beginDraw(state, in));
    EXPECT_EQ(state.facing, 0.0f);
    EXPECT_FLOAT_EQ(state.tanOut, 0.3125f);
    // Output pixel steps on the unit image plane: 2 x 0.3125 / 100 = 2 x 0.25 / 80 each way.
    EXPECT_FLOAT_EQ(state.outFrame.delBi.length(), 0.00625f);
    EXPECT_FLOAT_EQ(state.outFrame.delUp.length(), 0.00625f);
    EXPECT_FLOAT_EQ(state.splatScale, 2.5f);  // 80 (0.5 / 0.25 / 64)
    EXPECT_FLOAT_EQ(state.halfWidth, 50.0f);
    EXPECT_FLOAT_EQ(state.halfHeight, 40.0f);
    EXPECT_FLOAT_EQ(state.correction.sx, 0.000625f);  // 0.1 x 0.25 / 40 on both axes
    EXPECT_FLOAT_EQ(state.correction.sy, 0.000625f);
    EXPECT_EQ(state.depthCorrection.width, 100);
    EXPECT_EQ(state.depthCorrection.entries.size(), 50u * 40u);
    EXPECT_EQ(state.range.x0, 0);
    EXPECT_EQ(state.range.x1, 64);
    // Same directions: entry (n << 5) | j = S (bound[j] + bound[j + 1]) / 2.
    EXPECT_FLOAT_EQ(state.splatSize[(7u << 5) | 1u], 2.5f * 1.5f);
    EXPECT_EQ(state.splatSize[(7u << 5) | 3u], 0.0f);
    EXPECT_EQ(state.setup.behind, 1);
    EXPECT_NEAR(state.setup.epipoleX, 32, 1);

    DrawSetupInput tiny = in;
    tiny.outWidth = 6;  // a 7 x 7 footprint cannot fit
    EXPECT_FALSE(beginDraw(state, tiny));
    DrawSetupInput empty = in;
    empty.y1 = 0;
    EXPECT_FALSE(beginDraw(state, empty));
}

}  // namespace
}  // namespace strata::render
