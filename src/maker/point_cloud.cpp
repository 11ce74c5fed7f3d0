#include "maker/point_cloud.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "maker/ply_face_colours.h"
#include "maker/ply_format.h"
#include "maker/row_runner.h"
#include "maker/shading.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

// Points carried by one piece of work.
constexpr std::size_t kPointsPerJob = 16384;
// A neighbour farther from a point's tangent plane than this share of its distance lies on
// another surface.
constexpr float kOffPlane = 0.3f;
// A neighbour within 20 degrees of the direction of a nearer one is left out of the shape.
constexpr float kShadowCosine = 0.94f;

const ply::Element* findElement(const ply::Header& header, std::string_view name) {
    for (const ply::Element& element : header.elements) {
        if (element.name == name) {
            return &element;
        }
    }
    return nullptr;
}

bool hasProperty(const ply::Element& element, std::string_view name) {
    return std::any_of(element.properties.begin(), element.properties.end(),
                       [name](const ply::Property& p) { return !p.list && p.name == name; });
}

// What a vertex property holds.
enum class Field { none, x, y, z, nx, ny, nz, red, green, blue };

Field fieldOf(const ply::Property& property) {
    if (property.list) {
        return Field::none;
    }
    static constexpr std::array<std::pair<std::string_view, Field>, 6> kAxes{{{"x", Field::x},
                                                                              {"y", Field::y},
                                                                              {"z", Field::z},
                                                                              {"nx", Field::nx},
                                                                              {"ny", Field::ny},
                                                                              {"nz", Field::nz}}};
    for (const auto& [name, field] : kAxes) {
        if (property.name == name) {
            return field;
        }
    }
    int channel = 0;
    if (ply::isColourName(property.name, channel)) {
        return static_cast<Field>(static_cast<int>(Field::red) + channel);
    }
    return Field::none;
}

bool readVertices(const std::vector<std::uint8_t>& bytes, const ply::Header& header,
                  PointCloud& cloud, std::string& error) {
    ply::ValueReader reader(bytes, header.bodyStart, header.format);
    for (const ply::Element& element : header.elements) {
        const bool vertices = element.name == "vertex";
        std::vector<Field> fields;
        for (const ply::Property& property : element.properties) {
            fields.push_back(vertices ? fieldOf(property) : Field::none);
        }
        if (vertices) {
            cloud.points.reserve(static_cast<std::size_t>(element.count));
        }
        for (std::int64_t item = 0; item < element.count; ++item) {
            double values[10] = {0, 0, 0, 0, 0, 0, 255, 255, 255, 0};
            float colourScale[3] = {255.0f, 255.0f, 255.0f};
            for (std::size_t k = 0; k < element.properties.size(); ++k) {
                const ply::Property& property = element.properties[k];
                double value = 0.0;
                if (property.list) {
                    double count = 0.0;
                    if (!reader.read(property.countType, count) || count < 0.0 ||
                        count != std::floor(count)) {
                        error = platform::formatString("%s %lld: a list length is malformed",
                                                       element.name.c_str(),
                                                       static_cast<long long>(item));
                        return false;
                    }
                    for (double i = 0; i < count; ++i) {
                        if (!reader.read(property.type, value)) {
                            error = platform::formatString(
                                "%s %lld: a value is missing or malformed", element.name.c_str(),
                                static_cast<long long>(item));
                            return false;
                        }
                    }
                    continue;
                }
                if (!reader.read(property.type, value)) {
                    error =
                        platform::formatString("%s %lld: a value is missing or malformed",
                                               element.name.c_str(), static_cast<long long>(item));
                    return false;
                }
                const Field field = fields[k];
                if (field != Field::none) {
                    const int slot = static_cast<int>(field) - 1;
                    values[slot] = value;
                    if (field >= Field::red) {
                        colourScale[slot - 6] = ply::colourScale(property.type);
                    }
                }
            }
            if (!vertices) {
                continue;
            }
            CloudPoint point;
            point.position = {static_cast<float>(values[0]), static_cast<float>(values[1]),
                              static_cast<float>(values[2])};
            if (!std::isfinite(point.position.x) || !std::isfinite(point.position.y) ||
                !std::isfinite(point.position.z)) {
                error = platform::formatString("vertex %lld: the position is not a finite float",
                                               static_cast<long long>(item));
                return false;
            }
            const Vector3 normal{static_cast<float>(values[3]), static_cast<float>(values[4]),
                                 static_cast<float>(values[5])};
            const float length = normal.length();
            if (cloud.normals && length > 1e-6f && std::isfinite(length)) {
                point.normal = normal * (1.0f / length);
            }
            std::uint32_t colour = 0;
            for (int c = 0; c < 3; ++c) {
                const double v = std::clamp(values[6 + c] / colourScale[c], 0.0, 1.0);
                colour = colour << 8 | static_cast<std::uint32_t>(std::lround(v * 255.0));
            }
            point.colour = cloud.colours ? colour : packPixel(kLightGrey);
            cloud.bounds.add(point.position);
            cloud.points.push_back(point);
        }
    }
    return true;
}

