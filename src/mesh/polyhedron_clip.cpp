// Clipping a convex polyhedron by a plane: edges that cross the plane are shortened to a new
// vertex on it, every face that crosses is closed by a new edge through its two new vertices, and
// those edges, walked the other way, form the new face that caps the cut. The result is compacted
// and its face planes recomputed around an interior point.
#include <algorithm>
#include <cmath>
#include <utility>

#include "mesh/polyhedron.h"
#include "mesh/polyhedron_internal.h"
#include "platform/debug_output.h"

namespace strata::mesh {

using geometry::Vector3;

namespace {

constexpr int kMaxPlaneMoves = 16;
// Below this spread (relative to the largest coordinate) a face's vertices, held in single
// precision, no longer fix its plane.
constexpr double kMinFaceSpread = 1e-4;

// One edge of a face cycle and whether the face walks it from vertex1 to vertex2.
struct Step {
    std::int32_t edge = kNoIndex;
    bool forward = true;
};

std::int32_t index(std::size_t i) {
    return static_cast<std::int32_t>(i);
}

// Sets faces, wings, vertex orders and vertex edges from the face cycles. Returns false when an
// edge does not end up with a face on each side.
bool relink(Polyhedron& p, const std::vector<std::vector<Step>>& cycles) {
    for (MeshEdge& e : p.edges) {
        e.face1 = e.face2 = kNoIndex;
        e.next1 = e.prev1 = e.next2 = e.prev2 = kNoIndex;
    }
    for (std::size_t f = 0; f < cycles.size(); ++f) {
        const std::vector<Step>& cycle = cycles[f];
        MeshFace& face = p.faces[f];
        if (cycle.empty()) {
            face.order = 0;
            face.edge = kNoIndex;
            continue;
        }
        const std::size_t n = cycle.size();
        face.order = index(n);
        face.edge = cycle[0].edge;
        for (std::size_t k = 0; k < n; ++k) {
            MeshEdge& e = p.edges[static_cast<std::size_t>(cycle[k].edge)];
            const std::int32_t next = cycle[(k + 1) % n].edge;
            const std::int32_t prev = cycle[(k + n - 1) % n].edge;
            if (cycle[k].forward) {
                if (e.face1 != kNoIndex) {
                    return false;
                }
                e.face1 = index(f);
                e.next1 = next;
                e.prev1 = prev;
            } else {
                if (e.face2 != kNoIndex) {
                    return false;
                }
                e.face2 = index(f);
                e.next2 = next;
                e.prev2 = prev;
            }
        }
    }
    for (MeshVertex& v : p.vertices) {
        v.order = 0;
    }
    std::vector<char> live(p.vertices.size(), 0);
    for (std::size_t i = 0; i < p.edges.size(); ++i) {
        const MeshEdge& e = p.edges[i];
        if (e.vertex1 == kNoIndex) {
            continue;
        }
        if (e.face1 == kNoIndex || e.face2 == kNoIndex) {
            return false;
        }
        for (const std::int32_t v : {e.vertex1, e.vertex2}) {
            MeshVertex& vertex = p.vertices[static_cast<std::size_t>(v)];
            ++vertex.order;
            live[static_cast<std::size_t>(v)] = 1;
        }
    }
    // Keep each vertex's edge when it still meets the vertex, else take one that does.
    for (std::size_t i = 0; i < p.edges.size(); ++i) {
        const MeshEdge& e = p.edges[i];
        if (e.vertex1 == kNoIndex) {
            continue;
        }
        for (const std::int32_t v : {e.vertex1, e.vertex2}) {
            MeshVertex& vertex = p.vertices[static_cast<std::size_t>(v)];
            const bool keep = vertex.edge >= 0 && vertex.edge < index(p.edges.size()) &&
                              p.edges[static_cast<std::size_t>(vertex.edge)].vertex1 != kNoIndex &&
                              (p.edges[static_cast<std::size_t>(vertex.edge)].vertex1 == v ||
                               p.edges[static_cast<std::size_t>(vertex.edge)].vertex2 == v);
            if (!keep) {
                vertex.edge = index(i);
            }
        }
    }
    for (std::size_t v = 0; v < p.vertices.size(); ++v) {
        if (!live[v]) {
            p.vertices[v].order = 0;
            p.vertices[v].edge = kNoIndex;
        }
    }
    return true;
}

// Recomputes every face plane from a vertex triple and orients it with the mean of all vertices
// inside. A face too small or too thin for its single-precision vertices to fix a plane keeps
// the plane it had (a clipped face lies in its old plane, the cap in the cutting plane).
void recomputePlanes(Polyhedron& p) {
    double sx = 0, sy = 0, sz = 0, magnitude = 1e-30;
    for (const MeshVertex& v : p.vertices) {
        sx += v.x;
        sy += v.y;
        sz += v.z;
        magnitude =
            std::max({magnitude, std::fabs(static_cast<double>(v.x)),
                      std::fabs(static_cast<double>(v.y)), std::fabs(static_cast<double>(v.z))});
    }
    const double n = static_cast<double>(std::max<std::size_t>(p.vertices.size(), 1));
    const Vector3 interior{static_cast<float>(sx / n), static_cast<float>(sy / n),
                           static_cast<float>(sz / n)};
    const double minSpread = kMinFaceSpread * magnitude;
    for (std::size_t f = 0; f < p.faces.size(); ++f) {
        const std::vector<std::int32_t> ring = FaceVertices(p, index(f));
        double spread = 0.0;
        const Plane fromVertices = detail::faceplaneFromVertices(p.vertices, ring, &spread);
        Plane plane = spread > minSpread ? fromVertices : p.faces[f].plane;
        if (detail::planeValue(plane, interior) < 0.0) {
            plane = {-plane.a, -plane.b, -plane.c, -plane.d};
        }
        p.faces[f].plane = plane;
    }
}

// The cutting plane in stored form: unit four-vector.
Plane storedPlane(const detail::PlaneD& q) {
    const double len = std::sqrt(q.a * q.a + q.b * q.b + q.c * q.c + q.d * q.d);
    if (!(len > 0.0)) {
        return {};
    }
    return {static_cast<float>(q.a / len), static_cast<float>(q.b / len),
            static_cast<float>(q.c / len), static_cast<float>(q.d / len)};
}

}  // namespace

void CompactPolyhedron(Polyhedron& polyhedron) {
    Polyhedron& p = polyhedron;
    auto makeMap = [](std::size_t count, auto isLive) {
        std::vector<std::int32_t> map(count, kNoIndex);
        std::int32_t next = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (isLive(i)) {
                map[i] = next++;
            }
        }
        return map;
    };
    const std::vector<std::int32_t> vmap =
        makeMap(p.vertices.size(), [&](std::size_t i) { return p.vertices[i].order != 0; });
    const std::vector<std::int32_t> emap =
        makeMap(p.edges.size(), [&](std::size_t i) { return p.edges[i].vertex1 != kNoIndex; });
    const std::vector<std::int32_t> fmap =
        makeMap(p.faces.size(), [&](std::size_t i) { return p.faces[i].order != 0; });
    auto remap = [](const std::vector<std::int32_t>& map, std::int32_t i) {
        return i >= 0 && static_cast<std::size_t>(i) < map.size() ? map[static_cast<std::size_t>(i)]
                                                                  : kNoIndex;
    };

