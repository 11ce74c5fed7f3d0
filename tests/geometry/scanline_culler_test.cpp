#include "geometry/scanline_culler.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace strata::geometry {
namespace {

// An LDI of 10 rows over columns 0..9 warped by a plain translation onto a 20 x 20 output.
ScanlineCuller culler(const Matrix4& warp) {
    ScanlineCuller c;
    c.allocate(10);
    for (int row = 0; row < 10; ++row) {
        c.setRow(row, -0.5f, 0.5f);
    }
    c.setTransform(warp, 20, 20, 0, 9);
    return c;
}

TEST(ScanlineCuller, NewCullerHasNoRowsAndCullsNothing) {
    ScanlineCuller c;
    EXPECT_EQ(c.rows, 0);
    EXPECT_EQ(c.transform, Matrix4::identity());
    EXPECT_FALSE(c.rowCulled(0));
    EXPECT_FALSE(c.rowCulled(-1));
    EXPECT_EQ(c.rejected, 0);
}

TEST(ScanlineCuller, AllocateStartsRowsEmpty) {
    ScanlineCuller c;
    c.allocate(3);
    EXPECT_EQ(c.rows, 3);
    EXPECT_EQ(c.zMin, (std::vector<float>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(c.zMax, (std::vector<float>{-1.0f, -1.0f, -1.0f}));
    c.setRow(1, -0.25f, 0.75f);
    c.setRow(7, 0.0f, 0.0f);  // out of range: ignored
    EXPECT_EQ(c.zMin[1], -0.25f);
    EXPECT_EQ(c.zMax[1], 0.75f);
    c.allocate(-4);
    EXPECT_EQ(c.rows, 0);
    EXPECT_TRUE(c.zMin.empty());
}

TEST(ScanlineCuller, RowsWhollyOffTheImageAreCulledAndCounted) {
    // Left of the image: x in -30..-21.
    ScanlineCuller left = culler(translation(-30, 0, 0));
    EXPECT_TRUE(left.rowCulled(4));
    EXPECT_EQ(left.rejected, 1);
    // Below: y = row - 25 < 0 for every row.
    ScanlineCuller below = culler(translation(0, -25, 0));
    EXPECT_TRUE(below.rowCulled(0));
    EXPECT_TRUE(below.rowCulled(9));
    EXPECT_EQ(below.rejected, 2);
    below.resetCount();
    EXPECT_EQ(below.rejected, 0);
    // Right and above.
    EXPECT_TRUE(culler(translation(21, 0, 0)).rowCulled(3));
    ScanlineCuller above = culler(translation(0, 15, 0));
    EXPECT_FALSE(above.rowCulled(5));  // y = 20: on the edge, kept
    EXPECT_TRUE(above.rowCulled(6));   // y = 21
}

TEST(ScanlineCuller, RowsTouchingOrStraddlingTheEdgesAreKept) {
    // Columns 0..9 land at -9..0: the last corner is on the left edge.
    EXPECT_FALSE(culler(translation(-9, 0, 0)).rowCulled(2));
    // Straddling the left edge.
    EXPECT_FALSE(culler(translation(-5, 0, 0)).rowCulled(2));
    // The first corner on the right edge (x = 20).
    EXPECT_FALSE(culler(translation(20, 0, 0)).rowCulled(2));
    // Inside.
    ScanlineCuller inside = culler(Matrix4::identity());
    for (int row = 0; row < 10; ++row) {
        EXPECT_FALSE(inside.rowCulled(row));
    }
    EXPECT_EQ(inside.rejected, 0);
    // Rows outside the culler's range are never culled.
    ScanlineCuller off = culler(translation(-30, 0, 0));
    EXPECT_FALSE(off.rowCulled(10));
    EXPECT_FALSE(off.rowCulled(-1));
}

// w = z + 0.6: with depths -0.5..0.5 every corner is in front; depth -1 puts one behind.
Matrix4 projective(float shiftX) {
    Matrix4 m = translation(shiftX, 0, 0);
    m(3, 2) = 1.0f;
    m(3, 3) = 0.6f;
    return m;
}

TEST(ScanlineCuller, RowWithACornerBehindTheEyeIsKept) {
    ScanlineCuller c = culler(projective(-100));
    EXPECT_TRUE(c.rowCulled(3));  // all in front, all far left
    c.setRow(3, -1.0f, 0.5f);     // w = -0.4 at the near corners: mirrored by the divide
    EXPECT_FALSE(c.rowCulled(3));
    c.setRow(3, -0.6f, 0.5f);  // w = 0 exactly
    EXPECT_FALSE(c.rowCulled(3));
    EXPECT_EQ(c.rejected, 1);
}

TEST(ScanlineCuller, EmptyRowIsStillTestedWithItsStartRange) {
    // A row without samples keeps zMin 1, zMax -1, and those values go through the transform.
    ScanlineCuller c;
    c.allocate(4);
    Matrix4 m = translation(-30, 0, 0);
    m(0, 2) = 40.0f;  // x grows with depth: z = 1 lands at x = 10..19, inside
    c.setTransform(m, 20, 20, 0, 9);
    EXPECT_FALSE(c.rowCulled(2));
    m(0, 2) = 0.0f;
    c.setTransform(m, 20, 20, 0, 9);
    EXPECT_TRUE(c.rowCulled(2));
}

TEST(ScanlineCuller, NonFiniteProjectionIsKept) {
    Matrix4 m = Matrix4::identity();
    m(0, 0) = std::numeric_limits<float>::infinity();
    ScanlineCuller c = culler(m);
    EXPECT_FALSE(c.rowCulled(1));
    EXPECT_EQ(c.rejected, 0);
}

}  // namespace
}  // namespace strata::geometry
