// Convex polyhedra in winged-edge form: vertices, edges and faces that refer to one another by
// array index, each face carrying its plane equation with the interior on the positive side.
// Built from vertex positions and face vertex lists (a text file or a camera's viewing frustum),
// clipped by planes or by all face planes of another polyhedron, compacted and printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "geometry/vector.h"

namespace strata::mesh {

// Index value meaning "no record".
inline constexpr std::int32_t kNoIndex = -1;

// Every plane test uses this tolerance: value > kPlaneTolerance is inside (+1), value <
// -kPlaneTolerance is outside (-1), anything else is on the plane (0).
inline constexpr double kPlaneTolerance = 1e-8;

// a x + b y + c z + d > 0 on the inner side.
struct Plane {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;
    float d = 0.0f;

    friend bool operator==(const Plane&, const Plane&) = default;
};

struct MeshVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float spare = 0.0f;            // always 0
    std::int32_t edge = kNoIndex;  // one edge that ends at this vertex
    std::int32_t order = 0;        // number of edges at the vertex; 0 marks a deleted vertex

    geometry::Vector3 position() const { return {x, y, z}; }
};

// The edge runs from vertex1 to vertex2 around face1 and from vertex2 to vertex1 around face2
// (faces go counter-clockwise seen from outside). next1/prev1 are the edges that follow and
// precede it around face1, next2/prev2 around face2. A vertex1 of kNoIndex marks a deleted edge.
struct MeshEdge {
    std::int32_t vertex1 = kNoIndex;
    std::int32_t vertex2 = kNoIndex;
    std::int32_t face1 = kNoIndex;
    std::int32_t face2 = kNoIndex;
    std::int32_t next1 = kNoIndex;
    std::int32_t prev1 = kNoIndex;
    std::int32_t next2 = kNoIndex;
    std::int32_t prev2 = kNoIndex;
};

struct MeshFace {
    Plane plane;
    std::int32_t edge = kNoIndex;  // one of its edges
    std::int32_t order = 0;        // number of vertices; 0 marks a deleted face
};

// Owner of the three arrays; a plain value (copies are deep and independent).
struct Polyhedron {
    std::vector<MeshVertex> vertices;
    std::vector<MeshEdge> edges;
    std::vector<MeshFace> faces;

    std::int32_t numVertices() const { return static_cast<std::int32_t>(vertices.size()); }
    std::int32_t numEdges() const { return static_cast<std::int32_t>(edges.size()); }
    std::int32_t numFaces() const { return static_cast<std::int32_t>(faces.size()); }
    bool empty() const { return vertices.empty(); }
};

// The open-addressing edge table of one build: 2E - 1 slots of edge numbers (-1 empty) for an
// estimate of E edges, and the running count of edges created (at most E).
class EdgeTable {
  public:
    // Precondition: edgeEstimate >= 1.
    explicit EdgeTable(std::int32_t edgeEstimate);
    std::int32_t size() const { return static_cast<std::int32_t>(slots_.size()); }
    std::int32_t created() const { return created_; }
    std::int32_t capacity() const { return capacity_; }

  private:
    friend std::int32_t FindOrAddEdge(EdgeTable& table, std::int32_t i, std::int32_t j,
                                      std::vector<MeshVertex>& vertices,
                                      std::vector<MeshEdge>& edges);
    std::vector<std::int32_t> slots_;
    std::int32_t created_ = 0;
    std::int32_t capacity_ = 0;
};

// FindOrAddEdge's failure value: the edge array is full or the table has no free slot.
inline constexpr std::int32_t kEdgeTableFull = INT32_MIN;

// Returns the edge between vertices i and j (either order). An existing edge is returned as the
// negative of its number (so edge 0 comes back as 0 either way); a new edge gets the next number
// (returned as is), vertex1 = min(i, j), vertex2 = max(i, j), both vertices' edge set to it and
// their order increased. Returns kEdgeTableFull (and changes nothing) when the created count has
// reached the table's capacity or every slot is taken. Preconditions: i != j, both valid indices
// of vertices; edges.size() >= table.capacity().
std::int32_t FindOrAddEdge(EdgeTable& table, std::int32_t i, std::int32_t j,
                           std::vector<MeshVertex>& vertices, std::vector<MeshEdge>& edges);

// Builds the winged-edge structure of a closed convex polyhedron from V positions and F face
// lists (faceSizes[f] vertex indices each, concatenated in faceIndices). Lists may go round either
// way; each face is turned counter-clockwise seen from outside. Face planes come from a
// non-degenerate vertex triple and are oriented with the centroid of the positions inside.
// edgeEstimate bounds the edge count (V + F - 1 when given as 0). Returns 1, or 0 with one
// message line (and the polyhedron emptied) for indices out of range, faces of fewer than 3
// vertices, a repeated vertex, more edges than the estimate, or lists that do not close into a
// consistently oriented surface.
int BuildPolyhedron(Polyhedron& polyhedron, std::span<const std::int32_t> faceIndices,
                    std::span<const std::int32_t> faceSizes,
                    std::span<const geometry::Vector3> positions, std::int32_t edgeEstimate = 0);

