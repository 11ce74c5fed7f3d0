// The compact camera record passed around the rendering path: the view's output camera and every
// LDI's reference camera. Two matrices plus the camera frame, with the few derived quantities the
// renderer needs.
#pragma once

#include <cstdio>

#include "geometry/matrix.h"
#include "platform/byte_io.h"

namespace strata::geometry {

// Largest magnitude of a camera position coordinate anything accepts: beyond it the products of
// the view and warp matrices leave the float range (and ray casters refuse the rays).
inline constexpr float kMaxCameraCoordinate = 1e12f;

struct ViewCamera {
    Matrix4 projection = Matrix4::identity();
    Matrix4 viewport = Matrix4::identity();
    Vector3 pos;
    Vector3 dir;
    Vector3 up;
    float near = 0.1f;
    float far = 10000.0f;
    float fov = 0.7853982f;  // full view angle, radians

    // The 176-byte stored form: viewport, projection, pos, dir, up, near, far, fov (the matrices
    // in the reverse of their in-memory order). Return 1 on success, 0 on a short read or write;
    // a short read leaves the record unchanged.
    static constexpr std::size_t kStoredSize = 176;
    int read(std::FILE* file);
    int write(std::FILE* file) const;

    // The same 176 bytes in in-memory field order (projection first), as an LDI header holds it.
    void serializeInMemoryOrder(platform::ByteWriter& out) const;
    void deserializeInMemoryOrder(platform::ByteReader& in);

    Matrix4 lookAtRotation() const;  // R
    Matrix4 viewMatrix() const;      // R T
    // viewport * projection * R * T, computed as (viewport * projection) * (R * T).
    Matrix4 fullTransform() const;
    // projection = frustum(-near, near, -near, near, near, far): a 90-degree square view.
    void setSquareFrustum();
    float distanceTo(const ViewCamera& other) const;
    // c = cosine between the two directions: variant 1 gives -c when c > 0, else 0.
    float facing1(const ViewCamera& other) const;
    // variant 2 gives -c.
    float facing2(const ViewCamera& other) const;
    // True when p lies inside the 90-degree square view in front of the eye.
    bool projectPoint(const Vector3& p, int width, int height, float& row, float& column,
                      float& depth, float& distance) const;
    // Diagnostic dump to the debug output.
    void print() const;
};

}  // namespace strata::geometry
