#include "geometry/matrix.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/depth.h"
#include "geometry/quaternion.h"

namespace strata::geometry {
namespace {

Vector4 divided(Vector4 v) {
    return {v.x / v.w, v.y / v.w, v.z / v.w, 1.0f};
}

TEST(Matrix4, TranslationMovesTheOrigin) {
    const Vector4 p = transform(translation(1, 2, 3), {0, 0, 0, 1});
    EXPECT_EQ(p, (Vector4{1, 2, 3, 1}));
}

TEST(Matrix4, ProductAppliesRightFactorFirst) {
    const Matrix4 scaleX = [] {
        Matrix4 m = Matrix4::identity();
        m(0, 0) = 2.0f;
        return m;
    }();
    // scale * translate: translate first, then scale -> x = 2 * (0 + 1).
    EXPECT_FLOAT_EQ(transform(product(scaleX, translation(1, 0, 0)), {0, 0, 0, 1}).x, 2.0f);
    EXPECT_FLOAT_EQ(transform(product(translation(1, 0, 0), scaleX), {0, 0, 0, 1}).x, 1.0f);
}

TEST(Matrix4, FrustumMapsNearAndFarToMinusOneAndOne) {
    const Matrix4 f = frustum(-1, 1, -1, 1, 1, 1000);
    EXPECT_FLOAT_EQ(divided(transform(f, {0, 0, -1, 1})).z, -1.0f);
    EXPECT_NEAR(divided(transform(f, {0, 0, -1000, 1})).z, 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(f(3, 2), -1.0f);
    EXPECT_FLOAT_EQ(f(3, 3), 0.0f);
}

TEST(Matrix4, WarpProjectionGivesMinusInverseDistance) {
    const Matrix4 f = frustum(-1, 1, -1, 1, 1, -1);
    EXPECT_FLOAT_EQ(f(2, 2), 0.0f);
    EXPECT_FLOAT_EQ(f(2, 3), -1.0f);
    EXPECT_FLOAT_EQ(divided(transform(f, {0, 0, -4, 1})).z, -0.25f);
}

TEST(Matrix4, OrthoAndDepthMappingsAgree) {
    const Matrix4 o = ortho(-2, 2, -1, 1, 1, 11);
    EXPECT_FLOAT_EQ(transform(o, {0, 0, -1, 1}).z, -1.0f);
    EXPECT_FLOAT_EQ(transform(o, {0, 0, -11, 1}).z, 1.0f);
    EXPECT_FLOAT_EQ(orthoDepth(-6.0f, 1.0f, 11.0f), 0.0f);
    EXPECT_FLOAT_EQ(perspectiveDepth(-1.0f, 1.0f, 1000.0f), -1.0f);
    EXPECT_NEAR(perspectiveDepth(-1000.0f, 1.0f, 1000.0f), 1.0f, 1e-6);
    for (float d : {1.0f, 2.5f, 10.0f, 400.0f}) {
        EXPECT_NEAR(perspectiveEye(perspectiveDepth(-d, 1.0f, 1000.0f), 1.0f, 1000.0f), -d,
                    d * 1e-4);
    }
}

TEST(Matrix4, ViewportPutsPixelCentresOnIntegers) {
    const Matrix4 v = viewport(0, 350, 0, 350);
    EXPECT_FLOAT_EQ(transform(v, {-1, -1, 0, 1}).x, -0.5f);
    EXPECT_FLOAT_EQ(transform(v, {1, 1, 0, 1}).x, 349.5f);
    EXPECT_FLOAT_EQ(transform(v, {1, 1, 0, 1}).y, 349.5f);
    EXPECT_FLOAT_EQ(transform(v, {0, 0, 0, 1}).x, 174.5f);
}

TEST(Matrix4, LookAtDownMinusZIsIdentity) {
    EXPECT_EQ(lookAtRotation({0, 0, -1}, {0, 1, 0}), Matrix4::identity());
}

TEST(Matrix4, LookAtRowsAreSideUpAndBackward) {
    const Matrix4 r = lookAtRotation({1, 0, 0}, {0, 0, 1});
    // side = dir x up = (0,-1,0); u = side x dir = (0,0,1); row 2 = -dir.
    EXPECT_FLOAT_EQ(r(0, 1), -1.0f);
    EXPECT_FLOAT_EQ(r(1, 2), 1.0f);
    EXPECT_FLOAT_EQ(r(2, 0), -1.0f);
}

TEST(Matrix4, InverseOfRegularMatrix) {
    const Matrix4 m = product(frustum(-1, 1, -1, 1, 1, 100), translation(3, -2, 5));
    const Matrix4 id = product(m, inverse(m));
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(id(r, c), r == c ? 1.0f : 0.0f, 1e-5) << r << "," << c;
        }
    }
    EXPECT_NEAR(determinant(translation(1, 2, 3)), 1.0f, 1e-7);
}

TEST(Matrix4, InverseOfSingularMatrixDividesAdjugateByTenToTheMinusFive) {
    Matrix4 m = Matrix4::identity();
    m(2, 2) = 0.0f;  // singular; adjugate = diag(0, 0, 1, 0)
    const Matrix4 inv = inverse(m);
    EXPECT_FLOAT_EQ(inv(2, 2), 1.0f / 1e-5f);
    EXPECT_FLOAT_EQ(inv(0, 0), 0.0f);
    Matrix4 adj = m;
    adjugate(adj);
    EXPECT_FLOAT_EQ(adj(2, 2), 1.0f);
}

TEST(Quaternion, HamiltonProductOfBasisUnits) {
    const Quaternion i{1, 0, 0, 0}, j{0, 1, 0, 0}, k{0, 0, 1, 0};
    EXPECT_EQ(product(i, j), k);
    EXPECT_EQ(product(j, i), (Quaternion{0, 0, -1, 0}));
    EXPECT_EQ(product(i, i), (Quaternion{0, 0, 0, -1}));
}

TEST(Quaternion, InverseDividesConjugateByNorm) {
    const Quaternion q{1, 2, 3, 4};
    const Quaternion inv = inverse(q);
    EXPECT_DOUBLE_EQ(inv.x, -1.0 / 30);
    EXPECT_DOUBLE_EQ(inv.w, 4.0 / 30);
    const Quaternion one = product(q, inv);
    EXPECT_NEAR(one.w, 1.0, 1e-12);
    EXPECT_NEAR(one.x, 0.0, 1e-12);
}

TEST(Quaternion, RotationMatrixOfQuarterTurnAboutZ) {
    const double h = std::sqrt(0.5);
    const Matrix4 r = rotationMatrix({0, 0, h, h});
    const Vector4 v = transform(r, {1, 0, 0, 0});
    EXPECT_NEAR(v.x, 0.0f, 1e-6);
    EXPECT_NEAR(v.y, 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(r(3, 3), 1.0f);
    // Not normalised first: q = (0,0,0,2) gives 1 - 0 on the diagonal regardless of w.
    EXPECT_EQ(rotationMatrix({0, 0, 0, 2}), Matrix4::identity());
}

}  // namespace
}  // namespace strata::geometry
