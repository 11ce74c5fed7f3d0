#include "maker/orientation.h"

#include <CGAL/Polygon_mesh_processing/orient_polygon_soup.h>
#include <CGAL/Simple_cartesian.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <vector>

namespace strata::maker {
namespace {

using Point = CGAL::Simple_cartesian<double>::Point_3;
using Polygon = std::vector<std::size_t>;

struct Vec {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Vec operator-(const Point& a, const Point& b) {
    return {a.x() - b.x(), a.y() - b.y(), a.z() - b.z()};
}

Vec cross(const Vec& a, const Vec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double dot(const Vec& a, const Vec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Twice the area vector of triangle p: its normal by the winding, its length twice the area.
Vec areaVector(const std::vector<Point>& points, const Polygon& p) {
    return cross(points[p[1]] - points[p[0]], points[p[2]] - points[p[0]]);
}

struct Parts {
    std::vector<std::size_t> parent;

    explicit Parts(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    std::size_t find(std::size_t i) {
        while (parent[i] != i) {
            parent[i] = parent[parent[i]];
            i = parent[i];
        }
        return i;
    }
    void join(std::size_t a, std::size_t b) { parent[find(a)] = find(b); }
};

struct EdgeUse {
    std::size_t first = 0;  // the first triangle met on the edge
    int count = 0;          // triangles on the edge
};

std::uint64_t edgeKey(std::size_t a, std::size_t b) {
    return (static_cast<std::uint64_t>(std::min(a, b)) << 32) | std::max(a, b);
}

// Points within a tolerance of each other are one point: files repeat a vertex wherever a face
// needs its own colour, normal or texture coordinate, and positions computed twice (the seam of a
// sphere at 0 and 360 degrees) may differ in the last bits. Points are kept in cells of the
// tolerance's size; a new point looks for a match in its cell and the 26 around it.
class PointWelder {
  public:
    PointWelder(std::vector<Point>& points, double tolerance)
        : points_(points), tolerance_(tolerance) {}

    std::size_t add(const geometry::Vector3& v) {
        const Point p(v.x, v.y, v.z);
        const std::array<std::int64_t, 3> cell = cellOf(p);
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const auto found = cells_.find(key({cell[0] + dx, cell[1] + dy, cell[2] + dz}));
                    if (found == cells_.end()) {
                        continue;
                    }
                    for (const std::size_t id : found->second) {
                        const Point& q = points_[id];
                        if (std::fabs(q.x() - p.x()) <= tolerance_ &&
                            std::fabs(q.y() - p.y()) <= tolerance_ &&
                            std::fabs(q.z() - p.z()) <= tolerance_) {
                            return id;
                        }
                    }
                }
            }
        }
        points_.push_back(p);
        cells_[key(cell)].push_back(points_.size() - 1);
        return points_.size() - 1;
    }

  private:
    std::array<std::int64_t, 3> cellOf(const Point& p) const {
        return {static_cast<std::int64_t>(std::floor(p.x() / tolerance_)),
                static_cast<std::int64_t>(std::floor(p.y() / tolerance_)),
                static_cast<std::int64_t>(std::floor(p.z() / tolerance_))};
    }
    static std::uint64_t key(const std::array<std::int64_t, 3>& c) {
        // A hash of the cell; cells that share one are told apart by the distance test.
        return static_cast<std::uint64_t>(c[0]) * 0x9E3779B97F4A7C15ull ^
               static_cast<std::uint64_t>(c[1]) * 0xC2B2AE3D27D4EB4Full ^
               static_cast<std::uint64_t>(c[2]) * 0x165667B19E3779F9ull;
    }

    std::vector<Point>& points_;
    double tolerance_;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells_;
};

// The welding tolerance: a millionth of the scene's size.
constexpr double kWeldShare = 1e-6;

}  // namespace

OrientationReport orientScene(Scene& scene) {
    OrientationReport report;
    // The soup: one point per distinct position, one triangle per triangle whose corners differ.
    std::vector<Point> points;
    const Bounds bounds = scene.bounds();
    const double size =
        bounds.empty() ? 1.0 : std::max(2.0 * static_cast<double>(bounds.radius()), 1e-30);
    PointWelder welder(points, kWeldShare * size);
    std::vector<Polygon> polygons;
    std::vector<std::pair<std::size_t, std::size_t>> source;  // (mesh, triangle) of each polygon
    for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
        TriangleMesh& mesh = scene.meshes[m];
        mesh.openFaces.assign(mesh.triangleCount(), 0);
        mesh.windingOriented = true;
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            Polygon corners(3);
            for (std::size_t k = 0; k < 3; ++k) {
                corners[k] = welder.add(mesh.positions[mesh.indices[3 * t + k]]);
            }
            if (corners[0] == corners[1] || corners[1] == corners[2] || corners[0] == corners[2]) {
                continue;
            }
            polygons.push_back(std::move(corners));
            source.emplace_back(m, t);
        }
    }
    const std::size_t n = polygons.size();
    if (n == 0) {
        return report;
    }
    std::vector<Vec> before(n);
    for (std::size_t i = 0; i < n; ++i) {
        before[i] = areaVector(points, polygons[i]);
    }
    // Consistent winding within every part; points shared by parts that cannot be oriented
    // together (an edge of three or more triangles, a Moebius strip) are split.
    CGAL::Polygon_mesh_processing::orient_polygon_soup(points, polygons);

    // Parts: triangles that share an edge after the split.
    Parts parts(n);
    std::unordered_map<std::uint64_t, EdgeUse> edges;
    edges.reserve(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            EdgeUse& e = edges[edgeKey(polygons[i][k], polygons[i][(k + 1) % 3])];
            if (e.count++ == 0) {
                e.first = i;
            } else {
                parts.join(i, e.first);
            }
        }
    }
    std::vector<char> open(n, 0);
    for (const auto& [key, e] : edges) {
        if (e.count != 2) {
            open[parts.find(e.first)] = 1;  // a border (or an edge of more than two)
        }
    }
    // Per part: the enclosed volume (closed parts) and the area wound as the file wound it.
    std::vector<double> volume(n, 0.0);
    std::vector<double> keptArea(n, 0.0);
    std::vector<char> turned(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t part = parts.find(i);
        const Vec after = areaVector(points, polygons[i]);
        turned[i] = dot(after, before[i]) < 0.0 ? 1 : 0;
        const double area = std::sqrt(dot(after, after));
        keptArea[part] += turned[i] != 0 ? -area : area;
        const Point& p = points[polygons[i][0]];
        volume[part] += dot({p.x(), p.y(), p.z()}, after);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t part = parts.find(i);
        if (part == i) {
            ++report.parts;
            report.closedParts += open[i] == 0 ? 1 : 0;
        }
        // A closed part winds outward; an open one as most of its area was wound.
        const bool reverse = open[part] == 0 ? volume[part] < 0.0 : keptArea[part] < 0.0;
        const bool flip = (turned[i] != 0) != reverse;
        TriangleMesh& mesh = scene.meshes[source[i].first];
        const std::size_t t = source[i].second;
        if (flip) {
            std::swap(mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]);
            ++report.turned;
        }
        mesh.openFaces[t] = open[part];
    }
    return report;
}

}  // namespace strata::maker
