// Building the winged-edge structure: every face list is walked once, its edges found or created
// through an open-addressing table keyed on the vertex pair, and each edge learns its face and
// wings on the side given by the direction the face walks it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "mesh/polyhedron.h"
#include "mesh/polyhedron_internal.h"
#include "platform/debug_output.h"

namespace strata::mesh {

using geometry::Vector3;

EdgeTable::EdgeTable(std::int32_t edgeEstimate) {
    capacity_ = std::max(edgeEstimate, 1);
    const std::int64_t slots = 2 * static_cast<std::int64_t>(capacity_) - 1;
    slots_.assign(static_cast<std::size_t>(slots), kNoIndex);
}

std::int32_t FindOrAddEdge(EdgeTable& table, std::int32_t i, std::int32_t j,
                           std::vector<MeshVertex>& vertices, std::vector<MeshEdge>& edges) {
    if (i > j) {
        std::swap(i, j);
    }
    const std::int64_t size = static_cast<std::int64_t>(table.slots_.size());
    const std::int64_t start =
        (static_cast<std::int64_t>(j) + 347 * static_cast<std::int64_t>(i)) % size;
    std::int64_t slot = start;
    for (;;) {
        const std::int32_t held = table.slots_[static_cast<std::size_t>(slot)];
        if (held == kNoIndex) {
            break;
        }
        const MeshEdge& e = edges[static_cast<std::size_t>(held)];
        if ((e.vertex1 == i && e.vertex2 == j) || (e.vertex1 == j && e.vertex2 == i)) {
            return -held;
        }
        slot = slot == 0 ? size - 1 : slot - 1;
        if (slot == start) {
            return kEdgeTableFull;  // every slot taken
        }
    }
    const std::int32_t number = table.created_;
    if (number >= table.capacity_ || static_cast<std::size_t>(number) >= edges.size()) {
        return kEdgeTableFull;
    }
    table.slots_[static_cast<std::size_t>(slot)] = number;
    MeshEdge& e = edges[static_cast<std::size_t>(number)];
    e.vertex1 = i;
    e.vertex2 = j;
    MeshVertex& a = vertices[static_cast<std::size_t>(i)];
    MeshVertex& b = vertices[static_cast<std::size_t>(j)];
    a.edge = number;
    b.edge = number;
    ++a.order;
    ++b.order;
    ++table.created_;
    return number;
}

int PlaneFromPoints(const Vector3& p0, const Vector3& p1, const Vector3& p2, Plane& plane) {
    const double x0 = p0.x, y0 = p0.y, z0 = p0.z;
    const double x1 = p1.x, y1 = p1.y, z1 = p1.z;
    const double x2 = p2.x, y2 = p2.y, z2 = p2.z;
    const double a = (z2 - z0) * y1 + (z1 - z2) * y0 + (z0 - z1) * y2;
    const double b = (x1 - x2) * z0 + (x2 - x0) * z1 + (x0 - x1) * z2;
    const double c = (y0 - y1) * x2 + (y2 - y0) * x1 + (y1 - y2) * x0;
    const double d =
        -((z0 * y2 - y0 * z2) * x1 + (y0 * z1 - z0 * y1) * x2 + (z2 * y1 - y2 * z1) * x0);
    const double normal = std::sqrt(a * a + b * b + c * c);
    if (!(normal >= kPlaneTolerance)) {
        plane = {static_cast<float>(a), static_cast<float>(b), static_cast<float>(c),
                 static_cast<float>(d)};
        return 0;
    }
    const double len = std::sqrt(a * a + b * b + c * c + d * d);
    plane = {static_cast<float>(a / len), static_cast<float>(b / len), static_cast<float>(c / len),
             static_cast<float>(d / len)};
    return 1;
}

int ClassifyPoint(const Vector3& p, const Plane& plane) {
    return detail::classify(detail::planeValue(plane, p));
}

int IntersectSegment(const Plane& plane, const Vector3& p, const Vector3& q, Vector3& point) {
    return detail::intersect(detail::PlaneD::from(plane), p, q, point);
}

namespace detail {

int intersect(const PlaneD& plane, const Vector3& p, const Vector3& q, Vector3& point) {
    const double g = plane.a * (static_cast<double>(p.x) - q.x) +
                     plane.b * (static_cast<double>(p.y) - q.y) +
                     plane.c * (static_cast<double>(p.z) - q.z);
    if (std::fabs(g) < kPlaneTolerance) {
        return 0;
    }
    const double t = plane.value(p) / g;
    point = {static_cast<float>((1.0 - t) * p.x + t * q.x),
             static_cast<float>((1.0 - t) * p.y + t * q.y),
             static_cast<float>((1.0 - t) * p.z + t * q.z)};
    return 1;
}

Plane faceplaneFromVertices(const std::vector<MeshVertex>& vertices,
                            const std::vector<std::int32_t>& ring, double* spread) {
    // The best-spread triple: the first vertex, the one farthest from it, and the one farthest
    // from the line through those two. A collinear run of vertices never decides the plane.
    Plane plane;
    if (ring.size() < 3) {
        return plane;
    }
    const Vector3 p0 = vertices[static_cast<std::size_t>(ring[0])].position();
    std::size_t i1 = 1;
    double best = -1.0;
    for (std::size_t k = 1; k < ring.size(); ++k) {
        const double d =
            (vertices[static_cast<std::size_t>(ring[k])].position() - p0).squaredLength();
        if (d > best) {
            best = d;
            i1 = k;
        }
    }
    const Vector3 p1 = vertices[static_cast<std::size_t>(ring[i1])].position();
    std::size_t i2 = 0;
    best = -1.0;
    for (std::size_t k = 1; k < ring.size(); ++k) {
        if (k == i1) {
            continue;
        }
        const Vector3 pk = vertices[static_cast<std::size_t>(ring[k])].position();
        const double area = geometry::cross(p1 - p0, pk - p0).squaredLength();
        if (area > best) {
            best = area;
            i2 = k;
        }
    }
    if (spread != nullptr) {
        // The smaller of the triple's base and its height over the base.
        const double base = std::sqrt(std::max(
            (vertices[static_cast<std::size_t>(ring[i1])].position() - p0).squaredLength(), 0.0f));
        const double height = base > 0.0 ? std::sqrt(std::max(best, 0.0)) / base : 0.0;
        *spread = std::min(base, height);
    }
    // Keep the triple in ring order so the winding of the face is kept.
    std::size_t idx[3] = {0, std::min(i1, i2), std::max(i1, i2)};
    PlaneFromPoints(vertices[static_cast<std::size_t>(ring[idx[0]])].position(),
                    vertices[static_cast<std::size_t>(ring[idx[1]])].position(),
                    vertices[static_cast<std::size_t>(ring[idx[2]])].position(), plane);
    return plane;
}

void orientPlane(Plane& plane, const Vector3& interior) {
    if (planeValue(plane, interior) < 0.0) {
        plane = {-plane.a, -plane.b, -plane.c, -plane.d};
    }
}

int buildPolyhedron(Polyhedron& polyhedron, std::span<const std::int32_t> faceIndices,
                    std::span<const std::int32_t> faceSizes, std::span<const Vector3> positions,
                    std::int32_t edgeEstimate, std::string& error) {
    constexpr std::size_t kMaxRecords = 1u << 26;
    const std::size_t numV = positions.size();
    const std::size_t numF = faceSizes.size();
    if (numV < 4 || numF < 4 || numV > kMaxRecords || numF > kMaxRecords) {
        error = platform::formatString("%zu vertices and %zu faces cannot form a polyhedron", numV,
                                       numF);
        return 0;
    }
    std::uint64_t total = 0;
    for (std::size_t f = 0; f < numF; ++f) {
        if (faceSizes[f] < 3) {
            error = platform::formatString("face %zu has %d vertices (at least 3 needed)", f,
                                           faceSizes[f]);
            return 0;
        }
        total += static_cast<std::uint64_t>(faceSizes[f]);
    }
    if (total != faceIndices.size()) {
        error = platform::formatString("face sizes add up to %llu but %zu indices are given",
                                       static_cast<unsigned long long>(total), faceIndices.size());
        return 0;
    }
    for (std::size_t v = 0; v < numV; ++v) {
        if (!std::isfinite(positions[v].x) || !std::isfinite(positions[v].y) ||
            !std::isfinite(positions[v].z)) {
            error = platform::formatString("vertex %zu position is not finite", v);
            return 0;
        }
    }
    const std::int64_t estimate =
        edgeEstimate > 0 ? edgeEstimate
                         : static_cast<std::int64_t>(numV) + static_cast<std::int64_t>(numF) - 1;

    // Centroid of the positions: the interior point that orients windings and planes.
    double cx = 0, cy = 0, cz = 0;
    for (const Vector3& p : positions) {
        cx += p.x;
        cy += p.y;
        cz += p.z;
    }
    const Vector3 centroid{static_cast<float>(cx / static_cast<double>(numV)),
                           static_cast<float>(cy / static_cast<double>(numV)),
                           static_cast<float>(cz / static_cast<double>(numV))};

    std::vector<char> used(numV, 0);
    for (const std::int32_t v : faceIndices) {
        if (v >= 0 && static_cast<std::size_t>(v) < numV) {
            used[static_cast<std::size_t>(v)] = 1;
        }
    }
    for (std::size_t v = 0; v < numV; ++v) {
        if (!used[v]) {
            error = platform::formatString("vertex %zu belongs to no face", v);
            return 0;
        }
    }

    // Face lists, each checked and turned counter-clockwise seen from outside.
    std::vector<std::vector<std::int32_t>> rings(numF);
    std::size_t at = 0;
    for (std::size_t f = 0; f < numF; ++f) {
        std::vector<std::int32_t>& ring = rings[f];
        ring.assign(faceIndices.begin() + static_cast<std::ptrdiff_t>(at),
                    faceIndices.begin() + static_cast<std::ptrdiff_t>(at) + faceSizes[f]);
        at += static_cast<std::size_t>(faceSizes[f]);
        for (std::size_t k = 0; k < ring.size(); ++k) {
            if (ring[k] < 0 || static_cast<std::size_t>(ring[k]) >= numV) {
                error = platform::formatString("face %zu refers to vertex %d outside 0..%zu", f,
                                               ring[k], numV - 1);
                return 0;
            }
            for (std::size_t m = 0; m < k; ++m) {
                if (ring[m] == ring[k]) {
                    error = platform::formatString("face %zu lists vertex %d twice", f, ring[k]);
                    return 0;
                }
            }
        }
        // Newell normal of the list against the direction from the centroid to the face.
        double nx = 0, ny = 0, nz = 0, fx = 0, fy = 0, fz = 0;
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const Vector3& p = positions[static_cast<std::size_t>(ring[k])];
            const Vector3& q = positions[static_cast<std::size_t>(ring[(k + 1) % ring.size()])];
            nx += (static_cast<double>(p.y) - q.y) * (static_cast<double>(p.z) + q.z);
            ny += (static_cast<double>(p.z) - q.z) * (static_cast<double>(p.x) + q.x);
            nz += (static_cast<double>(p.x) - q.x) * (static_cast<double>(p.y) + q.y);
            fx += p.x;
            fy += p.y;
            fz += p.z;
        }
        const double n = static_cast<double>(ring.size());
        const double outward =
            nx * (fx / n - centroid.x) + ny * (fy / n - centroid.y) + nz * (fz / n - centroid.z);
        if (outward < 0.0) {
            std::reverse(ring.begin(), ring.end());
        }
    }

