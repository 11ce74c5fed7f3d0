// The built-in demo scene, made for LDIs: a checkered floor and a striped back wall (patterns of
// the world position), and boxes, spheres, a cylinder and a torus at different depths, some
// hidden behind others from the default camera so that moving sideways uncovers surfaces that
// only deeper layers hold. Plus the primitive builders it is made of.
#pragma once

#include "maker/scene.h"

namespace strata::maker {

Scene buildDemoScene();

// Primitive builders; every mesh gets outward per-vertex normals and counter-clockwise winding
// seen from outside.
// Quad corners a, b, c, d counter-clockwise seen from the side its normal points to.
TriangleMesh makeQuad(const geometry::Vector3& a, const geometry::Vector3& b,
                      const geometry::Vector3& c, const geometry::Vector3& d);
TriangleMesh makeBox(const geometry::Vector3& min, const geometry::Vector3& max);
TriangleMesh makeSphere(const geometry::Vector3& centre, float radius, int slices, int stacks);
// Upright (along +y) closed cylinder standing on y = base.y.
TriangleMesh makeCylinder(const geometry::Vector3& base, float radius, float height, int slices);
// Torus lying in the plane y = centre.y.
TriangleMesh makeTorus(const geometry::Vector3& centre, float majorRadius, float minorRadius,
                       int majorSegments, int minorSegments);

}  // namespace strata::maker
