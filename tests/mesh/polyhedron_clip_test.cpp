#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "mesh/polyhedron.h"
#include "mesh_test_support.h"
#include "platform/debug_output.h"

namespace strata::mesh {
namespace {

using geometry::Vector3;
using testing::isValidPolyhedron;
using testing::makeCube;
using testing::planeThrough;
using testing::polyhedronVolume;

struct CubeCut {
    const char* name;
    Plane plane;
    std::int32_t vertices, edges, faces;
    double volume;
};

TEST(ClipByPlane, CubeCutsMatchClosedForm) {
    const CubeCut cases[] = {
        // x < 0.5: a box 1.5 x 2 x 2.
        {"axis", planeThrough(-1, 0, 0, 0.5, 0, 0), 8, 12, 6, 6.0},
        // z > -0.25: a box 2 x 2 x 1.25.
        {"axis z", planeThrough(0, 0, 1, 0, 0, -0.25), 8, 12, 6, 5.0},
        // x + y + z < 2 cuts off the corner (1, 1, 1): a tetrahedron of legs 1.
        {"corner", planeThrough(-1, -1, -1, 2.0 / 3, 2.0 / 3, 2.0 / 3), 10, 15, 7, 8.0 - 1.0 / 6},
        // x + y + z > 2 keeps only that tetrahedron.
        {"tetrahedron", planeThrough(1, 1, 1, 2.0 / 3, 2.0 / 3, 2.0 / 3), 4, 6, 4, 1.0 / 6},
        // Through the centre perpendicular to a long diagonal: a hexagonal cut, half the cube.
        {"hexagon", planeThrough(1, 1, 1, 0, 0, 0), 10, 15, 7, 4.0},
        // x + 0.5 z < 0.25: a trapezoid cross-section of area 2.5, depth 2.
        {"oblique", planeThrough(-1, 0, -0.5, 0.25, 0, 0), 8, 12, 6, 5.0},
    };
    for (const CubeCut& c : cases) {
        SCOPED_TRACE(c.name);
        Polyhedron cube = makeCube();
        Polyhedron result;
        bool cut = false;
        ASSERT_EQ(ClipByPlane(cube, c.plane, &result, &cut), 1);
        EXPECT_TRUE(cut);
        EXPECT_EQ(result.numVertices(), c.vertices);
        EXPECT_EQ(result.numEdges(), c.edges);
        EXPECT_EQ(result.numFaces(), c.faces);
        EXPECT_TRUE(isValidPolyhedron(result));
        EXPECT_NEAR(polyhedronVolume(result), c.volume, 1e-4);
        // The input is untouched when a result is given.
        EXPECT_NEAR(polyhedronVolume(cube), 8.0, 1e-5);
        EXPECT_EQ(cube.numVertices(), 8);
        // The cap is the last face and lies in the cutting plane.
        const Plane& cap = result.faces.back().plane;
        EXPECT_NEAR(cap.a / std::hypot(cap.a, cap.b, cap.c), c.plane.a, 1e-4);
    }
}

TEST(ClipByPlane, ObliqueCutVolume) {
    // x + 0.5 z < 0.5 meets the top z = 1 at x = 0 and the bottom z = -1 at x = 1: the kept part
    // has a trapezoid cross-section of area (1 + 2) / 2 * 2 = 3 in x-z, times depth 2 in y.
    Polyhedron cube = makeCube();
    ASSERT_EQ(ClipByPlane(cube, planeThrough(-1, 0, -0.5, 0.5, 0, 0)), 1);
    EXPECT_NEAR(polyhedronVolume(cube), 6.0, 1e-4);
    EXPECT_TRUE(isValidPolyhedron(cube));
}

TEST(ClipByPlane, PlaneThroughTwoVerticesIsMovedFirst) {
    // x + y < 0 passes through (1, -1, +-1) and (-1, 1, +-1).
    Polyhedron cube = makeCube();
    bool cut = false;
    ASSERT_EQ(ClipByPlane(cube, planeThrough(-1, -1, 0, 0, 0, 0), nullptr, &cut), 1);
    EXPECT_TRUE(cut);
    EXPECT_TRUE(isValidPolyhedron(cube));
    EXPECT_EQ(cube.numVertices(), 10);
    EXPECT_EQ(cube.numEdges(), 15);
    EXPECT_EQ(cube.numFaces(), 7);
    EXPECT_NEAR(polyhedronVolume(cube), 4.0, 1e-3);
    // No new vertex coincides with an old one.
    for (std::size_t i = 0; i < cube.vertices.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const Vector3 d = cube.vertices[i].position() - cube.vertices[j].position();
            EXPECT_GT(d.length(), 0.0f) << i << " " << j;
        }
    }
}

TEST(ClipByPlane, PlanesMissingOnEitherSide) {
    Polyhedron cube = makeCube();
    Polyhedron result;
    bool cut = true;
    // Inner side holds the whole cube: a whole copy, no cut.
    EXPECT_EQ(ClipByPlane(cube, planeThrough(-1, 0, 0, 2, 0, 0), &result, &cut), 1);
    EXPECT_FALSE(cut);
    EXPECT_EQ(result.numVertices(), 8);
    EXPECT_NEAR(polyhedronVolume(result), 8.0, 1e-5);
    // A touching plane (x < 1) is moved outward and keeps the whole cube too.
    EXPECT_EQ(ClipByPlane(cube, planeThrough(-1, 0, 0, 1, 0, 0), &result, &cut), 1);
    EXPECT_FALSE(cut);
    // Outer side: nothing kept, input and result unchanged.
    Polyhedron untouched = makeCube();
    ASSERT_EQ(ClipByPlane(untouched, planeThrough(-1, 0, 0, 0, 0, 0)), 1);
    Polyhedron before = untouched;
    EXPECT_EQ(ClipByPlane(cube, planeThrough(1, 0, 0, 2, 0, 0), &untouched, &cut), -1);
    EXPECT_FALSE(cut);
    EXPECT_EQ(untouched.numVertices(), before.numVertices());
    EXPECT_NEAR(polyhedronVolume(untouched), 4.0, 1e-5);
    EXPECT_EQ(ClipByPlane(cube, planeThrough(0, 0, 1, 0, 0, 5)), -1);
    EXPECT_EQ(cube.numVertices(), 8);
    EXPECT_TRUE(isValidPolyhedron(cube));
}

TEST(ClipByPlane, MovingThePlaneIsBounded) {
    // A plane with enormous coefficients through the face x = 1: adding 1e-5 (even doubled 16
    // times) cannot move it, so the vertices stay on it and then count as inside.
    Polyhedron cube = makeCube();
    bool cut = true;
    EXPECT_EQ(ClipByPlane(cube, Plane{-1e16f, 0.0f, 0.0f, 1e16f}, nullptr, &cut), 1);
    EXPECT_FALSE(cut);
    EXPECT_NEAR(polyhedronVolume(cube), 8.0, 1e-5);
}

TEST(ClipByPlane, EmptyPolyhedronKeepsNothing) {
    Polyhedron empty;
    EXPECT_EQ(ClipByPlane(empty, planeThrough(1, 0, 0, 0, 0, 0)), -1);
}

TEST(CompactPolyhedron, DropsDeletedRecordsAndRenumbers) {
    // The cube with a deleted record in front of each array (every reference shifted by one):
    // compacting gives the cube back exactly.
    const Polyhedron cube = makeCube();
    Polyhedron padded;
    auto shift = [](std::int32_t i) { return i == kNoIndex ? i : i + 1; };
    padded.vertices.push_back(MeshVertex{});
    for (MeshVertex v : cube.vertices) {
        v.edge = shift(v.edge);
        padded.vertices.push_back(v);
    }
    padded.edges.push_back(MeshEdge{});
    for (MeshEdge e : cube.edges) {
        e.vertex1 = shift(e.vertex1);
        e.vertex2 = shift(e.vertex2);
        e.face1 = shift(e.face1);
        e.face2 = shift(e.face2);
        e.next1 = shift(e.next1);
        e.prev1 = shift(e.prev1);
        e.next2 = shift(e.next2);
        e.prev2 = shift(e.prev2);
        padded.edges.push_back(e);
    }
    padded.faces.push_back(MeshFace{});
    for (MeshFace f : cube.faces) {
        f.edge = shift(f.edge);
        padded.faces.push_back(f);
    }
    CompactPolyhedron(padded);
    ASSERT_EQ(padded.numVertices(), 8);
    ASSERT_EQ(padded.numEdges(), 12);
    ASSERT_EQ(padded.numFaces(), 6);
    for (std::size_t i = 0; i < 12; ++i) {
        const MeshEdge& a = padded.edges[i];
        const MeshEdge& b = cube.edges[i];
        EXPECT_EQ(std::vector<std::int32_t>(
                      {a.vertex1, a.vertex2, a.face1, a.face2, a.next1, a.prev1, a.next2, a.prev2}),
                  std::vector<std::int32_t>({b.vertex1, b.vertex2, b.face1, b.face2, b.next1,
                                             b.prev1, b.next2, b.prev2}));
    }
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(padded.vertices[i].edge, cube.vertices[i].edge);
    }
    EXPECT_TRUE(isValidPolyhedron(padded));
    FreePolyhedron(padded);
    EXPECT_TRUE(padded.empty());
    EXPECT_EQ(padded.numEdges(), 0);
    EXPECT_EQ(padded.numFaces(), 0);
}

