// Consistent orientation of a scene's surfaces. Meshes from scanners, CAD exports and hand-made
// scenes often mix triangle windings (a floor whose triangles face down, a box with one side
// turned over), and a face normal follows its winding. Orienting makes every connected part of
// the scene wind one way: a closed part outward, an open part (a floor, a wall, a terrain) the
// way most of its area was wound. Open parts have no outside, so they are two-sided: their faces
// are marked open, and the LDI maker stores their normals facing the camera that saw them.
//
// Parts are found across meshes, by vertex position within a millionth of the scene's size
// (files repeat vertices to give faces their own colours or normals; a part split over two
// materials is still one part).
#pragma once

#include <cstddef>

#include "maker/scene.h"

namespace strata::maker {

struct OrientationReport {
    std::size_t parts = 0;        // connected parts
    std::size_t closedParts = 0;  // of them without a border
    std::size_t turned = 0;       // triangles whose winding was reversed
};

// Orients every part of scene consistently (CGAL's polygon-soup orientation), turns closed parts
// outward (positive enclosed volume), fills each mesh's openFaces and sets its windingOriented.
// Triangles whose corners coincide take no part and stay as they are.
OrientationReport orientScene(Scene& scene);

}  // namespace strata::maker
