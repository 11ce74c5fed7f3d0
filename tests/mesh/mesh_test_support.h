// Shared checks for the polyhedron tests: a structural validator of the winged-edge links and a
// volume for convex polyhedra, both independent of the library's own walking code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/polyhedron.h"

namespace strata::mesh::testing {

// Vertex indices of a face, walked with the links directly (not through FaceVertices).
inline std::vector<std::int32_t> walkFace(const Polyhedron& p, std::int32_t f,
                                          std::vector<std::int32_t>* edgesOut = nullptr) {
    std::vector<std::int32_t> ring;
    std::int32_t e = p.faces[static_cast<std::size_t>(f)].edge;
    for (std::int32_t steps = 0; steps <= p.numEdges(); ++steps) {
        if (e < 0 || e >= p.numEdges()) {
            return {};
        }
        if (edgesOut != nullptr && !edgesOut->empty() && e == edgesOut->front()) {
            return ring;
        }
        if (edgesOut == nullptr && !ring.empty() && steps > 0 &&
            e == p.faces[static_cast<std::size_t>(f)].edge) {
            return ring;
        }
        const MeshEdge& edge = p.edges[static_cast<std::size_t>(e)];
        if (edgesOut != nullptr) {
            edgesOut->push_back(e);
        }
        if (edge.face1 == f) {
            ring.push_back(edge.vertex2);
            e = edge.next1;
        } else if (edge.face2 == f) {
            ring.push_back(edge.vertex1);
            e = edge.next2;
        } else {
            return {};
        }
    }
    return {};
}

inline double planeValue(const Plane& q, double x, double y, double z) {
    return q.a * x + q.b * y + q.c * z + q.d;
}

// Euler, two faces per edge that both list it, wings on the right faces meeting at the right
// vertices, vertex orders, and (with checkPlanes) every face plane with the interior on its
// positive side and no vertex clearly outside.
inline ::testing::AssertionResult isValidPolyhedron(const Polyhedron& p, bool checkPlanes = true) {
    const std::int32_t V = p.numVertices(), E = p.numEdges(), F = p.numFaces();
    if (V - E + F != 2) {
        return ::testing::AssertionFailure()
               << "Euler: V " << V << " E " << E << " F " << F << " gives " << (V - E + F);
    }
    std::vector<std::int32_t> order(static_cast<std::size_t>(V), 0);
    auto sharesVertex = [&](std::int32_t edge, std::int32_t vertex) {
        if (edge < 0 || edge >= E) {
            return false;
        }
        const MeshEdge& x = p.edges[static_cast<std::size_t>(edge)];
        return x.vertex1 == vertex || x.vertex2 == vertex;
    };
    auto bordersFace = [&](std::int32_t edge, std::int32_t face) {
        if (edge < 0 || edge >= E) {
            return false;
        }
        const MeshEdge& x = p.edges[static_cast<std::size_t>(edge)];
        return x.face1 == face || x.face2 == face;
    };
    std::vector<std::vector<std::int32_t>> faceEdges(static_cast<std::size_t>(F));
    std::int64_t orderSum = 0;
    for (std::int32_t f = 0; f < F; ++f) {
        std::vector<std::int32_t>& edges = faceEdges[static_cast<std::size_t>(f)];
        const std::vector<std::int32_t> ring = walkFace(p, f, &edges);
        const MeshFace& face = p.faces[static_cast<std::size_t>(f)];
        if (ring.size() < 3 || static_cast<std::int32_t>(ring.size()) != face.order) {
            return ::testing::AssertionFailure()
                   << "face " << f << " walks " << ring.size() << " edges, order " << face.order;
        }
        orderSum += face.order;
    }
    if (orderSum != 2 * static_cast<std::int64_t>(E)) {
        return ::testing::AssertionFailure()
               << "face orders add to " << orderSum << ", 2E " << 2 * E;
    }
    for (std::int32_t i = 0; i < E; ++i) {
        const MeshEdge& e = p.edges[static_cast<std::size_t>(i)];
        if (e.vertex1 < 0 || e.vertex1 >= V || e.vertex2 < 0 || e.vertex2 >= V ||
            e.vertex1 == e.vertex2) {
            return ::testing::AssertionFailure() << "edge " << i << " has bad vertices";
        }
        if (e.face1 < 0 || e.face1 >= F || e.face2 < 0 || e.face2 >= F || e.face1 == e.face2) {
            return ::testing::AssertionFailure() << "edge " << i << " has bad faces";
        }
        for (const std::int32_t f : {e.face1, e.face2}) {
            const std::vector<std::int32_t>& list = faceEdges[static_cast<std::size_t>(f)];
            if (std::find(list.begin(), list.end(), i) == list.end()) {
                return ::testing::AssertionFailure()
                       << "face " << f << " does not list its edge " << i;
            }
        }
        // Around face1 the edge runs vertex1 -> vertex2, around face2 the other way.
        if (!bordersFace(e.next1, e.face1) || !bordersFace(e.prev1, e.face1) ||
            !bordersFace(e.next2, e.face2) || !bordersFace(e.prev2, e.face2)) {
            return ::testing::AssertionFailure() << "edge " << i << " has a wing on a wrong face";
        }
        if (!sharesVertex(e.next1, e.vertex2) || !sharesVertex(e.prev1, e.vertex1) ||
            !sharesVertex(e.next2, e.vertex1) || !sharesVertex(e.prev2, e.vertex2)) {
            return ::testing::AssertionFailure() << "edge " << i << " has a wing at a wrong vertex";
        }
        ++order[static_cast<std::size_t>(e.vertex1)];
        ++order[static_cast<std::size_t>(e.vertex2)];
    }
    double cx = 0, cy = 0, cz = 0;
    for (std::int32_t v = 0; v < V; ++v) {
        const MeshVertex& vertex = p.vertices[static_cast<std::size_t>(v)];
        if (vertex.order != order[static_cast<std::size_t>(v)] || vertex.order < 3) {
            return ::testing::AssertionFailure()
                   << "vertex " << v << " order " << vertex.order << ", edges meeting "
                   << order[static_cast<std::size_t>(v)];
        }
        if (!sharesVertex(vertex.edge, v)) {
            return ::testing::AssertionFailure() << "vertex " << v << " edge does not meet it";
        }
        cx += vertex.x;
        cy += vertex.y;
        cz += vertex.z;
    }
    if (!checkPlanes) {
        return ::testing::AssertionSuccess();
    }
    cx /= V;
    cy /= V;
    cz /= V;
    for (std::int32_t f = 0; f < F; ++f) {
        const Plane& q = p.faces[static_cast<std::size_t>(f)].plane;
        if (!(planeValue(q, cx, cy, cz) > 0.0)) {
            return ::testing::AssertionFailure() << "face " << f << " has the interior outside";
        }
        const double scale =
            std::sqrt(static_cast<double>(q.a) * q.a + static_cast<double>(q.b) * q.b +
                      static_cast<double>(q.c) * q.c);
        for (const MeshVertex& v : p.vertices) {
            // Distance outside the face plane, relative to the size of the polyhedron.
            if (planeValue(q, v.x, v.y, v.z) / scale < -1e-3) {
                return ::testing::AssertionFailure() << "vertex outside face " << f << " by "
                                                     << -planeValue(q, v.x, v.y, v.z) / scale;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Volume of a convex polyhedron by fans of tetrahedra from its centroid. Faces counter-clockwise
// seen from outside give positive terms.
inline double polyhedronVolume(const Polyhedron& p) {
    double cx = 0, cy = 0, cz = 0;
    for (const MeshVertex& v : p.vertices) {
        cx += v.x;
        cy += v.y;
        cz += v.z;
    }
    const double n = static_cast<double>(p.vertices.size());
    cx /= n;
    cy /= n;
    cz /= n;
    double volume = 0.0;
    for (std::int32_t f = 0; f < p.numFaces(); ++f) {
        const std::vector<std::int32_t> ring = walkFace(p, f);
        if (ring.size() < 3) {
            continue;
        }
        auto at = [&](std::int32_t i, double out[3]) {
            const MeshVertex& v = p.vertices[static_cast<std::size_t>(i)];
            out[0] = v.x - cx;
            out[1] = v.y - cy;
            out[2] = v.z - cz;
        };
        double a[3], b[3], c[3];
        at(ring[0], a);
        for (std::size_t k = 1; k + 1 < ring.size(); ++k) {
            at(ring[k], b);
            at(ring[k + 1], c);
            volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                       a[2] * (b[0] * c[1] - b[1] * c[0])) /
                      6.0;
        }
    }
    return volume;
}

// The cube [-1, 1]^3: vertex i has x = bit 0, y = bit 1, z = bit 2 (0 -> -1, 1 -> +1).
inline const std::vector<geometry::Vector3>& cubePositions() {
    static const std::vector<geometry::Vector3> positions = [] {
        std::vector<geometry::Vector3> p;
        for (int i = 0; i < 8; ++i) {
            p.push_back({(i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : -1.0f});
        }
        return p;
    }();
    return positions;
}
inline const std::vector<std::int32_t>& cubeFaceIndices() {
    static const std::vector<std::int32_t> indices = {0, 2, 3, 1, 4, 5, 7, 6, 0, 4, 6, 2,
                                                      1, 3, 7, 5, 0, 1, 5, 4, 2, 6, 7, 3};
    return indices;
}
inline const std::vector<std::int32_t>& cubeFaceSizes() {
    static const std::vector<std::int32_t> sizes = {4, 4, 4, 4, 4, 4};
    return sizes;
}

inline Polyhedron makeCube() {
    Polyhedron p;
    EXPECT_EQ(BuildPolyhedron(p, cubeFaceIndices(), cubeFaceSizes(), cubePositions()), 1);
    return p;
}

// Plane with the given unit normal n pointing inside, through point q: n.(x - q) > 0 inside.
inline Plane planeThrough(double nx, double ny, double nz, double qx, double qy, double qz) {
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= len;
    ny /= len;
    nz /= len;
    return {static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz),
            static_cast<float>(-(nx * qx + ny * qy + nz * qz))};
}

}  // namespace strata::mesh::testing