TEST(ClipByPolyhedron, CubeByCubeAndStopsAtFirstEmptyClip) {
    Polyhedron a = makeCube();
    Polyhedron b = makeCube();
    for (MeshVertex& v : b.vertices) {
        v.x += 1.0f;
        v.y += 0.5f;
    }
    for (MeshFace& f : b.faces) {
        // Shift the planes with the vertices: n.(x - t) = n.x - n.t.
        f.plane.d -= f.plane.a * 1.0f + f.plane.b * 0.5f;
    }
    Polyhedron result;
    bool cut = false;
    ASSERT_EQ(ClipByPolyhedron(a, b, &result, &cut), 1);
    EXPECT_TRUE(cut);
    EXPECT_TRUE(isValidPolyhedron(result));
    EXPECT_NEAR(polyhedronVolume(result), 1.0 * 1.5 * 2.0, 1e-4);
    EXPECT_NEAR(polyhedronVolume(a), 8.0, 1e-5);

    // Identical cubes: every plane touches, nothing is cut.
    ASSERT_EQ(ClipByPolyhedron(a, makeCube(), &result, &cut), 1);
    EXPECT_FALSE(cut);
    EXPECT_NEAR(polyhedronVolume(result), 8.0, 1e-5);

    // Disjoint: -1.
    for (MeshFace& f : b.faces) {
        f.plane.d -= f.plane.a * 5.0f;
    }
    EXPECT_EQ(ClipByPolyhedron(a, b, &result, &cut), -1);
    EXPECT_NEAR(polyhedronVolume(a), 8.0, 1e-5);
}

