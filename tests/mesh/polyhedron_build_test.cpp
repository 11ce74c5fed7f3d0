#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "mesh/polyhedron.h"
#include "mesh_test_support.h"
#include "platform/debug_output.h"

namespace strata::mesh {
namespace {

using geometry::Vector3;
using testing::isValidPolyhedron;
using testing::makeCube;
using testing::polyhedronVolume;

TEST(FindOrAddEdge, EitherOrderFindsTheSameEdge) {
    std::vector<MeshVertex> vertices(8);
    std::vector<MeshEdge> edges(4);
    EdgeTable table(4);
    EXPECT_EQ(table.size(), 7);
    EXPECT_EQ(FindOrAddEdge(table, 0, 1, vertices, edges), 0);
    EXPECT_EQ(FindOrAddEdge(table, 3, 7, vertices, edges), 1);
    EXPECT_EQ(FindOrAddEdge(table, 7, 3, vertices, edges), -1);
    EXPECT_EQ(edges[1].vertex1, 3);
    EXPECT_EQ(edges[1].vertex2, 7);
    EXPECT_EQ(vertices[3].order, 1);
    EXPECT_EQ(vertices[7].order, 1);
    EXPECT_EQ(vertices[7].edge, 1);
    EXPECT_EQ(table.created(), 2);
}

TEST(FindOrAddEdge, FailsInsteadOfOverrunningTheEdgeArray) {
    std::vector<MeshVertex> vertices(8);
    std::vector<MeshEdge> edges(2);
    EdgeTable table(2);
    EXPECT_EQ(FindOrAddEdge(table, 0, 1, vertices, edges), 0);
    EXPECT_EQ(FindOrAddEdge(table, 1, 2, vertices, edges), 1);
    EXPECT_EQ(FindOrAddEdge(table, 2, 3, vertices, edges), kEdgeTableFull);
    EXPECT_EQ(vertices[3].order, 0);
    // Existing edges are still found.
    EXPECT_EQ(FindOrAddEdge(table, 2, 1, vertices, edges), -1);
}

TEST(FindOrAddEdge, FullTableEndsTheProbe) {
    std::vector<MeshVertex> vertices(4);
    std::vector<MeshEdge> edges(4);
    EdgeTable table(1);  // one slot
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(FindOrAddEdge(table, 0, 1, vertices, edges), 0);
    EXPECT_EQ(FindOrAddEdge(table, 1, 2, vertices, edges), kEdgeTableFull);
}

TEST(PlaneFromPoints, UnitFourVectorAndDegenerateTriples) {
    Plane q;
    ASSERT_EQ(PlaneFromPoints({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, q), 1);
    EXPECT_FLOAT_EQ(q.a, 0.5f);
    EXPECT_FLOAT_EQ(q.b, 0.5f);
    EXPECT_FLOAT_EQ(q.c, 0.5f);
    EXPECT_FLOAT_EQ(q.d, -0.5f);
    EXPECT_EQ(ClassifyPoint({0, 0, 0}, q), -1);
    EXPECT_EQ(ClassifyPoint({1, 1, 1}, q), 1);
    EXPECT_EQ(ClassifyPoint({0.5f, 0.5f, 0.0f}, q), 0);
    EXPECT_EQ(PlaneFromPoints({0, 0, 0}, {1, 1, 1}, {2, 2, 2}, q), 0);
    EXPECT_EQ(PlaneFromPoints({1, 2, 3}, {1, 2, 3}, {0, 0, 1}, q), 0);
}

TEST(IntersectSegment, PointOnPlaneAndParallelSegments) {
    const Plane z{0.0f, 0.0f, 1.0f, -0.5f};
    Vector3 x;
    ASSERT_EQ(IntersectSegment(z, {0, 0, 0}, {0, 0, 1}, x), 1);
    EXPECT_FLOAT_EQ(x.z, 0.5f);
    ASSERT_EQ(IntersectSegment(z, {2, 4, 2}, {0, 0, 0}, x), 1);
    EXPECT_FLOAT_EQ(x.x, 0.5f);
    EXPECT_FLOAT_EQ(x.y, 1.0f);
    EXPECT_FLOAT_EQ(x.z, 0.5f);
    EXPECT_EQ(IntersectSegment(z, {0, 0, 1}, {5, 3, 1}, x), 0);
}

TEST(BuildPolyhedron, CubeHasTwelveEdgesOrderThreeAndInwardPlanes) {
    const Polyhedron cube = makeCube();
    EXPECT_EQ(cube.numVertices(), 8);
    EXPECT_EQ(cube.numEdges(), 12);
    EXPECT_EQ(cube.numFaces(), 6);
    EXPECT_TRUE(isValidPolyhedron(cube));
    for (const MeshVertex& v : cube.vertices) {
        EXPECT_EQ(v.order, 3);
    }
    for (const MeshFace& f : cube.faces) {
        EXPECT_EQ(f.order, 4);
        EXPECT_EQ(ClassifyPoint({0, 0, 0}, f.plane), 1);
        // Unit four-vector: a face of the cube is |n| = |d| = 1/sqrt(2).
        EXPECT_NEAR(std::fabs(f.plane.d), std::sqrt(0.5), 1e-6);
    }
    EXPECT_NEAR(polyhedronVolume(cube), 8.0, 1e-5);
    // Each face keeps its list: walking from its edge gives the vertices as listed.
    const std::vector<std::int32_t> first = FaceVertices(cube, 0);
    EXPECT_EQ(first, (std::vector<std::int32_t>{0, 2, 3, 1}));
}

TEST(BuildPolyhedron, AcceptsFacesListedEitherWayRound) {
    std::vector<std::int32_t> indices = testing::cubeFaceIndices();
    std::reverse(indices.begin() + 4, indices.begin() + 8);    // second face clockwise
    std::reverse(indices.begin() + 16, indices.begin() + 20);  // fifth face clockwise
    Polyhedron p;
    ASSERT_EQ(BuildPolyhedron(p, indices, testing::cubeFaceSizes(), testing::cubePositions()), 1);
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), 8.0, 1e-5);
}

TEST(BuildPolyhedron, CopiesAreIndependent) {
    const Polyhedron cube = makeCube();
    Polyhedron copy = cube;
    ASSERT_EQ(ClipByPlane(copy, testing::planeThrough(-1, 0, 0, 0, 0, 0)), 1);
    EXPECT_NEAR(polyhedronVolume(copy), 4.0, 1e-5);
    EXPECT_NEAR(polyhedronVolume(cube), 8.0, 1e-5);
    EXPECT_TRUE(isValidPolyhedron(cube));
    EXPECT_TRUE(isValidPolyhedron(copy));
}

struct BadBuild {
    const char* name;
    std::vector<std::int32_t> indices;
    std::vector<std::int32_t> sizes;
    std::int32_t estimate;
    const char* message;
};

TEST(BuildPolyhedron, RefusesMalformedFaceLists) {
    const std::vector<std::int32_t>& cube = testing::cubeFaceIndices();
    std::vector<std::int32_t> fiveFaces(cube.begin(), cube.begin() + 20);
    std::vector<std::int32_t> outOfRange = cube;
    outOfRange[5] = 8;
    std::vector<std::int32_t> repeated = cube;
    repeated[1] = 0;
    std::vector<std::int32_t> twisted = cube;  // one face's vertices out of order round it
    std::swap(twisted[0], twisted[1]);
    const std::vector<BadBuild> cases = {
        {"open surface", fiveFaces, {4, 4, 4, 4, 4}, 0, "borders only one face"},
        {"index out of range", outOfRange, {4, 4, 4, 4, 4, 4}, 0, "outside 0..7"},
        {"repeated vertex", repeated, {4, 4, 4, 4, 4, 4}, 0, "twice"},
        {"short face",
         {0, 1, 5, 4, 2, 6, 7, 3, 0, 2, 3, 1, 4, 5, 7, 6, 0, 4, 6, 2, 1, 3, 7, 5},
         {2, 6, 4, 4, 4, 4},
         0,
         "face 0 has 2 vertices"},
        {"sizes and indices differ", cube, {4, 4, 4, 4, 4, 3}, 0, "add up to 23"},
        {"estimate too small", cube, {4, 4, 4, 4, 4, 4}, 11, "more edges than the estimate of 11"},
        {"twisted face", twisted, {4, 4, 4, 4, 4, 4}, 0, ""},
    };
    for (const BadBuild& c : cases) {
        SCOPED_TRACE(c.name);
        Polyhedron p = makeCube();
        platform::DebugCapture capture;
        EXPECT_EQ(BuildPolyhedron(p, c.indices, c.sizes, testing::cubePositions(), c.estimate), 0);
        ASSERT_EQ(capture.pieces().size(), 1u);
        EXPECT_NE(capture.text().find("BuildPolyhedron: "), std::string::npos);
        EXPECT_NE(capture.text().find(c.message), std::string::npos) << capture.text();
        EXPECT_TRUE(p.empty());
    }
}

double frustumVolume(double t, double near, double far) {
    // Square cross-sections of side 2 t d: the prismoid of two similar squares.
    const double a1 = 4 * t * t * near * near;
    const double a2 = 4 * t * t * far * far;
    return (far - near) / 3.0 * (a1 + a2 + std::sqrt(a1 * a2));
}

TEST(BuildFrustumPolyhedron, TruncatedPyramidAndPyramid) {
    Polyhedron p;
    const Vector3 eye{1, 2, 3};
    ASSERT_EQ(BuildFrustumPolyhedron(p, eye, {0, 0, -2}, {0, 3, 0}, std::numbers::pi / 2, 1, 10),
              1);
    EXPECT_EQ(p.numVertices(), 8);
    EXPECT_EQ(p.numEdges(), 12);
    EXPECT_EQ(p.numFaces(), 6);
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), frustumVolume(1.0, 1, 10), 1e-3);
    // A point on the axis is inside every plane, one behind the eye is not.
    for (const MeshFace& f : p.faces) {
        EXPECT_EQ(ClassifyPoint({1, 2, -2}, f.plane), 1);
    }
    EXPECT_EQ(ClassifyPoint({1, 2, 3.5f}, p.faces[0].plane), -1);

    ASSERT_EQ(BuildFrustumPolyhedron(p, {0.3f, 0.1f, -1}, {0, 1, 0}, 1.0, 0, 5), 1);
    EXPECT_EQ(p.numVertices(), 5);
    EXPECT_EQ(p.numEdges(), 8);
    EXPECT_EQ(p.numFaces(), 5);
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), frustumVolume(std::tan(0.5), 0, 5), 1e-3);
    EXPECT_EQ(p.vertices[0].x, 0.0f);  // apex at the eye
}

