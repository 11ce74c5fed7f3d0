#include "maker/pinhole_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "geometry/frame_tangents.h"
#include "geometry/matrix.h"
#include "render/camera_file.h"

namespace strata::maker {

using geometry::Vector3;

Vector3 PinholeCamera::side() const {
    return geometry::normalized(geometry::cross(dir, up));
}

bool normalizeCamera(PinholeCamera& camera, std::string& error) {
    if (!(camera.dir.squaredLength() > 0.0f) || !std::isfinite(camera.dir.squaredLength())) {
        error = "the viewing direction must be a non-zero vector";
        return false;
    }
    camera.dir = geometry::normalized(camera.dir);
    const Vector3 side = geometry::cross(camera.dir, camera.up);
    if (!(side.length() > 1e-6f * std::max(camera.up.length(), 1e-30f)) ||
        !std::isfinite(side.length())) {
        error = "the up vector must be non-zero and not parallel to the viewing direction";
        return false;
    }
    camera.up = geometry::normalized(geometry::cross(geometry::normalized(side), camera.dir));
    constexpr float kMinFov = render::kMinFovDegrees * 3.14159265f / 180.0f;
    constexpr float kMaxFov = kMaxFovDegrees * 3.14159265f / 180.0f;
    if (!(camera.fov >= kMinFov && camera.fov <= kMaxFov)) {
        error = "the field of view must lie in [0.01, 179] degrees";
        return false;
    }
    const Vector3& p = camera.pos;
    if (!(std::fabs(p.x) <= geometry::kMaxCameraCoordinate &&
          std::fabs(p.y) <= geometry::kMaxCameraCoordinate &&
          std::fabs(p.z) <= geometry::kMaxCameraCoordinate)) {
        error = "the camera position must lie within 1e12 of the origin on every axis";
        return false;
    }
    const bool nearGiven = camera.near != 0.0f;
    const bool farGiven = camera.far != 0.0f;
    if ((nearGiven && !(camera.near > 0.0f && std::isfinite(camera.near))) ||
        (farGiven && !(camera.far > 0.0f && std::isfinite(camera.far))) ||
        (nearGiven && farGiven && !(camera.near < camera.far))) {
        error = "near and far must be positive distances with near < far";
        return false;
    }
    return true;
}

std::string cameraReachProblem(const PinholeCamera& camera, const geometry::Vector3& centre,
                               float radius) {
    const double scale =
        std::max<double>({radius > 0.0f && std::isfinite(radius) ? double{radius} : 0.0,
                          1e-6 * geometry::Vector3(centre).length(), 1e-6});
    const geometry::Vector3 arm = camera.pos - centre;
    const double distance =
        std::sqrt(double{arm.x} * arm.x + double{arm.y} * arm.y + double{arm.z} * arm.z);
    if (distance <= double{kMaxCameraDistanceRadii} * scale) {
        return {};
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "the camera at (%g, %g, %g) is %g from the scene's centre, more than 1e6 times "
                  "its radius %g: the scene would be lost in the float precision",
                  camera.pos.x, camera.pos.y, camera.pos.z, distance, scale);
    return text;
}

PinholeCamera defaultCamera(const Bounds& bounds, float fovRadians, float elevationRadians) {
    PinholeCamera camera;
    camera.fov = fovRadians;
    const Vector3 centre = bounds.centre();
    const float radius = bounds.empty() || !(bounds.radius() > 0.0f) ? 1.0f : bounds.radius();
    const float distance = radius / std::sin(fovRadians * 0.5f);
    // On the +z side of the bounding sphere, raised by the elevation angle, looking at its centre.
    const float s = std::sin(elevationRadians);
    const float c = std::cos(elevationRadians);
    camera.pos = centre + Vector3{0.0f, distance * s, distance * c};
    camera.dir = {0.0f, -s, -c};
    camera.up = {0.0f, c, -s};
    return camera;
}

geometry::ImagePlaneFrame rayFrame(const PinholeCamera& camera, std::int32_t width,
                                   std::int32_t height) {
    geometry::ImagePlaneFrame frame;
    frame.build(camera.pos, camera.dir, camera.up, camera.side(), 1.0f, std::tan(camera.fov * 0.5f),
                width, height);
    frame.centreOnPixels();
    return frame;
}

geometry::ImagePlaneFrame pictureRayFrame(const PinholeCamera& camera, std::int32_t width,
                                          std::int32_t height) {
    const geometry::FrameTangents t = geometry::frameTangents(camera.fov, width, height);
    geometry::ImagePlaneFrame frame;
    frame.build(camera.pos, camera.dir, camera.up, camera.side(), 1.0f, t.x, t.y, width, height);
    frame.centreOnPixels();
    return frame;
}

Vector3 rayThrough(const geometry::ImagePlaneFrame& frame, float x, float y) {
    return frame.pixelRay(y - 0.5f, x - 0.5f);
}

geometry::Matrix4 pixelEdgeViewport(std::int32_t width, std::int32_t height) {
    geometry::Matrix4 m;
    m(0, 0) = static_cast<float>(width) * 0.5f;
    m(0, 3) = static_cast<float>(width) * 0.5f;
    m(1, 1) = static_cast<float>(height) * 0.5f;
    m(1, 3) = static_cast<float>(height) * 0.5f;
    m(2, 2) = 1.0f;
    m(3, 3) = 1.0f;
    return m;
}

geometry::ViewCamera referenceView(const PinholeCamera& camera, std::int32_t width,
                                   std::int32_t height) {
    geometry::ViewCamera view;
    const float t = std::tan(camera.fov * 0.5f);
    const float n = camera.near;
    view.projection = geometry::frustum(-n * t, n * t, -n * t, n * t, n, camera.far);
    view.viewport = pixelEdgeViewport(width, height);
    view.pos = camera.pos;
    view.dir = camera.dir;
    view.up = camera.up;
    view.near = camera.near;
    view.far = camera.far;
    view.fov = camera.fov;
    return view;
}

geometry::Camera referenceCamera(const PinholeCamera& camera, std::int32_t width,
                                 std::int32_t height) {
    geometry::Camera record;
    record.setPerspective(camera.pos, camera.dir, camera.up, camera.fov, camera.near, camera.near,
                          camera.far, width, height);
    return record;
}

void castRange(const PinholeCamera& camera, const Scene& scene, float& tNear, float& tFar) {
    const float radius = std::max(scene.bounds().radius(), 1e-6f);
    tNear = camera.near > 0.0f ? camera.near : 1e-6f * radius;
    tFar = camera.far > 0.0f ? camera.far : std::numeric_limits<float>::infinity();
}

}  // namespace strata::maker
