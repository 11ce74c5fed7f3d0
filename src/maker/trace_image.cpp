#include "maker/trace_image.h"

#include "platform/debug_output.h"

namespace strata::maker {

bool traceImage(const RayCaster& caster, const PinholeCamera& camera, const TraceOptions& options,
                std::vector<std::uint32_t>& pixels, std::string& error) {
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
                const Scene& scene = caster.scene();
                const geometry::Vector3 normal =
                    surfaceNormal(scene, hit.mesh, hit.triangle, hit.u, hit.v);
                const Colour colour =
                    surfaceColour(scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
                pixels[static_cast<std::size_t>(row) * width + static_cast<std::size_t>(column)] =
                    packPixel(shade(colour, normal, options.shading));
            }
        },
        options.progress);
    return true;
}

}  // namespace strata::maker