TEST(BuildFrustumPolyhedron, UpNeedNotBePerpendicular) {
    Polyhedron p;
    ASSERT_EQ(BuildFrustumPolyhedron(p, {0, 0, -1}, {0, 1, 1}, 0.8, 0.5, 4), 1);
    EXPECT_TRUE(isValidPolyhedron(p));
    EXPECT_NEAR(polyhedronVolume(p), frustumVolume(std::tan(0.4), 0.5, 4), 1e-3);
}

TEST(BuildFrustumPolyhedron, RefusesDegenerateCameras) {
    struct Case {
        Vector3 dir, up;
        double fov, near, far;
        const char* message;
    };
    const double pi = std::numbers::pi;
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {{0, 0, 0}, {0, 1, 0}, 1, 1, 2, "zero direction"},
        {{0, 0, -1}, {0, 0, 0}, 1, 1, 2, "zero direction or up"},
        {{0, 0, -1}, {0, 0, 3}, 1, 1, 2, "parallel"},
        {{0, 0, -1}, {0, 1, 0}, 0, 1, 2, "field of view"},
        {{0, 0, -1}, {0, 1, 0}, -1, 1, 2, "field of view"},
        {{0, 0, -1}, {0, 1, 0}, pi, 1, 2, "field of view"},
        {{0, 0, -1}, {0, 1, 0}, 1, -1, 2, "near < far"},
        {{0, 0, -1}, {0, 1, 0}, 1, 2, 2, "near < far"},
        {{0, 0, -1}, {0, 1, 0}, 1, 3, 2, "near < far"},
        {{0, 0, -1}, {0, 1, 0}, 1, 1, 1e300, "single-precision range"},
        {{0, inf, -1}, {0, 1, 0}, 1, 1, 2, "not finite"},
        {{0, 0, -1}, {0, 1, 0}, 1, std::nan(""), 2, "not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Polyhedron p = makeCube();
        platform::DebugCapture capture;
        EXPECT_EQ(BuildFrustumPolyhedron(p, c.dir, c.up, c.fov, c.near, c.far), 0);
        EXPECT_EQ(capture.pieces().size(), 1u);
        EXPECT_NE(capture.text().find(c.message), std::string::npos) << capture.text();
        EXPECT_TRUE(p.empty());
    }
}

}  // namespace
}  // namespace strata::mesh
