#include "maker/trace_image.h"

#include <limits>

#include "platform/debug_output.h"

namespace strata::maker {

bool traceImage(const RayCaster& caster, const PinholeCamera& camera, const TraceOptions& options,
                std::vector<std::uint32_t>& pixels, std::string& error,
                std::vector<float>* depths) {
    if (options.width < 1 || options.height < 1 || options.width > 16384 ||
        options.height > 16384) {
        error = platform::formatString("image size %dx%d out of range (1..16384 a side)",
                                       options.width, options.height);
        return false;
    }
    const geometry::ImagePlaneFrame frame = pictureRayFrame(camera, options.width, options.height);
    float tNear = 0.0f;
    float tFar = 0.0f;
    castRange(camera, caster.scene(), tNear, tFar);
    const auto width = static_cast<std::size_t>(options.width);
    pixels.assign(width * static_cast<std::size_t>(options.height), options.background);
    if (depths != nullptr) {
        depths->assign(pixels.size(), std::numeric_limits<float>::infinity());
    }
    runRows(
        options.height, options.threads,
        [&](int row) {
            SurfaceHit hit;
            for (int column = 0; column < options.width; ++column) {
                if (!caster.nearest(
                        camera.pos,
                        frame.pixelRay(static_cast<float>(row), static_cast<float>(column)), tNear,
                        tFar, hit)) {
                    continue;
                }
                const std::size_t at =
                    static_cast<std::size_t>(row) * width + static_cast<std::size_t>(column);
                if (depths != nullptr) {
                    // Every pixel ray has a component of exactly 1 along dir.
                    (*depths)[at] = hit.t;
                }
                const Scene& scene = caster.scene();
                const geometry::Vector3 normal =
                    surfaceNormal(scene, hit.mesh, hit.triangle, hit.u, hit.v);
                const Colour colour =
                    surfaceColour(scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
                pixels[at] = packPixel(shade(colour, normal, options.shading));
            }
        },
        options.progress);
    return true;
}

}  // namespace strata::maker
