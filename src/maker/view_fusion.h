// Fusing depth data into the layers of one camera's grid. Surfaces from photographs with depth
// (triangles between neighbouring pixels, squares for pixels joined to none) and from point
// clouds (discs in each point's tangent plane) are carried into the grid as fragments: one per
// pixel centre a piece covers, with its depth along the camera's viewing direction, its colour
// and normal, and a weight saying how squarely the piece was seen. The fragments of a pixel, taken
// nearest first, are one surface while each lies within a share of its depth (the tolerance) of
// the surface's mean depth, or within the reach of a point's footprint; each surface becomes one
// layer (depth, colour in linear light and normal averaged by weight), the nearest kept up to the
// layer limit.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/layered_image.h"
#include "maker/pinhole_camera.h"
#include "maker/shading.h"

namespace strata::maker {

// Samples of one pixel whose depths lie within this share of each other are one surface.
inline constexpr float kDefaultDepthTolerance = 0.05f;
// The least weight of a fragment, so a surface seen only edge-on still has a colour.
inline constexpr float kMinFragmentWeight = 0.05f;

struct FusionOptions {
    float depthTolerance = kDefaultDepthTolerance;
    // Applied to each fused layer with its normal; unlit keeps the colours as captured.
    ShadingOptions shading{ShadingMode::unlit};
};

// The grid of a normalised camera: world points into pixel coordinates (x along the columns, y
// up the rows, pixel centres at k + 0.5) and rays through them, as rayFrame casts them.
class GridView {
  public:
    GridView(const PinholeCamera& camera, std::int32_t width, std::int32_t height);

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    const PinholeCamera& camera() const { return camera_; }
    // Pixels per unit of tangent (x / depth) across the columns and up the rows.
    double scaleX() const { return scaleX_; }
    double scaleY() const { return scaleY_; }

    // False when p lies at or behind the eye plane; else its pixel coordinates and its depth
    // along the viewing direction.
    bool project(const geometry::Vector3& p, double& x, double& y, double& depth) const;
    // The ray through pixel coordinates (x, y), with a component of 1 along the viewing direction.
    geometry::Vector3 ray(double x, double y) const;

  private:
    PinholeCamera camera_;
    geometry::Vector3 side_;
    std::int32_t width_;
    std::int32_t height_;
    double scaleX_;
    double scaleY_;
};

struct Fragment {
    std::uint32_t pixel = 0;  // row * width + column
    float depth = 0.0f;
    float weight = 0.0f;
    std::uint32_t colour = 0;  // 0x00RRGGBB
    geometry::Vector3 normal;  // unit, toward the side the surface was seen from
    float reach = 0.0f;        // depths this close are the same surface whatever the tolerance
};

// A corner of a triangle carried into the grid: pixel coordinates, depth and colour channels
// (0..255).
struct SplatCorner {
    double x = 0.0;
    double y = 0.0;
    double depth = 0.0;
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
};

// Where a point's neighbours lie in its tangent plane. A footprint with a shape reaches in each
// direction at most half-way (and a tenth) to the neighbour lying farthest that way, so it closes
// the gaps between points without widening the cloud where it ends.
struct FootprintShape {
    geometry::Vector3 across;  // unit vectors spanning the tangent plane
    geometry::Vector3 along;
    std::span<const std::int8_t> offsets;  // (across, along) pairs, 127 = `scale`
    float scale = 0.0f;
};

// Collects the fragments of one piece of work (a band of a picture's rows, a run of points). A
// camera with near and far set drops fragments outside them and counts them.
class FragmentSink {
  public:
    explicit FragmentSink(const GridView& grid);

    const GridView& grid() const { return grid_; }

    // Every pixel centre inside the triangle or on its edges (within a thousandth of a pixel)
    // but not on a corner (the caller gives a corner on a centre its own fragment, once), with
    // depth and colour interpolated perspective-correctly. Triangles with a corner at or behind
    // the eye plane are left out.
    // An edge another drawn triangle shares (bit k of sharedEdges: the edge opposite corner k,
    // a = 0, b = 1, c = 2) gives a centre exactly on it to one of the two only, so no surface
    // counts twice there.
    void triangle(const SplatCorner& a, const SplatCorner& b, const SplatCorner& c,
                  const geometry::Vector3& normal, float weight, unsigned sharedEdges = 0);
    // The pixel centres within halfX, halfY of (x, y), and always the pixel holding (x, y).
    void square(double x, double y, double depth, double halfX, double halfY, std::uint32_t colour,
                const geometry::Vector3& normal, float weight);
    // The disc of the given radius about a world point in the plane of its unit normal (without
    // a normal: the disc facing the camera), and always the pixel holding the point; depths where
    // the rays meet the plane. Its fragments reach twice the radius: samples of points whose
    // footprints overlap are one surface. Their weight falls off as exp(-8 s^2) with s the
    // offset from the centre as a share of the radius. A shape bounds the disc further.
    void disc(const geometry::Vector3& centre, const geometry::Vector3& normal, float radius,
              std::uint32_t colour, float weight, const FootprintShape* shape = nullptr);

    std::vector<Fragment> fragments;
    std::int64_t outside = 0;  // fragments before near or beyond far

  private:
    void add(std::int32_t column, std::int32_t row, double depth, std::uint32_t colour,
             const geometry::Vector3& normal, float weight);

    const GridView& grid_;
    float near_;
    float far_;
    float reach_ = 0.0f;
};

// Carries `pieces` pieces of work into the grid of camera (options' size), each into a sink of
// its own (on options.threads threads, with options.progress), then fuses their fragments as
// fuseFragments does; the time taken goes to out.stats.seconds. False (error set) for options
// out of range or more samples than one LDI holds.
bool carryAndFuse(const PinholeCamera& camera, const SampleOptions& options,
                  const FusionOptions& fusion, int pieces, std::int64_t sourceItems,
                  const std::function<void(int piece, FragmentSink& sink)>& carry,
                  LayeredImage& out, std::string& error);

// The layered image of the grid from the fragments of every sink (emptied on the way), sampled
// for options (maxLayers, coverage: full masks with the layer colour on every sub-cell;
// progress). sourceItems is reported as the image's rays (pixels or points carried). False with
// error set when the samples are more than one LDI holds.
bool fuseFragments(std::vector<FragmentSink>& sinks, const GridView& grid,
                   const SampleOptions& options, const FusionOptions& fusion,
                   std::int64_t sourceItems, LayeredImage& out, std::string& error);

}  // namespace strata::maker
