// Double-precision quaternions: the navigation orientation of the view and the trackball.
#pragma once

#include "geometry/matrix.h"

namespace strata::geometry {

struct Quaternion {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;

    friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

Quaternion product(const Quaternion& p, const Quaternion& q);  // Hamilton product p q
Quaternion inverse(const Quaternion& q);                       // conjugate / squared norm
// The rotation matrix of q, not normalised first.
Matrix4 rotationMatrix(const Quaternion& q);

}  // namespace strata::geometry
