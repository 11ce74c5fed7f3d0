#include "mesh/visible_rectangle.h"

#include <algorithm>

namespace strata::mesh {

void VisibleRectangle::prepare(const geometry::ViewCamera& ldiCamera, std::int32_t width,
                               std::int32_t height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    ldiTransform_ = ldiCamera.fullTransform();
    volume_ = Polyhedron{};
    rect_ = wholeLdi();
}

VisibleRect VisibleRectangle::update(const geometry::ViewCamera& /*viewCamera*/) {
    rect_ = wholeLdi();
    return rect_;
}

}  // namespace strata::mesh
