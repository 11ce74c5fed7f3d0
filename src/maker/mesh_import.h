// Reading mesh files (OBJ, PLY, glTF, STL and whatever else Assimp reads) into a Scene: every
// mesh of the file's node tree with its transforms applied, triangulated, keeping the colours
// exactly as the file gives them to each face corner (vertex colours, PLY face colours), the
// material's base or diffuse colour, and its base-colour or diffuse texture (a PNG or JPEG file
// beside the mesh file, or embedded in it) with the mesh's texture coordinates. Its surfaces
// come out oriented (orientScene): whatever windings the file mixes, closed parts face outward
// and open parts are two-sided.
#pragma once

#include <string>
#include <vector>

#include "maker/scene.h"

namespace strata::maker {

// Returns false with one message naming the file and the problem when the file does not read,
// holds no triangles, or holds more than `maxTriangles`. On failure `scene` is left unchanged.
// A texture that cannot be read is not a failure: the material keeps its colour and one line
// naming the texture goes to `warnings` (to the standard error stream when none is given).
bool loadMeshScene(const std::string& path, Scene& scene, std::string& error,
                   std::size_t maxTriangles = std::size_t{1} << 26,
                   std::vector<std::string>* warnings = nullptr);

// "demo" gives the built-in demo scene (oriented too); any other name is read as a mesh file.
bool loadNamedScene(const std::string& name, Scene& scene, std::string& error);

}  // namespace strata::maker
