// 4x4 single-precision matrices: sixteen floats row-major, element (r, c) at index 4r + c, acting
// on column vectors (p' = M p). Translation lives in column 3; in a product A B, B applies first.
#pragma once

#include <array>
#include <cstdint>

#include "geometry/vector.h"

namespace strata::geometry {

struct Matrix4 {
    std::array<float, 16> m{};  // all zero by default

    float& operator()(int row, int column) { return m[static_cast<std::size_t>(4 * row + column)]; }
    float operator()(int row, int column) const {
        return m[static_cast<std::size_t>(4 * row + column)];
    }

    static Matrix4 identity();

    friend bool operator==(const Matrix4&, const Matrix4&) = default;
};

Matrix4 product(const Matrix4& a, const Matrix4& b);  // a * b
Vector4 transform(const Matrix4& m, const Vector4& v);
float determinant(const Matrix4& m);
void adjugate(Matrix4& m);  // in place
// Adjugate divided by the determinant; when |det| < 1e-8 every element is divided by 1e-5
// instead (the sign is not preserved). Never fails.
Matrix4 inverse(const Matrix4& m);
Matrix4 transpose(const Matrix4& m);

// Builders. Every element not set is zero.
Matrix4 translation(float tx, float ty, float tz);
Matrix4 frustum(float left, float right, float bottom, float top, float near, float far);
Matrix4 ortho(float left, float right, float bottom, float top, float near, float far);
// Maps normalised x in -1..1 to -0.5..w-0.5 (pixel centres on integers); x0, y0 enter only
// through the extents.
Matrix4 viewport(std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1);
// Rows s, u, -dir with s = (dir x up) / sqrt(1 - (dir.up)^2) and u = s x dir. Expects unit,
// non-parallel dir and up.
Matrix4 lookAtRotation(const Vector3& dir, const Vector3& up);

}  // namespace strata::geometry
