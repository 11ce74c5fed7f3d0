// Single-precision vectors: plain aggregates copied by value. In-place operations return the
// vector itself so calls chain; products are free functions.
#pragma once

#include <cmath>

namespace strata::geometry {

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vector3& set(float nx, float ny, float nz) {
        x = nx;
        y = ny;
        z = nz;
        return *this;
    }
    Vector3& add(const Vector3& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vector3& subtract(const Vector3& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    Vector3& scale(float s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    float squaredLength() const { return x * x + y * y + z * z; }
    float length() const { return std::sqrt(squaredLength()); }
    // Divides by the length and returns the length it had. A zero vector is not guarded.
    float normalize() {
        const float len = length();
        x /= len;
        y /= len;
        z /= len;
        return len;
    }

    friend bool operator==(const Vector3&, const Vector3&) = default;
};

inline float dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline Vector3 operator+(Vector3 a, const Vector3& b) {
    return a.add(b);
}
inline Vector3 operator-(Vector3 a, const Vector3& b) {
    return a.subtract(b);
}
inline Vector3 operator-(const Vector3& a) {
    return {-a.x, -a.y, -a.z};
}
inline Vector3 operator*(Vector3 a, float s) {
    return a.scale(s);
}
inline Vector3 operator*(float s, Vector3 a) {
    return a.scale(s);
}

// A copy scaled to unit length (zero stays zero).
inline Vector3 normalized(Vector3 v) {
    const float len = v.length();
    return len > 0.0f ? v.scale(1.0f / len) : v;
}

struct Vector4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    friend bool operator==(const Vector4&, const Vector4&) = default;
};

inline Vector4 point(const Vector3& p) {
    return {p.x, p.y, p.z, 1.0f};
}
inline Vector4 direction(const Vector3& d) {
    return {d.x, d.y, d.z, 0.0f};
}

}  // namespace strata::geometry
