#include "mesh/visible_rectangle.h"

#include <algorithm>
#include <cmath>

namespace strata::mesh {

namespace {

int buildVolume(Polyhedron& volume, const geometry::ViewCamera& camera) {
    return BuildFrustumPolyhedron(volume, camera.pos, camera.dir, camera.up,
                                  static_cast<double>(camera.fov), static_cast<double>(camera.near),
                                  static_cast<double>(camera.far));
}

}  // namespace

void VisibleRectangle::prepare(const geometry::ViewCamera& ldiCamera, std::int32_t width,
                               std::int32_t height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    ldiTransform_ = ldiCamera.fullTransform();
    if (buildVolume(volume_, ldiCamera) == 0) {
        FreePolyhedron(volume_);
    }
    rect_ = wholeLdi();
}

VisibleRect VisibleRectangle::update(const geometry::ViewCamera& viewCamera) {
    if (volume_.empty()) {
        rect_ = wholeLdi();
        return rect_;
    }
    Polyhedron view;
    if (buildVolume(view, viewCamera) == 0) {
        rect_ = wholeLdi();
        return rect_;
    }
    Polyhedron clipped;
    bool cut = false;
    const int kept = ClipByPolyhedron(volume_, view, &clipped, &cut);
    if (kept == -1) {
        rect_.visible = 0;  // nothing left; the ranges keep their previous values
        return rect_;
    }
    if (kept != 1 || !cut) {
        rect_ = wholeLdi();
        return rect_;
    }

    double xmin = 1e6, ymin = 1e6, xmax = -1e6, ymax = -1e6;
    for (const MeshVertex& v : clipped.vertices) {
        const geometry::Vector4 p =
            geometry::transform(ldiTransform_, geometry::point(v.position()));
        const double x = static_cast<double>(p.x) / p.w;
        const double y = static_cast<double>(p.y) / p.w;
        if (!(p.w > 0.0f) || !std::isfinite(x) || !std::isfinite(y)) {
            // At or behind the LDI eye the projection is unbounded: keep the whole LDI.
            rect_ = wholeLdi();
            return rect_;
        }
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        ymin = std::min(ymin, y);
        ymax = std::max(ymax, y);
    }
    // Pixel centres sit on integers, so the pixel holding xmax is trunc(xmax + 1.5) and the
    // half-open range ends one past it. All four bounds are clamped in floating point before
    // converting, so every range stays inside the LDI whatever the clip produced.
    const double w = width_;
    const double h = height_;
    const double fx0 = std::clamp(xmin, 0.0, w);
    const double fx1 = std::clamp(xmax + 1.5, 0.0, w);
    const double fy0 = std::clamp(ymin, 0.0, h);
    const double fy1 = std::clamp(ymax + 1.5, 0.0, h);
    VisibleRect r;
    r.x0 = static_cast<std::int32_t>(fx0);
    r.x1 = static_cast<std::int32_t>(fx1);
    r.y0 = static_cast<std::int32_t>(fy0);
    r.y1 = static_cast<std::int32_t>(fy1);
    r.visible = r.x0 < r.x1 && r.y0 < r.y1 ? 1 : 0;
    rect_ = r;
    return rect_;
}

}  // namespace strata::mesh
