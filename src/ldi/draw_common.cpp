// The drawing entry points shared by every LDI kind: the visible source rectangle, then Draw.
#include "imageutil/rgb_image.h"
#include "ldi/ldi_base.h"

namespace strata::ldi {

LdiDrawStats LdiBase::DrawVisible(const geometry::Matrix4& warpMatrix,
                                  const geometry::Matrix4& viewMatrix,
                                  const geometry::ViewCamera& outputCamera,
                                  imageutil::RgbImage& frame, float* depthBuffer) {
    IntRange xRange{0, header.width};
    IntRange yRange{0, header.height};
    if (options.frustumClipper != 0) {
        const mesh::VisibleRect rect = visibleRect.update(outputCamera);
        xRange = {rect.x0, rect.x1};
        yRange = {rect.y0, rect.y1};
    }
    return Draw(warpMatrix, viewMatrix, outputCamera, frame, depthBuffer, xRange, yRange);
}

LdiDrawStats LdiBase::DrawAll(const geometry::Matrix4& warpMatrix,
                              const geometry::Matrix4& viewMatrix,
                              const geometry::ViewCamera& outputCamera,
                              imageutil::RgbImage& frame) {
    return DrawVisible(warpMatrix, viewMatrix, outputCamera, frame, nullptr);
}

}  // namespace strata::ldi