// nanoflann's view of the cloud's positions.
struct CloudAdaptor {
    const std::vector<CloudPoint>& points;

    std::size_t kdtree_get_point_count() const { return points.size(); }
    float kdtree_get_pt(std::size_t index, std::size_t axis) const {
        const Vector3& p = points[index].position;
        return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

using CloudTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, CloudAdaptor>,
                                        CloudAdaptor, 3, std::uint32_t>;

// The unit eigenvector of the smallest eigenvalue of a symmetric 3 x 3 matrix (cyclic Jacobi),
// or zero when the matrix has no single smallest direction worth the name.
Vector3 leastDirection(std::array<std::array<double, 3>, 3> a) {
    std::array<std::array<double, 3>, 3> v{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (int sweep = 0; sweep < 16; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (!(off > 1e-30)) {
            break;
        }
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) {
                    continue;
                }
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double akp = a[k][p];
                    const double akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k];
                    const double aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = v[k][p];
                    const double vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    int least = 0;
    for (int k = 1; k < 3; ++k) {
        if (a[k][k] < a[least][least]) {
            least = k;
        }
    }
    // A line or a single point has no plane: the two smallest spreads must differ.
    const double middle =
        a[0][0] + a[1][1] + a[2][2] - a[least][least] - std::max({a[0][0], a[1][1], a[2][2]});
    if (!(middle > 4.0 * std::max(a[least][least], 0.0)) || !(middle > 0.0)) {
        return {};
    }
    const Vector3 n{static_cast<float>(v[0][least]), static_cast<float>(v[1][least]),
                    static_cast<float>(v[2][least])};
    return geometry::normalized(n);
}

}  // namespace

void tangentBasis(const Vector3& normal, Vector3& across, Vector3& along) {
    const Vector3 axis =
        std::fabs(normal.x) <= std::fabs(normal.y) && std::fabs(normal.x) <= std::fabs(normal.z)
            ? Vector3{1, 0, 0}
        : std::fabs(normal.y) <= std::fabs(normal.z) ? Vector3{0, 1, 0}
                                                     : Vector3{0, 0, 1};
    across = geometry::normalized(geometry::cross(normal, axis));
    along = geometry::cross(normal, across);
}

bool isPointCloudFile(const std::string& path) {
    ply::Header header;
    std::string problem;
    if (ply::readHeader(path, header, problem) != ply::HeaderRead::read) {
        return false;
    }
    const ply::Element* vertices = findElement(header, "vertex");
    const ply::Element* faces = findElement(header, "face");
    return vertices != nullptr && (faces == nullptr || faces->count == 0);
}

namespace {

// The vertex element of a cloud's header, or why there is none fit to read.
const ply::Element* cloudVertices(const ply::Header& header, std::string& problem) {
    const ply::Element* vertices = findElement(header, "vertex");
    if (vertices == nullptr || !hasProperty(*vertices, "x") || !hasProperty(*vertices, "y") ||
        !hasProperty(*vertices, "z")) {
        problem = "no vertex element with x, y and z";
        return nullptr;
    }
    if (vertices->count == 0) {
        problem = "the cloud holds no points";
        return nullptr;
    }
    if (vertices->count > kMaxCloudPoints) {
        problem = platform::formatString("%lld points are more than the %lld a cloud may hold",
                                         static_cast<long long>(vertices->count),
                                         static_cast<long long>(kMaxCloudPoints));
        return nullptr;
    }
    return vertices;
}

// The header of a PLY file read, or why there is none.
bool cloudHeader(ply::HeaderRead read, const std::string& problem, std::string& why) {
    switch (read) {
        case ply::HeaderRead::notPly:
            why = "not a PLY file";
            return false;
        case ply::HeaderRead::malformed:
            why = problem;
            return false;
        case ply::HeaderRead::read:
            break;
    }
    return true;
}

}  // namespace

bool readPointCloud(const std::string& path, PointCloud& cloud, std::string& error, int threads) {
    // The header alone first: a count the limits refuse reads no more of the file.
    ply::Header header;
    std::string problem;
    std::string why;
    if (!cloudHeader(ply::readHeader(path, header, problem), problem, why) ||
        cloudVertices(header, why) == nullptr) {
        error = path + ": " + why;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!platform::readWholeFile(path, bytes, problem, static_cast<std::uint64_t>(kMaxPlyBytes))) {
        error = path + ": " + problem;
        return false;
    }
    return decodePointCloud(path, std::move(bytes), cloud, error, threads);
}

bool decodePointCloud(const std::string& name, std::vector<std::uint8_t> bytes, PointCloud& cloud,
                      std::string& error, int threads) {
    ply::Header header;
    std::string problem;
    std::string why;
    const ply::Element* vertices = nullptr;
    if (!cloudHeader(ply::headerOf(bytes, header, problem), problem, why) ||
        (vertices = cloudVertices(header, why)) == nullptr ||
        !ply::checkElementCounts(bytes, header, why)) {
        error = name + ": " + why;
        return false;
    }
    PointCloud read;
    int channel = 0;
    for (const ply::Property& property : vertices->properties) {
        read.colours =
            read.colours || (!property.list && ply::isColourName(property.name, channel));
    }
    read.normals = hasProperty(*vertices, "nx") && hasProperty(*vertices, "ny") &&
                   hasProperty(*vertices, "nz");
    if (!readVertices(bytes, header, read, problem)) {
        error = name + ": " + problem;
        return false;
    }
    std::vector<std::uint8_t>().swap(bytes);  // the file's bytes go before the neighbours come
    completePointCloud(read, threads);
    cloud = std::move(read);
    return true;
}

void completePointCloud(PointCloud& cloud, int threads) {
    std::vector<CloudPoint>& points = cloud.points;
    if (points.size() < 2) {
        for (CloudPoint& p : points) {
            p.radius = 1e-3f;
        }
        return;
    }
    const CloudAdaptor adaptor{points};
    const CloudTree tree(3, adaptor, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    const std::size_t wanted = std::min<std::size_t>(kNormalNeighbours, points.size());
    const auto jobs = static_cast<int>((points.size() + kPointsPerJob - 1) / kPointsPerJob);
    runRows(
        jobs, threads,
        [&](int job) {
            std::array<std::uint32_t, kNormalNeighbours> index{};
            std::array<float, kNormalNeighbours> distance2{};
            const std::size_t begin = static_cast<std::size_t>(job) * kPointsPerJob;
            const std::size_t end = std::min(points.size(), begin + kPointsPerJob);
            for (std::size_t i = begin; i < end; ++i) {
                CloudPoint& point = points[i];
                const float query[3] = {point.position.x, point.position.y, point.position.z};
                const std::size_t found =
                    tree.knnSearch(query, wanted, index.data(), distance2.data());
                // The query point itself is the nearest (distance 0): the spacing neighbour is
                // the one after it.
                const std::size_t spacing = std::min<std::size_t>(kSpacingNeighbour, found - 1);
                point.radius = kFootprintShare * std::sqrt(distance2[spacing]);
                if (point.normal.squaredLength() < 0.5f && found >= 3) {
                    Vector3 mean;
                    for (std::size_t k = 0; k < found; ++k) {
                        mean.add(points[index[k]].position);
                    }
                    mean = mean * (1.0f / static_cast<float>(found));
                    std::array<std::array<double, 3>, 3> covariance{};
                    for (std::size_t k = 0; k < found; ++k) {
                        const Vector3 d = points[index[k]].position - mean;
                        const double c[3] = {d.x, d.y, d.z};
                        for (int r = 0; r < 3; ++r) {
                            for (int q = 0; q < 3; ++q) {
                                covariance[r][q] += c[r] * c[q];
                            }
                        }
                    }
                    point.normal = leastDirection(covariance);
                    point.estimated = true;
                }
                if (point.normal.squaredLength() < 0.5f || !(point.radius > 0.0f)) {
                    continue;
                }
                // The neighbours in the tangent plane, as shares of a little over twice the
                // radius: no footprint reaches farther than half-way to one that far.
                Vector3 across;
                Vector3 along;
                tangentBasis(point.normal, across, along);
                point.shapeScale = 2.2f * point.radius;
                const float unit = 127.0f / point.shapeScale;
                // Nearest first; a neighbour in nearly the direction of a nearer one adds
                // nothing inside the cloud, and at its edge would bulge the footprint outward.
                std::array<float, 2 * kNormalNeighbours> kept{};
                std::size_t keptCount = 0;
                for (std::size_t k = 1; k < found; ++k) {
                    const Vector3 d = points[index[k]].position - point.position;
                    const float length = d.length();
                    // Only neighbours near the plane: another surface close by (a floor under
                    // a box) does not stretch this one toward it.
                    if (!(length > 0.0f) ||
                        std::fabs(geometry::dot(d, point.normal)) > kOffPlane * length) {
                        continue;
                    }
                    const float a = geometry::dot(d, across) / length;
                    const float b = geometry::dot(d, along) / length;
                    bool shadowed = false;
                    for (std::size_t j = 0; j < keptCount; ++j) {
                        shadowed =
                            shadowed || a * kept[2 * j] + b * kept[2 * j + 1] > kShadowCosine;
                    }
                    if (shadowed) {
                        continue;
                    }
                    kept[2 * keptCount] = a;
                    kept[2 * keptCount + 1] = b;
                    const auto quantise = [unit](float v) {
                        return static_cast<std::int8_t>(
                            std::clamp(std::lround(v * unit), -127L, 127L));
                    };
                    point.neighbours[2 * keptCount] = quantise(a * length);
                    point.neighbours[2 * keptCount + 1] = quantise(b * length);
                    ++keptCount;
                }
            }
        },
        nullptr);
    // Bound the footprints by the cloud's median, which also stands in for a point whose
    // neighbours all lie on it.
    std::vector<float> radii;
    radii.reserve(points.size());
    for (const CloudPoint& p : points) {
        if (p.radius > 0.0f) {
            radii.push_back(p.radius);
        }
    }
    float median = 1e-3f * std::max(cloud.bounds.radius(), 1e-6f);
    if (!radii.empty()) {
        std::nth_element(radii.begin(),
                         radii.begin() + static_cast<std::ptrdiff_t>(radii.size() / 2),
                         radii.end());
        median = radii[radii.size() / 2];
    }
    for (CloudPoint& p : points) {
        p.radius = p.radius > 0.0f ? std::min(p.radius, kMaxFootprintOfMedian * median) : median;
    }
}

PointCloudSource::PointCloudSource(PointCloud cloud, const FusionOptions& fusion)
    : cloud_(std::move(cloud)), fusion_(fusion) {}

bool PointCloudSource::sample(const PinholeCamera& camera, const SampleOptions& options,
                              LayeredImage& out, std::string& error) const {
    const std::vector<CloudPoint>& points = cloud_.points;
    const auto jobs = static_cast<int>((points.size() + kPointsPerJob - 1) / kPointsPerJob);
    return carryAndFuse(
        camera, options, fusion_, jobs, static_cast<std::int64_t>(points.size()),
        [&](int job, FragmentSink& sink) {
            const std::size_t begin = static_cast<std::size_t>(job) * kPointsPerJob;
            const std::size_t end = std::min(points.size(), begin + kPointsPerJob);
            for (std::size_t i = begin; i < end; ++i) {
                const CloudPoint& point = points[i];
                Vector3 normal = point.normal;
                // An estimated normal has no known sign: it faces this camera.
                if (point.estimated && geometry::dot(normal, camera.pos - point.position) < 0.0f) {
                    normal = -normal;
                }
                FootprintShape shape;
                if (point.shapeScale > 0.0f) {
                    tangentBasis(point.normal, shape.across, shape.along);
                    shape.offsets = point.neighbours;
                    shape.scale = point.shapeScale;
                }
                sink.disc(point.position, normal, point.radius, point.colour, 1.0f,
                          point.shapeScale > 0.0f ? &shape : nullptr);
            }
        },
        out, error);
}

}  // namespace strata::maker
