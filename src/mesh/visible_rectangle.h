// The visible rectangle of an LDI (the frustum clipper): the LDI camera's view volume is clipped
// by the output camera's view volume, and what is left, projected into the LDI image, bounds the
// columns and rows that can reach the output picture.
#pragma once

#include <cstdint>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "mesh/polyhedron.h"

namespace strata::mesh {

// Half-open column range [x0, x1) and row range [y0, y1) of the LDI; visible 0 means nothing of
// the LDI can be seen.
struct VisibleRect {
    std::int32_t visible = 1, x0 = 0, x1 = 0, y0 = 0, y1 = 0;

    friend bool operator==(const VisibleRect&, const VisibleRect&) = default;
};

class VisibleRectangle {  // value type, copyable
  public:
    // Builds the LDI's view volume from its reference camera (pos, dir, up, fov, near, far, taken
    // in double precision) and stores that camera's full transform; rect = whole LDI. A camera
    // whose volume cannot be built (degenerate frame or range) leaves no volume: update then
    // always reports the whole LDI. Negative sizes count as 0.
    void prepare(const geometry::ViewCamera& ldiCamera, std::int32_t width, std::int32_t height);

    // Clips against viewCamera's volume; returns {visible, x0, x1, y0, y1}, half-open ranges
    // always inside 0..width x 0..height. Nothing left: visible 0, ranges kept from before. The
    // volume left whole: the whole LDI. Cut: the columns and rows of the pixels that hold the
    // projected vertices of what is left (visible 0 when that rectangle is empty). Whenever the
    // answer cannot be narrowed safely (no volume, a degenerate view camera, a vertex at or behind
    // the LDI eye) it is the whole LDI.
    VisibleRect update(const geometry::ViewCamera& viewCamera);

    const VisibleRect& rect() const { return rect_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    // The LDI's view volume (empty before prepare or when it could not be built).
    const Polyhedron& volume() const { return volume_; }
    const geometry::Matrix4& ldiTransform() const { return ldiTransform_; }

  private:
    VisibleRect wholeLdi() const {
        return {width_ > 0 && height_ > 0 ? 1 : 0, 0, width_, 0, height_};
    }

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    VisibleRect rect_;
    Polyhedron volume_;
    geometry::Matrix4 ldiTransform_ = geometry::Matrix4::identity();
};

}  // namespace strata::mesh
