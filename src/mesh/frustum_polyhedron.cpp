// A camera's viewing volume as a polyhedron: the square pyramid of the field of view, cut at the
// near and far distances (or with its apex at the eye when near is 0). Corners are computed in
// double precision from an orthonormal frame and stored in single precision.
#include <array>
#include <cmath>
#include <numbers>

#include "mesh/polyhedron.h"
#include "platform/debug_output.h"

namespace strata::mesh {

using geometry::Vector3;

namespace {

struct Vec {
    double x = 0, y = 0, z = 0;
};

Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(double s, Vec a) {
    return {s * a.x, s * a.y, s * a.z};
}
Vec crossD(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double lengthD(Vec a) {
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}
Vec toVec(const Vector3& v) {
    return {v.x, v.y, v.z};
}
bool finite(const Vector3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

int refuse(Polyhedron& polyhedron, const char* problem) {
    FreePolyhedron(polyhedron);
    platform::debugPrintf("BuildFrustumPolyhedron: %s\n", problem);
    return 0;
}

}  // namespace

int BuildFrustumPolyhedron(Polyhedron& polyhedron, const Vector3& eye, const Vector3& direction,
                           const Vector3& up, double fieldOfView, double near, double far) {
    if (!finite(eye) || !finite(direction) || !finite(up) || !std::isfinite(fieldOfView) ||
        !std::isfinite(near) || !std::isfinite(far)) {
        return refuse(polyhedron, "camera values are not finite");
    }
    const Vec d0 = toVec(direction);
    const Vec u0 = toVec(up);
    const double dirLength = lengthD(d0);
    const double upLength = lengthD(u0);
    if (!(dirLength > 0.0) || !(upLength > 0.0)) {
        return refuse(polyhedron, "zero direction or up vector");
    }
    const Vec dir = (1.0 / dirLength) * d0;
    const Vec upUnit = (1.0 / upLength) * u0;
    const Vec sideRaw = crossD(dir, upUnit);
    const double sine = lengthD(sideRaw);
    if (!(sine > 1e-6)) {
        return refuse(polyhedron, "direction and up vector are parallel");
    }
    if (!(fieldOfView > 0.0) || !(fieldOfView < std::numbers::pi)) {
        return refuse(polyhedron, "field of view outside (0, pi)");
    }
    if (near < 0.0 || !(far > near)) {
        return refuse(polyhedron, "needs 0 <= near < far");
    }
    // Orthonormal frame: side to the right, true up, forward.
    const Vec side = (1.0 / sine) * sideRaw;
    const Vec trueUp = crossD(side, dir);
    const double t = std::tan(fieldOfView / 2.0);
    const Vec e = toVec(eye);

    auto corner = [&](double distance, double sx, double sy) {
        const Vec p =
            e + distance * dir + (sx * distance * t) * side + (sy * distance * t) * trueUp;
        return Vector3{static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    };
    // Corner k of a cross-section: (-,-), (+,-), (+,+), (-,+) in (side, up).
    constexpr std::array<double, 4> kSx = {-1, 1, 1, -1};
    constexpr std::array<double, 4> kSy = {-1, -1, 1, 1};

    std::vector<Vector3> positions;
    std::vector<std::int32_t> sizes;
    std::vector<std::int32_t> indices;
    std::int32_t estimate = 0;
    if (near == 0.0) {
        // Apex 0, far corners 1..4. Faces counter-clockwise seen from outside.
        positions.push_back(eye);
        for (std::size_t k = 0; k < 4; ++k) {
            positions.push_back(corner(far, kSx[k], kSy[k]));
        }
        sizes = {4, 3, 3, 3, 3};
        indices = {1, 4, 3, 2,  // far
                   0, 4, 1,     // left
                   0, 2, 3,     // right
                   0, 1, 2,     // bottom
                   0, 3, 4};    // top
        estimate = 9;
    } else {
        // Near corners 0..3, far corners 4..7.
        for (std::size_t k = 0; k < 4; ++k) {
            positions.push_back(corner(near, kSx[k], kSy[k]));
        }
        for (std::size_t k = 0; k < 4; ++k) {
            positions.push_back(corner(far, kSx[k], kSy[k]));
        }
        sizes = {4, 4, 4, 4, 4, 4};
        indices = {0, 1, 2, 3,   // near
                   4, 7, 6, 5,   // far
                   0, 3, 7, 4,   // left
                   1, 5, 6, 2,   // right
                   0, 4, 5, 1,   // bottom
                   3, 2, 6, 7};  // top
        estimate = 13;
    }
    for (const Vector3& p : positions) {
        if (!finite(p)) {
            return refuse(polyhedron, "corners out of single-precision range");
        }
    }
    return BuildPolyhedron(polyhedron, indices, sizes, positions, estimate);
}

int BuildFrustumPolyhedron(Polyhedron& polyhedron, const Vector3& direction, const Vector3& up,
                           double fieldOfView, double near, double far) {
    return BuildFrustumPolyhedron(polyhedron, Vector3{0.0f, 0.0f, 0.0f}, direction, up, fieldOfView,
                                  near, far);
}

}  // namespace strata::mesh