    Polyhedron built;
    built.vertices.resize(numV);
    for (std::size_t v = 0; v < numV; ++v) {
        built.vertices[v].x = positions[v].x;
        built.vertices[v].y = positions[v].y;
        built.vertices[v].z = positions[v].z;
    }
    if (estimate > static_cast<std::int64_t>(kMaxRecords)) {
        error = "edge estimate too large";
        return 0;
    }
    built.edges.resize(static_cast<std::size_t>(estimate));
    built.faces.resize(numF);

    EdgeTable table(static_cast<std::int32_t>(estimate));
    std::vector<std::int32_t> faceEdges;
    for (std::size_t f = 0; f < numF; ++f) {
        const std::vector<std::int32_t>& ring = rings[f];
        const std::size_t n = ring.size();
        faceEdges.assign(n, kNoIndex);
        for (std::size_t k = 0; k < n; ++k) {
            const std::int32_t from = ring[(k + n - 1) % n];
            const std::int32_t r = FindOrAddEdge(table, from, ring[k], built.vertices, built.edges);
            if (r == kEdgeTableFull) {
                error = platform::formatString("more edges than the estimate of %lld",
                                               static_cast<long long>(estimate));
                return 0;
            }
            faceEdges[k] = std::abs(r);
        }
        MeshFace& face = built.faces[f];
        face.order = static_cast<std::int32_t>(n);
        face.edge = faceEdges[0];
        for (std::size_t k = 0; k < n; ++k) {
            MeshEdge& e = built.edges[static_cast<std::size_t>(faceEdges[k])];
            const std::int32_t next = faceEdges[(k + 1) % n];
            const std::int32_t prev = faceEdges[(k + n - 1) % n];
            const std::int32_t from = ring[(k + n - 1) % n];
            std::int32_t& side = e.vertex1 == from ? e.face1 : e.face2;
            if (side != kNoIndex) {
                error = platform::formatString(
                    "edge %d-%d is walked the same way by two faces (not a closed convex surface)",
                    e.vertex1, e.vertex2);
                return 0;
            }
            side = static_cast<std::int32_t>(f);
            if (e.vertex1 == from) {
                e.next1 = next;
                e.prev1 = prev;
            } else {
                e.next2 = next;
                e.prev2 = prev;
            }
        }
    }
    built.edges.resize(static_cast<std::size_t>(table.created()));