// Reads the text format: "V F ignored", V positions, then per face a count and its vertex indices.
// Capacity 25 vertices, 25 faces, 128 indices. Returns 1, or 0 with one line naming the file and
// the problem (unreadable file, missing or malformed number, capacity exceeded, bad index, short
// face, failed build); on 0 the polyhedron is left unchanged.
int ReadPolyhedron(const char* path, Polyhedron& polyhedron);

// Plane through three points, scaled so that (a, b, c, d) has unit length. Returns 0 (plane
// holding the raw coefficients) when the points are degenerate (|normal| < 1e-8), else 1.
int PlaneFromPoints(const geometry::Vector3& p0, const geometry::Vector3& p1,
                    const geometry::Vector3& p2, Plane& plane);

// +1 inside, -1 outside, 0 on the plane (tolerance kPlaneTolerance).
int ClassifyPoint(const geometry::Vector3& p, const Plane& plane);

// The point where segment p-q meets the plane. Returns 0 when the segment is parallel to it
// (|n.(p - q)| < 1e-8), else 1.
int IntersectSegment(const Plane& plane, const geometry::Vector3& p, const geometry::Vector3& q,
                     geometry::Vector3& point);

// Keeps the part on the inner side of plane. Vertices on the plane make it move outward by 1e-5
// (doubling on each retry, at most 16 times; after that they count as inside). Writes into result
// when given, else replaces the polyhedron. Returns 1 when something was kept, -1 when nothing
// was (polyhedron and result unchanged), 0 with one message line (nothing changed) when the
// face links do not close or rounding makes the cut inconsistent. *cut (when given) tells
// whether the plane actually cut the polyhedron (false for a whole copy). A new face closing the
// cut is appended last, lying in the plane. Precondition: links and indices in range (as every
// operation here leaves them).
int ClipByPlane(Polyhedron& polyhedron, const Plane& plane, Polyhedron* result = nullptr,
                bool* cut = nullptr);

// Clips by the plane of other's first face into result (or in place when result is null), then
// result in place by each further face plane while the last clip kept something. Returns 1, -1
// or 0 as the last clip did (a polyhedron with no faces keeps everything: 1); *cut is true when
// any of the clips cut.
int ClipByPolyhedron(Polyhedron& polyhedron, const Polyhedron& other, Polyhedron* result = nullptr,
                     bool* cut = nullptr);

// Removes deleted vertices, edges and faces, keeping the live ones in their old order and
// renumbering every reference. References to deleted records become kNoIndex.
void CompactPolyhedron(Polyhedron& polyhedron);

// The viewing volume of a camera at eye looking along direction with the given up vector and
// full (square) field of view in radians: with near = 0 a pyramid of 5 vertices and 5 faces with
// its apex at the eye, else a truncated pyramid of 8 vertices and 6 faces between near and far.
// Computed in double precision. Returns 1, or 0 with one line (polyhedron emptied) when the
// direction or up is zero or they are parallel, the field of view is outside (0, pi), near < 0,
// far <= near, or any value is not finite.
int BuildFrustumPolyhedron(Polyhedron& polyhedron, const geometry::Vector3& eye,
                           const geometry::Vector3& direction, const geometry::Vector3& up,
                           double fieldOfView, double near, double far);
// The same with the eye at the origin.
int BuildFrustumPolyhedron(Polyhedron& polyhedron, const geometry::Vector3& direction,
                           const geometry::Vector3& up, double fieldOfView, double near,
                           double far);

void FreePolyhedron(Polyhedron& polyhedron);

// The vertex indices of a live face in order round it, starting at the end of its edge. Empty
// when the face's links do not close within numEdges steps.
std::vector<std::int32_t> FaceVertices(const Polyhedron& polyhedron, std::int32_t face);
// The edge indices of a live face in the same order (each leading to the matching vertex).
std::vector<std::int32_t> FaceEdges(const Polyhedron& polyhedron, std::int32_t face);

// Text layouts (standard output by default).
void DumpPolyhedron(const Polyhedron& polyhedron, const char* title, std::FILE* out = stdout);
void PrintPolyhedron(const Polyhedron& polyhedron, std::FILE* out = stdout);
// " V F 12", positions, then per face its order and vertex indices: readable by ReadPolyhedron.
void WritePolyhedron(const Polyhedron& polyhedron, std::FILE* out = stdout);
// "NEXT ONE" block with V, F and E, positions and face lists.
void WritePolyhedronBlock(const Polyhedron& polyhedron, std::FILE* out = stdout);

}  // namespace strata::mesh
