// Warped drawing of the MRQP kinds (placeholder: draws nothing yet).
#include "imageutil/rgb_image.h"
#include "ldi/ldi_rt_mrqp.h"

namespace strata::ldi {

LdiDrawStats LdiRtMrqp::Draw(const geometry::Matrix4& /*warpMatrix*/,
                             const geometry::Matrix4& /*viewMatrix*/,
                             const geometry::ViewCamera& outputCamera,
                             imageutil::RgbImage& /*frame*/, float* /*depthBuffer*/,
                             IntRange /*xRange*/, IntRange /*yRange*/) {
    outputView = outputCamera;
    drawStats.reset();
    return drawStats;
}

}  // namespace strata::ldi