    Polyhedron out;
    for (std::size_t i = 0; i < p.vertices.size(); ++i) {
        if (vmap[i] != kNoIndex) {
            MeshVertex v = p.vertices[i];
            v.edge = remap(emap, v.edge);
            out.vertices.push_back(v);
        }
    }
    for (std::size_t i = 0; i < p.edges.size(); ++i) {
        if (emap[i] != kNoIndex) {
            MeshEdge e = p.edges[i];
            e.vertex1 = remap(vmap, e.vertex1);
            e.vertex2 = remap(vmap, e.vertex2);
            e.face1 = remap(fmap, e.face1);
            e.face2 = remap(fmap, e.face2);
            e.next1 = remap(emap, e.next1);
            e.prev1 = remap(emap, e.prev1);
            e.next2 = remap(emap, e.next2);
            e.prev2 = remap(emap, e.prev2);
            out.edges.push_back(e);
        }
    }
    for (std::size_t i = 0; i < p.faces.size(); ++i) {
        if (fmap[i] != kNoIndex) {
            MeshFace f = p.faces[i];
            f.edge = remap(emap, f.edge);
            out.faces.push_back(f);
        }
    }
    polyhedron = std::move(out);
}

int ClipByPlane(Polyhedron& polyhedron, const Plane& plane, Polyhedron* result, bool* cut) {
    if (cut != nullptr) {
        *cut = false;
    }
    const Polyhedron& in = polyhedron;
    const std::size_t numV = in.vertices.size();

    // 1. Classify; a vertex on the plane moves the plane outward and the test starts again. The
    //    moves are bounded: after the last one, vertices still on the plane count as inside.
    detail::PlaneD moved = detail::PlaneD::from(plane);
    std::vector<int> side(numV, 0);
    double shift = 0.00001;
    for (int attempt = 0;; ++attempt) {
        bool onPlane = false;
        for (std::size_t v = 0; v < numV; ++v) {
            if (in.vertices[v].order == 0) {
                side[v] = 0;
                continue;
            }
            side[v] = detail::classify(moved.value(in.vertices[v].position()));
            onPlane = onPlane || side[v] == 0;
        }
        if (!onPlane) {
            break;
        }
        if (attempt == kMaxPlaneMoves) {
            for (std::size_t v = 0; v < numV; ++v) {
                if (in.vertices[v].order != 0 && side[v] == 0) {
                    side[v] = 1;
                }
            }
            break;
        }
        moved.d += shift;
        shift *= 2.0;
    }

    // 2-3. Nothing inside, or everything inside.
    std::size_t inside = 0, outside = 0;
    for (std::size_t v = 0; v < numV; ++v) {
        inside += side[v] > 0 ? 1 : 0;
        outside += side[v] < 0 ? 1 : 0;
    }
    if (inside == 0) {
        return -1;
    }
    if (outside == 0) {
        if (result != nullptr && result != &polyhedron) {
            *result = polyhedron;
        }
        return 1;
    }

    // 4. The cut, built on a copy so the input stays intact whatever happens.
    const std::size_t numF = in.faces.size();
    std::vector<std::vector<std::int32_t>> ringEdges(numF);
    for (std::size_t f = 0; f < numF; ++f) {
        if (in.faces[f].order == 0) {
            continue;
        }
        ringEdges[f] = FaceEdges(in, index(f));
        if (ringEdges[f].empty()) {
            platform::debugPrintf(
                "ClipByPlane: face %zu does not close; polyhedron left as it was\n", f);
            return 0;
        }
    }

    Polyhedron out = in;
    std::vector<std::int32_t> newVertexOf(in.edges.size(), kNoIndex);
    for (std::size_t i = 0; i < in.edges.size(); ++i) {
        MeshEdge& e = out.edges[i];
        if (e.vertex1 == kNoIndex) {
            continue;
        }
        const int s1 = side[static_cast<std::size_t>(e.vertex1)];
        const int s2 = side[static_cast<std::size_t>(e.vertex2)];
        if (s1 < 0 && s2 < 0) {
            e = MeshEdge{};  // wholly outside: deleted
            continue;
        }
        if (s1 > 0 && s2 > 0) {
            continue;
        }
        const Vector3 p = in.vertices[static_cast<std::size_t>(e.vertex1)].position();
        const Vector3 q = in.vertices[static_cast<std::size_t>(e.vertex2)].position();
        Vector3 x;
        if (detail::intersect(moved, p, q, x) == 0) {
            x = 0.5f * (p + q);
        }
        MeshVertex nv;
        nv.x = x.x;
        nv.y = x.y;
        nv.z = x.z;
        nv.order = 3;
        nv.edge = index(i);
        newVertexOf[i] = index(out.vertices.size());
        out.vertices.push_back(nv);
        // Shorten: the outside end becomes the new vertex.
        if (s1 < 0) {
            e.vertex1 = newVertexOf[i];
        } else {
            e.vertex2 = newVertexOf[i];
        }
    }
    for (std::size_t v = 0; v < numV; ++v) {
        if (side[v] < 0) {
            out.vertices[v].order = 0;
            out.vertices[v].edge = kNoIndex;
        }
    }

    std::vector<std::vector<Step>> cycles(numF + 1);
    // For the cap: the cut edge that starts, walked backwards, at each new vertex.
    std::vector<std::int32_t> capEdgeFrom(out.vertices.size(), kNoIndex);
    std::vector<std::int32_t> capEdges;
    for (std::size_t f = 0; f < numF; ++f) {
        const std::vector<std::int32_t>& ring = ringEdges[f];
        if (ring.empty()) {
            continue;
        }
        const std::size_t n = ring.size();
        // Vertex that each step leads to, and whether it is inside.
        std::vector<Step> steps(n);
        std::vector<int> endSide(n);
        for (std::size_t k = 0; k < n; ++k) {
            const MeshEdge& e = in.edges[static_cast<std::size_t>(ring[k])];
            steps[k] = {ring[k], e.face1 == index(f)};
            const std::int32_t to = steps[k].forward ? e.vertex2 : e.vertex1;
            endSide[k] = side[static_cast<std::size_t>(to)];
        }
        std::size_t insideCount = 0;
        for (int s : endSide) {
            insideCount += s > 0 ? 1 : 0;
        }
        if (insideCount == 0) {
            out.faces[f].order = 0;  // wholly outside: deleted
            continue;
        }
        if (insideCount == n) {
            cycles[f] = steps;
            continue;
        }
        // Convex: one run of inside vertices. Step b enters it, step a + 1 leaves it.
        std::size_t b = n, exitStep = n;
        int runs = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const int before = endSide[(k + n - 1) % n];
            if (before < 0 && endSide[k] > 0) {
                b = k;
                ++runs;
            }
            if (before > 0 && endSide[k] < 0) {
                exitStep = k;
            }
        }
        if (runs != 1 || exitStep == n) {
            platform::debugPrintf(
                "ClipByPlane: face %zu crosses the plane more than once; polyhedron left as it "
                "was\n",
                f);
            return 0;
        }
        const std::int32_t enterVertex = newVertexOf[static_cast<std::size_t>(steps[b].edge)];
        const std::int32_t exitVertex = newVertexOf[static_cast<std::size_t>(steps[exitStep].edge)];
        MeshEdge cutEdge;
        cutEdge.vertex1 = exitVertex;
        cutEdge.vertex2 = enterVertex;
        const std::int32_t cutIndex = index(out.edges.size());
        out.edges.push_back(cutEdge);
        if (capEdgeFrom[static_cast<std::size_t>(enterVertex)] != kNoIndex) {
            platform::debugPrintf(
                "ClipByPlane: the cut does not close; polyhedron left as it was\n");
            return 0;
        }
        capEdgeFrom[static_cast<std::size_t>(enterVertex)] = cutIndex;
        capEdges.push_back(cutIndex);
        std::vector<Step>& cycle = cycles[f];
        for (std::size_t k = b;; k = (k + 1) % n) {
            cycle.push_back(steps[k]);
            if (k == exitStep) {
                break;
            }
        }
        cycle.push_back({cutIndex, true});
    }

    // The cap: cut edges walked from their enter vertex to their exit vertex, each followed by
    // the one that starts where it ends.
    std::vector<Step>& cap = cycles[numF];
    std::int32_t e = capEdges.empty() ? kNoIndex : capEdges.front();
    for (std::size_t steps = 0; e != kNoIndex && steps < capEdges.size(); ++steps) {
        cap.push_back({e, false});
        e = capEdgeFrom[static_cast<std::size_t>(out.edges[static_cast<std::size_t>(e)].vertex1)];
        if (e == capEdges.front()) {
            break;
        }
    }
    if (capEdges.size() < 3 || cap.size() != capEdges.size() || e != capEdges.front()) {
        platform::debugPrintf("ClipByPlane: the cut does not close; polyhedron left as it was\n");
        return 0;
    }
    MeshFace capFace;
    capFace.plane = storedPlane(moved);
    out.faces.push_back(capFace);
    if (!relink(out, cycles)) {
        platform::debugPrintf("ClipByPlane: inconsistent cut; polyhedron left as it was\n");
        return 0;
    }

    // 5-6. Compact, recompute the planes, store.
    CompactPolyhedron(out);
    recomputePlanes(out);
    if (result != nullptr) {
        *result = std::move(out);
    } else {
        polyhedron = std::move(out);
    }
    if (cut != nullptr) {
        *cut = true;
    }
    return 1;
}

int ClipByPolyhedron(Polyhedron& polyhedron, const Polyhedron& other, Polyhedron* result,
                     bool* cut) {
    if (cut != nullptr) {
        *cut = false;
    }
    Polyhedron* target = result != nullptr ? result : &polyhedron;
    bool anyCut = false;
    int kept = 1;
    bool first = true;
    for (const MeshFace& face : other.faces) {
        if (face.order == 0) {
            continue;
        }
        bool thisCut = false;
        kept = first ? ClipByPlane(polyhedron, face.plane, target, &thisCut)
                     : ClipByPlane(*target, face.plane, nullptr, &thisCut);
        anyCut = anyCut || thisCut;
        first = false;
        if (kept != 1) {
            break;
        }
    }
    if (first && result != nullptr && result != &polyhedron) {
        *result = polyhedron;  // no planes: the polyhedron is kept whole
    }
    if (cut != nullptr) {
        *cut = anyCut;
    }
    return kept;
}

}  // namespace strata::mesh
