// Photographs with depth: a colour picture, a depth map of the same size and the pinhole camera
// that took both. A view is a surface: each square of four neighbouring pixels becomes two
// triangles, split along the diagonal whose ends lie nearer in depth, and a triangle is kept
// only when no depth edge crosses it (of any two of its corners, the farther is at most the edge
// ratio farther than the nearer). A pixel in no kept triangle stays a square of its own size.
// Those surfaces, of one view or several, are carried into any camera's grid and fused into
// layers there (view_fusion.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector.h"
#include "maker/layer_source.h"
#include "maker/pinhole_camera.h"
#include "maker/view_fusion.h"

namespace strata::maker {

// A neighbour more than this share farther than a pixel lies across a depth edge from it.
inline constexpr float kDefaultEdgeRatio = 0.05f;

// The camera of a photograph. Pixel (u, v), u along the columns from the left and v down the
// rows from the top, pixel centres on whole numbers, sees along
// dir + ((u - cx) / fx) side + ((cy - v) / fy) up from pos, with side = dir x up.
struct PhotoCamera {
    geometry::Vector3 pos{0.0f, 0.0f, 0.0f};
    geometry::Vector3 dir{0.0f, 0.0f, -1.0f};
    geometry::Vector3 up{0.0f, 1.0f, 0.0f};
    double fx = 1.0;  // focal lengths in pixels
    double fy = 1.0;
    double cx = 0.0;  // principal point in pixels
    double cy = 0.0;
    float fov = 0.0f;  // the field of view it was made from (photoCameraFromFov), else 0
};

// The camera of a width x height picture seen as `strata trace` sees it: a normalised pinhole's
// field of view across the picture's smaller side, square pixels, centred.
PhotoCamera photoCameraFromFov(const PinholeCamera& camera, std::int32_t width,
                               std::int32_t height);

// Makes dir unit and up unit and perpendicular to it. False, with a message, when they are zero,
// parallel or not finite, or fx, fy are not positive finite numbers, or cx, cy not finite.
bool normalizePhotoCamera(PhotoCamera& camera, std::string& error);

// The maker's camera at the same eye, looking the same way, whose square field of view takes in
// the whole picture; for a camera made from a field of view on a square picture, that very one.
PinholeCamera coveringCamera(const PhotoCamera& camera, std::int32_t width, std::int32_t height);

struct RgbdView {
    std::string name;  // the colour picture's file, for messages
    PhotoCamera camera;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, row 0 at the BOTTOM
    std::vector<float> depth;       // along dir, row 0 at the bottom; +infinity: none
};

// Reads a colour picture (PNG or JPEG) and a depth map (16-bit PNG or PFM, see
// imageutil/depth_image.h) taken by a normalised camera. False, with one line naming the file
// and the problem, when either does not read or their sizes differ; `view` is then unchanged.
bool loadRgbdView(const std::string& colourPath, const std::string& depthPath, double depthScale,
                  const PhotoCamera& camera, RgbdView& view, std::string& error);

// One or more views as a source of layers: every view's surface carried into the grid asked for
// and fused there.
class RgbdViewSource final : public LayerSource {
  public:
    RgbdViewSource(std::vector<RgbdView> views, float edgeRatio, const FusionOptions& fusion);

    // The box around every pixel with a depth.
    Bounds bounds() const override { return bounds_; }
    bool sample(const PinholeCamera& camera, const SampleOptions& options, LayeredImage& out,
                std::string& error) const override;

    const std::vector<RgbdView>& views() const { return views_; }

  private:
    std::vector<RgbdView> views_;
    float edgeRatio_;
    FusionOptions fusion_;
    Bounds bounds_;
};

}  // namespace strata::maker
