// Helpers shared by the polyhedron sources (not part of the library's interface).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mesh/polyhedron.h"

namespace strata::mesh::detail {

// A plane held in double precision while a clip moves it.
struct PlaneD {
    double a = 0, b = 0, c = 0, d = 0;

    static PlaneD from(const Plane& p) { return {p.a, p.b, p.c, p.d}; }
    double value(const geometry::Vector3& p) const { return a * p.x + b * p.y + c * p.z + d; }
};

inline double planeValue(const Plane& plane, const geometry::Vector3& p) {
    return PlaneD::from(plane).value(p);
}

inline int classify(double value) {
    if (value > kPlaneTolerance) {
        return 1;
    }
    if (value < -kPlaneTolerance) {
        return -1;
    }
    return 0;
}

int intersect(const PlaneD& plane, const geometry::Vector3& p, const geometry::Vector3& q,
              geometry::Vector3& point);

// Plane of a face from its best-spread vertex triple (unoriented). spread (when given) receives
// how well the triple fixes the plane: the smaller of its base length and its height.
Plane faceplaneFromVertices(const std::vector<MeshVertex>& vertices,
                            const std::vector<std::int32_t>& ring, double* spread);

// Negates the plane when the interior point lies on its negative side.
void orientPlane(Plane& plane, const geometry::Vector3& interior);

// BuildPolyhedron without the message: on failure returns 0 with the reason in error and leaves
// the polyhedron unchanged.
int buildPolyhedron(Polyhedron& polyhedron, std::span<const std::int32_t> faceIndices,
                    std::span<const std::int32_t> faceSizes,
                    std::span<const geometry::Vector3> positions, std::int32_t edgeEstimate,
                    std::string& error);

}  // namespace strata::mesh::detail
