// Reading mesh files (OBJ, PLY, glTF, STL and whatever else Assimp reads) into a Scene: every
// mesh of the file's node tree with its transforms applied, triangulated, keeping per-vertex
// colours and the material's diffuse colour.
#pragma once

#include <string>

#include "maker/scene.h"

namespace strata::maker {

// Returns false with one message naming the file and the problem when the file does not read,
// holds no triangles, or holds more than `maxTriangles`. On failure `scene` is left unchanged.
bool loadMeshScene(const std::string& path, Scene& scene, std::string& error,
                   std::size_t maxTriangles = std::size_t{1} << 26);

// "demo" gives the built-in demo scene; any other name is read as a mesh file.
bool loadNamedScene(const std::string& name, Scene& scene, std::string& error);

}  // namespace strata::maker
