// Point clouds: PLY files of vertices without faces, with colours and normals where the file
// has them. Each point is carried into a grid as a disc in its tangent plane whose radius comes
// from the local point spacing: three quarters of the distance to its fourth-nearest neighbour
// (on a regular grid of spacing s that is 0.75 s, more than the s / sqrt 2 that closes the gaps
// and less than the s that would reach over the next point), at most eight times the cloud's
// median, and reaching in each direction at most half-way (projected) to its nearest neighbours
// lying that way (among its ten nearest, in its tangent plane), so that the edge of a cloud is
// not widened. A normal the file lacks
// is the normal of the plane of least squares through those neighbours (found with a nanoflann
// kd-tree), turned toward the camera of each grid it is carried into.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/layer_source.h"
#include "maker/view_fusion.h"

namespace strata::maker {

// Most points a cloud may hold.
inline constexpr std::int64_t kMaxCloudPoints = std::int64_t{1} << 26;
// Neighbours that give a point's spacing (the k-th nearest) and its estimated normal.
inline constexpr int kSpacingNeighbour = 4;
inline constexpr int kNormalNeighbours = 10;
// The footprint radius as a share of the spacing neighbour's distance, and its bound as a
// multiple of the cloud's median radius.
inline constexpr float kFootprintShare = 0.75f;
inline constexpr float kMaxFootprintOfMedian = 8.0f;

struct CloudPoint {
    geometry::Vector3 position;
    geometry::Vector3 normal;  // unit; zero when neither the file nor the neighbours give one
    std::uint32_t colour = 0;  // 0x00RRGGBB
    float radius = 0.0f;       // footprint in the tangent plane
    bool estimated = false;    // the normal was estimated (its sign is not known)
    // The nearest neighbours' offsets in the tangent plane (tangentBasis of the normal), pairs
    // of shares of shapeScale times 127: they shape the footprint (FootprintShape).
    std::array<std::int8_t, 2 * kNormalNeighbours> neighbours{};
    float shapeScale = 0.0f;  // 0: no shape
};

// Two unit vectors spanning the plane of a unit normal, the same for n and -n up to the sign of
// the first.
void tangentBasis(const geometry::Vector3& normal, geometry::Vector3& across,
                  geometry::Vector3& along);

struct PointCloud {
    std::vector<CloudPoint> points;
    bool colours = false;  // the file gave colours (else every point is light grey)
    bool normals = false;  // the file gave normals
    Bounds bounds;
};

// True when path is a PLY file whose header declares a vertex element and no faces (no face
// element, or one of no items): a point cloud rather than a mesh.
bool isPointCloudFile(const std::string& path);

// Reads the vertices (x, y, z; red, green, blue in any PLY colour naming and type; nx, ny, nz),
// ASCII or binary, skipping other elements. False with one line naming path and the problem when
// the file is damaged, holds no points or more than kMaxCloudPoints, or a position is not a
// finite float. Footprints and missing normals are then filled in (threads workers).
bool readPointCloud(const std::string& path, PointCloud& cloud, std::string& error,
                    int threads = 1);
// The same on file contents in memory (name names them in messages).
bool decodePointCloud(const std::string& name, std::vector<std::uint8_t> bytes, PointCloud& cloud,
                      std::string& error, int threads = 1);

// Gives every point its footprint radius and every point without a normal one estimated from its
// neighbours (see above). A cloud of one point gets a radius of a thousandth of 1.
void completePointCloud(PointCloud& cloud, int threads);

class PointCloudSource final : public LayerSource {
  public:
    PointCloudSource(PointCloud cloud, const FusionOptions& fusion);

    Bounds bounds() const override { return cloud_.bounds; }
    bool sample(const PinholeCamera& camera, const SampleOptions& options, LayeredImage& out,
                std::string& error) const override;

  private:
    PointCloud cloud_;
    FusionOptions fusion_;
};

}  // namespace strata::maker