    for (std::size_t e = 0; e < built.edges.size(); ++e) {
        if (built.edges[e].face1 == kNoIndex || built.edges[e].face2 == kNoIndex) {
            error = platform::formatString("edge %d-%d borders only one face (surface not closed)",
                                           built.edges[e].vertex1, built.edges[e].vertex2);
            return 0;
        }
    }
    const std::int64_t euler = static_cast<std::int64_t>(numV) -
                               static_cast<std::int64_t>(built.edges.size()) +
                               static_cast<std::int64_t>(numF);
    if (euler != 2) {
        error =
            platform::formatString("faces do not close into one convex surface (V - E + F = %lld)",
                                   static_cast<long long>(euler));
        return 0;
    }
    for (std::size_t f = 0; f < numF; ++f) {
        Plane plane = faceplaneFromVertices(built.vertices, rings[f], nullptr);
        orientPlane(plane, centroid);
        built.faces[f].plane = plane;
    }
    polyhedron = std::move(built);
    return 1;
}

}  // namespace detail

int BuildPolyhedron(Polyhedron& polyhedron, std::span<const std::int32_t> faceIndices,
                    std::span<const std::int32_t> faceSizes, std::span<const Vector3> positions,
                    std::int32_t edgeEstimate) {
    std::string error;
    if (detail::buildPolyhedron(polyhedron, faceIndices, faceSizes, positions, edgeEstimate,
                                error) == 0) {
        FreePolyhedron(polyhedron);
        platform::debugPrintf("BuildPolyhedron: %s\n", error.c_str());
        return 0;
    }
    return 1;
}

