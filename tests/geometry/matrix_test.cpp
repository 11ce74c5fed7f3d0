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

// Every non-zero element of each builder, worked out by hand for asymmetric volumes, so that
// the signs of the translation terms are pinned (ortho uses +(r+l)/(r-l), +(t+b)/(t-b)).
TEST(Matrix4, BuilderElementsForAsymmetricVolumes) {
    Matrix4 o;
    o(0, 0) = 0.5f;
    o(0, 3) = 1.0f;
    o(1, 1) = 1.0f;
    o(1, 3) = 2.0f;
    o(2, 2) = -0.5f;
    o(2, 3) = -2.0f;
    o(3, 3) = 1.0f;
    EXPECT_EQ(ortho(0, 4, 1, 3, 2, 6), o);

    Matrix4 f;
    f(0, 0) = 1.0f;
    f(0, 2) = 1.0f;
    f(1, 1) = 1.0f;
    f(1, 2) = 2.0f;
    f(2, 2) = -2.0f;
    f(2, 3) = -3.0f;
    f(3, 2) = -1.0f;
    EXPECT_EQ(frustum(0, 2, 1, 3, 1, 3), f);

    // A reversed horizontal extent: scale -175, offset (|-350| - 1) / 2.
    Matrix4 v;
    v(0, 0) = -175.0f;
    v(0, 3) = 174.5f;
    v(1, 1) = 50.0f;
    v(1, 3) = 49.5f;
    v(2, 2) = 1.0f;
    v(3, 3) = 1.0f;
    EXPECT_EQ(viewport(350, 0, 0, 100), v);
}

TEST(Matrix4, LookAtDividesSideBySineNotByItsLength) {
    // up of length 2 perpendicular to dir: dir.up = 0, so s = dir x up = (2, 0, 0) is kept as it
    // is, and u = s x dir = (0, 2, 0).
    const Matrix4 r = lookAtRotation({0, 0, -1}, {0, 2, 0});
    EXPECT_FLOAT_EQ(r(0, 0), 2.0f);
    EXPECT_FLOAT_EQ(r(1, 1), 2.0f);
    EXPECT_FLOAT_EQ(r(2, 2), 1.0f);
    // Unit vectors 36.87 degrees off perpendicular: dir.up = 0.8, sine 0.6.
    const Matrix4 t = lookAtRotation({0, 0, -1}, {0, 0.6f, -0.8f});
    EXPECT_FLOAT_EQ(t(0, 0), 1.0f);  // (0.6, 0, 0) / 0.6
    EXPECT_FLOAT_EQ(t(1, 1), 1.0f);
}

TEST(Matrix4, DeterminantAdjugateAndTinyDeterminants) {
    Matrix4 m;  // rows (0 2 0 0), (3 0 0 0), (0 0 1 0), (0 0 0 1)
    m(0, 1) = 2.0f;
    m(1, 0) = 3.0f;
    m(2, 2) = 1.0f;
    m(3, 3) = 1.0f;
    EXPECT_FLOAT_EQ(determinant(m), -6.0f);
    Matrix4 adj = m;
    adjugate(adj);
    Matrix4 expected;  // det x inverse
    expected(0, 1) = -2.0f;
    expected(1, 0) = -3.0f;
    expected(2, 2) = -6.0f;
    expected(3, 3) = -6.0f;
    EXPECT_EQ(adj, expected);
    const Matrix4 inv = inverse(m);
    EXPECT_FLOAT_EQ(inv(0, 1), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(inv(1, 0), 0.5f);

    // det = -1e-12 is below 1e-8: the adjugate diag(1e-9, -1e-9, -1e-9, -1e-9) is divided by
    // +1e-5, so the signs follow the adjugate and not the determinant.
    Matrix4 tiny = Matrix4::identity();
    tiny(0, 0) = -1e-3f;
    tiny(1, 1) = tiny(2, 2) = tiny(3, 3) = 1e-3f;
    const Matrix4 tinyInv = inverse(tiny);
    EXPECT_NEAR(tinyInv(0, 0), 1e-4f, 1e-9f);
    EXPECT_NEAR(tinyInv(1, 1), -1e-4f, 1e-9f);
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
