// PLY files whose faces carry their own colour (`red green blue` on the face element), which
// the general mesh importer drops. Such a file is read here whole: every face becomes a fan of
// triangles whose corners get their own vertices with the face's colour, so a colour never
// spreads to a neighbouring face through a shared vertex.
#pragma once

#include <cstddef>
#include <string>

#include "maker/scene.h"

namespace strata::maker {

// Largest PLY file read here, and the bounds on its header.
inline constexpr std::int64_t kMaxPlyBytes = std::int64_t{1} << 31;
inline constexpr std::size_t kMaxPlyHeaderBytes = 65536;
inline constexpr std::size_t kMaxPlyElements = 64;
inline constexpr std::size_t kMaxPlyProperties = 64;  // per element

enum class PlyFaceColours {
    absent,  // not a PLY file, a header this reader does not follow, or faces without colour:
             // `mesh` untouched, the file is left to the general importer
    read,    // `mesh` holds the file's triangles with their face colours
    failed,  // the file is damaged or beyond the limits: `error` says how
};

// Looks at the file at `path`; reads it when it is a PLY file with face colours. Faces of fewer
// than three corners are skipped; a face of n corners gives n - 2 triangles (0, i, i + 1).
// Failed (one line in `error`) when an element count cannot fit in the file, a value does not
// parse, a vertex index is out of range, or the triangles number more than maxTriangles.
PlyFaceColours readPlyFaceColours(const std::string& path, TriangleMesh& mesh,
                                  std::size_t maxTriangles, std::string& error);

}  // namespace strata::maker