void FreePolyhedron(Polyhedron& polyhedron) {
    polyhedron.vertices.clear();
    polyhedron.vertices.shrink_to_fit();
    polyhedron.edges.clear();
    polyhedron.edges.shrink_to_fit();
    polyhedron.faces.clear();
    polyhedron.faces.shrink_to_fit();
}

std::vector<std::int32_t> FaceEdges(const Polyhedron& polyhedron, std::int32_t face) {
    std::vector<std::int32_t> ring;
    if (face < 0 || face >= polyhedron.numFaces()) {
        return ring;
    }
    const MeshFace& f = polyhedron.faces[static_cast<std::size_t>(face)];
    if (f.order <= 0) {
        return ring;
    }
    const std::int32_t numEdges = polyhedron.numEdges();
    std::int32_t e = f.edge;
    for (std::int32_t steps = 0; steps <= numEdges; ++steps) {
        if (e < 0 || e >= numEdges) {
            break;
        }
        if (!ring.empty() && e == ring.front()) {
            return ring;
        }
        const MeshEdge& edge = polyhedron.edges[static_cast<std::size_t>(e)];
        ring.push_back(e);
        if (edge.face1 == face) {
            e = edge.next1;
        } else if (edge.face2 == face) {
            e = edge.next2;
        } else {
            break;
        }
    }
    ring.clear();
    return ring;
}

std::vector<std::int32_t> FaceVertices(const Polyhedron& polyhedron, std::int32_t face) {
    std::vector<std::int32_t> ring = FaceEdges(polyhedron, face);
    for (std::int32_t& e : ring) {
        const MeshEdge& edge = polyhedron.edges[static_cast<std::size_t>(e)];
        e = edge.face1 == face ? edge.vertex2 : edge.vertex1;
    }
    return ring;
}

}  // namespace strata::mesh