Polyhedron frustum(const Vector3& eye, const Vector3& dir, const Vector3& up, double fov,
                   double near, double far) {
    Polyhedron p;
    EXPECT_EQ(BuildFrustumPolyhedron(p, eye, dir, up, fov, near, far), 1);
    return p;
}

TEST(ClipByPolyhedron, FrustaOfNearbyCamerasGiveTheSameVolumeEitherWayRound) {
    const Polyhedron a = frustum({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, 0.8, 0.5, 20);
    const Polyhedron b = frustum({0.7f, -0.3f, 0.5f}, {0.2f, 0.1f, -1}, {0, 1, 0.1f}, 0.7, 1, 25);
    Polyhedron ab, ba;
    Polyhedron aa = a, bb = b;
    bool cutAb = false, cutBa = false;
    ASSERT_EQ(ClipByPolyhedron(aa, b, &ab, &cutAb), 1);
    ASSERT_EQ(ClipByPolyhedron(bb, a, &ba, &cutBa), 1);
    EXPECT_TRUE(cutAb);
    EXPECT_TRUE(cutBa);
    EXPECT_TRUE(isValidPolyhedron(ab));
    EXPECT_TRUE(isValidPolyhedron(ba));
    const double vab = polyhedronVolume(ab);
    const double vba = polyhedronVolume(ba);
    EXPECT_GT(vab, 1.0);
    EXPECT_LT(vab, polyhedronVolume(a));
    EXPECT_LT(vab, polyhedronVolume(b));
    EXPECT_NEAR(vab, vba, 1e-4 * vab);
}

TEST(ClipByPolyhedron, FrustumInsideALargerOneIsWhole) {
    Polyhedron inner = frustum({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, 0.5, 1, 10);
    const Polyhedron outer = frustum({0, 0, 1}, {0, 0, -1}, {0, 1, 0}, 1.0, 0.5, 100);
    Polyhedron result;
    bool cut = true;
    ASSERT_EQ(ClipByPolyhedron(inner, outer, &result, &cut), 1);
    EXPECT_FALSE(cut);
    EXPECT_NEAR(polyhedronVolume(result), polyhedronVolume(inner), 1e-6);
}

// Random planes through a polyhedron: every clip leaves a valid polyhedron no larger than before.
void randomPlaneSweep(const Polyhedron& start, double radius, std::uint32_t seed, int planes) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double startVolume = polyhedronVolume(start);
    Polyhedron chain = start;
    int chainLength = 0;
    for (int i = 0; i < planes; ++i) {
        double nx, ny, nz;
        do {
            nx = unit(rng);
            ny = unit(rng);
            nz = unit(rng);
        } while (nx * nx + ny * ny + nz * nz < 1e-4);
        // A point near the polyhedron's centre so that most planes cut it.
        double cx = 0, cy = 0, cz = 0;
        for (const MeshVertex& v : start.vertices) {
            cx += v.x;
            cy += v.y;
            cz += v.z;
        }
        cx /= start.numVertices();
        cy /= start.numVertices();
        cz /= start.numVertices();
        const Plane plane =
            planeThrough(nx, ny, nz, cx + 0.6 * radius * unit(rng), cy + 0.6 * radius * unit(rng),
                         cz + 0.6 * radius * unit(rng));
        Polyhedron work = start;
        Polyhedron result;
        bool cut = false;
        const int kept = ClipByPlane(work, plane, &result, &cut);
        ASSERT_NE(kept, 0) << "plane " << i;
        if (kept == 1) {
            ASSERT_TRUE(isValidPolyhedron(result)) << "plane " << i;
            ASSERT_LE(polyhedronVolume(result), startVolume * (1 + 1e-6)) << "plane " << i;
        }
        // A chain of clips of the same polyhedron, restarted when it vanishes or after eight.
        const double before = polyhedronVolume(chain);
        const int chained = ClipByPlane(chain, plane);
        ASSERT_NE(chained, 0) << "chain plane " << i;
        if (chained == 1) {
            ASSERT_TRUE(isValidPolyhedron(chain)) << "chain plane " << i;
            ASSERT_LE(polyhedronVolume(chain), before * (1 + 1e-5) + 1e-9) << "chain plane " << i;
        }
        if (chained != 1 || ++chainLength == 8) {
            chain = start;
            chainLength = 0;
        }
    }
}

TEST(ClipByPlane, PlanesThroughVerticesKeepTheStructure) {
    // Chains of clips by planes through a vertex of the current piece, exactly or within 1e-7:
    // the hardest cases for the tolerance. Pieces can shrink below single precision; their links
    // must stay sound even where their planes no longer can.
    std::mt19937 rng(99u);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int cuts = 0;
    platform::DebugCapture quiet;
    for (int round = 0; round < 800; ++round) {
        Polyhedron chain = makeCube();
        for (int k = 0; k < 12; ++k) {
            std::uniform_int_distribution<std::size_t> pick(0, chain.vertices.size() - 1);
            const MeshVertex a = chain.vertices[pick(rng)];
            const double nx = unit(rng), ny = unit(rng), nz = unit(rng);
            const double eps = k % 3 == 0 ? 0.0 : 1e-7 * unit(rng);
            const double before = polyhedronVolume(chain);
            const int kept = ClipByPlane(chain, planeThrough(nx, ny, nz, a.x + eps, a.y, a.z));
            if (kept != 1) {
                break;
            }
            ++cuts;
            ASSERT_TRUE(isValidPolyhedron(chain, false)) << round << " " << k;
            const double after = polyhedronVolume(chain);
            ASSERT_LE(after, before * (1 + 1e-5) + 1e-12);
            if (after > 1e-9) {
                ASSERT_TRUE(isValidPolyhedron(chain)) << round << " " << k;
            }
        }
    }
    EXPECT_GT(cuts, 2500);
}

TEST(ClipByPlane, RandomPlanesKeepEveryInvariant) {
    randomPlaneSweep(makeCube(), 1.0, 12345u, 2000);
    randomPlaneSweep(frustum({0.5f, -1, 2}, {0.3f, 0.2f, -1}, {0, 1, 0}, 0.9, 0.5, 8), 4.0, 777u,
                     1500);
}

}  // namespace
}  // namespace strata::mesh
