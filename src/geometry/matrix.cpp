#include "geometry/matrix.h"

#include <cmath>
#include <cstdlib>

namespace strata::geometry {

Matrix4 Matrix4::identity() {
    Matrix4 r;
    r(0, 0) = r(1, 1) = r(2, 2) = r(3, 3) = 1.0f;
    return r;
}

Matrix4 product(const Matrix4& a, const Matrix4& b) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) {
                sum += a(i, k) * b(k, j);
            }
            r(i, j) = sum;
        }
    }
    return r;
}

Vector4 transform(const Matrix4& m, const Vector4& v) {
    return {m(0, 0) * v.x + m(0, 1) * v.y + m(0, 2) * v.z + m(0, 3) * v.w,
            m(1, 0) * v.x + m(1, 1) * v.y + m(1, 2) * v.z + m(1, 3) * v.w,
            m(2, 0) * v.x + m(2, 1) * v.y + m(2, 2) * v.z + m(2, 3) * v.w,
            m(3, 0) * v.x + m(3, 1) * v.y + m(3, 2) * v.z + m(3, 3) * v.w};
}

namespace {

// Determinant of the 3x3 minor that omits row `row` and column `column`.
float minor3(const Matrix4& m, int row, int column) {
    float e[9];
    int n = 0;
    for (int r = 0; r < 4; ++r) {
        if (r == row) {
            continue;
        }
        for (int c = 0; c < 4; ++c) {
            if (c != column) {
                e[n++] = m(r, c);
            }
        }
    }
    return e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6]) +
           e[2] * (e[3] * e[7] - e[4] * e[6]);
}

}  // namespace

float determinant(const Matrix4& m) {
    float det = 0.0f;
    for (int c = 0; c < 4; ++c) {
        const float cofactor = ((c & 1) ? -1.0f : 1.0f) * minor3(m, 0, c);
        det += m(0, c) * cofactor;
    }
    return det;
}

void adjugate(Matrix4& m) {
    Matrix4 adj;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            // adj(c, r) = cofactor(r, c)
            adj(c, r) = (((r + c) & 1) ? -1.0f : 1.0f) * minor3(m, r, c);
        }
    }
    m = adj;
}

Matrix4 inverse(const Matrix4& m) {
    const float det = determinant(m);
    Matrix4 r = m;
    adjugate(r);
    const float divisor = std::fabs(det) < 1e-8f ? 1e-5f : det;
    for (float& e : r.m) {
        e /= divisor;
    }
    return r;
}

Matrix4 transpose(const Matrix4& m) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r(i, j) = m(j, i);
        }
    }
    return r;
}

Matrix4 translation(float tx, float ty, float tz) {
    Matrix4 r = Matrix4::identity();
    r(0, 3) = tx;
    r(1, 3) = ty;
    r(2, 3) = tz;
    return r;
}

Matrix4 frustum(float left, float right, float bottom, float top, float near, float far) {
    Matrix4 r;
    r(0, 0) = 2.0f * near / (right - left);
    r(0, 2) = (right + left) / (right - left);
    r(1, 1) = 2.0f * near / (top - bottom);
    r(1, 2) = (top + bottom) / (top - bottom);
    r(2, 2) = -(far + near) / (far - near);
    r(2, 3) = -2.0f * far * near / (far - near);
    r(3, 2) = -1.0f;
    return r;
}

Matrix4 ortho(float left, float right, float bottom, float top, float near, float far) {
    Matrix4 r;
    r(0, 0) = 2.0f / (right - left);
    r(0, 3) = (right + left) / (right - left);
    r(1, 1) = 2.0f / (top - bottom);
    r(1, 3) = (top + bottom) / (top - bottom);
    r(2, 2) = -2.0f / (far - near);
    r(2, 3) = -(far + near) / (far - near);
    r(3, 3) = 1.0f;
    return r;
}

Matrix4 viewport(std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1) {
    const std::int32_t w = x1 - x0;
    const std::int32_t h = y1 - y0;
    Matrix4 r;
    r(0, 0) = static_cast<float>(w) / 2.0f;
    r(0, 3) = static_cast<float>(std::abs(w) - 1) / 2.0f;
    r(1, 1) = static_cast<float>(h) / 2.0f;
    r(1, 3) = static_cast<float>(std::abs(h) - 1) / 2.0f;
    r(2, 2) = 1.0f;
    r(3, 3) = 1.0f;
    return r;
}

Matrix4 lookAtRotation(const Vector3& dir, const Vector3& up) {
    const float c = dot(dir, up);
    Vector3 s = cross(dir, up);
    s.scale(1.0f / std::sqrt(1.0f - c * c));
    const Vector3 u = cross(s, dir);
    Matrix4 r;
    r(0, 0) = s.x;
    r(0, 1) = s.y;
    r(0, 2) = s.z;
    r(1, 0) = u.x;
    r(1, 1) = u.y;
    r(1, 2) = u.z;
    r(2, 0) = -dir.x;
    r(2, 1) = -dir.y;
    r(2, 2) = -dir.z;
    r(3, 3) = 1.0f;
    return r;
}

}  // namespace strata::geometry
