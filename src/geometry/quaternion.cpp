#include "geometry/quaternion.h"

namespace strata::geometry {

Quaternion product(const Quaternion& p, const Quaternion& q) {
    return {p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
            p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
            p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
            p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z};
}

Quaternion inverse(const Quaternion& q) {
    const double n = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    return {-q.x / n, -q.y / n, -q.z / n, q.w / n};
}

Matrix4 rotationMatrix(const Quaternion& q) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    Matrix4 r;
    r(0, 0) = static_cast<float>(1.0 - 2.0 * (y * y + z * z));
    r(0, 1) = static_cast<float>(2.0 * (x * y - z * w));
    r(0, 2) = static_cast<float>(2.0 * (x * z + y * w));
    r(1, 0) = static_cast<float>(2.0 * (x * y + z * w));
    r(1, 1) = static_cast<float>(1.0 - 2.0 * (x * x + z * z));
    r(1, 2) = static_cast<float>(2.0 * (y * z - x * w));
    r(2, 0) = static_cast<float>(2.0 * (x * z - y * w));
    r(2, 1) = static_cast<float>(2.0 * (y * z + x * w));
    r(2, 2) = static_cast<float>(1.0 - 2.0 * (x * x + y * y));
    r(3, 3) = 1.0f;
    return r;
}

}  // namespace strata::geometry
